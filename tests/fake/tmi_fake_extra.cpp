// Names a newer library might export besides the 39; railmon must ignore them.
#include "tmi_api.h"

TMI_API_EXPORT int TMI_Reserved1(int)
{
    return 0;
}
TMI_API_EXPORT int TMI_VoltageX(int, unsigned char, double)
{
    return 0;
}
