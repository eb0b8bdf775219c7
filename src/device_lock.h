// One railmon per supply: a second one commanding the same device would
// fight the first over its outputs. The lock is named after the device
// address and held until the process ends.
#pragma once

#include <string>

// Takes the lock for the supply at `address`. False, with the holder's
// process number in `holder`, when another railmon holds it; a lock that
// cannot be made at all is reported on stdout and not insisted on.
bool lockDevice(const char* address, std::string& holder);
