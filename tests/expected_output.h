// What hwpurge writes, byte for byte, as the tests expect it on the host.
#pragma once

#include <string>

namespace hwtest {

const std::string kBanner =
    "**************************************************\n"
    "*                                                *\n"
    "*  KIVO 4100, KIVO 720 Driver UnInstall Program. *\n"
    "*                                                *\n"
    "*           Please Wait For Completion.          *\n"
    "*                                                *\n"
    "**************************************************\n";

const std::string kUsage = "usage: hwpurge <Hardware_ID> \n";

const std::string kElevationHint =
    "hwpurge: removing devices needs administrator rights; run hwpurge from an elevated prompt\n";

inline std::string RemovalLine(const std::string& entry)
{
    return " Removed: KIVO Device with ID [" + entry + "] \n";
}

}  // namespace hwtest
