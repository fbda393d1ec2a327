// The fault script the host program reads from HWPURGE_SIM_FAULTS: items
// separated by commas, each a fault name with an optional @node index and
// an optional =number, such as "read@2=5,remove=5".
#pragma once

#include <string>

#include "platform/host/machine.h"

namespace hwsim {

// Parses `script` into *faults; false with a reason on error.
bool ParseFaults(const std::string& script, Faults* faults, std::string* reason);

}  // namespace hwsim
