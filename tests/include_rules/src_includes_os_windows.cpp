// Application code may not reach past the file calls' contract into the
// platform's own Windows header.
#include "os_windows.h"
