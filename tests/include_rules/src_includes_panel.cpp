// Application code may not reach into the runtime's own headers.
#include "panel_registry.h"
