// Nor into its chart code, which only the platform and the tools use.
#include "strip_chart.h"
