// What application code includes: its own header and, through it, the
// platform's four contracts.
#include "dynload.h"
#include "osfile.h"
#include "railmon.h"
#include "tmi_api.h"
#include "userint.h"

int includeRuleKept()
{
    return EVENT_COMMIT;
}
