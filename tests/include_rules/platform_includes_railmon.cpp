// The platform (and the tools beside it) may not depend on the application.
#include "railmon.h"
