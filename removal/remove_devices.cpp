#include "removal/remove_devices.h"

#include <cstdio>

#include "platform/platform.h"
#include "removal/device_walk.h"
#include "removal/report_failure.h"

namespace {

const char* const kBanner[] = {
    "**************************************************\n", "*                                                *\n",
    "*  KIVO 4100, KIVO 720 Driver UnInstall Program. *\n", "*                                                *\n",
    "*           Please Wait For Completion.          *\n", "*                                                *\n",
    "**************************************************\n",
};

const char kRemoveName[] = "CallClassInstaller(REMOVE)";

struct RemovalRun {
    bool elevationHinted;  // the access-denied hint has been written
};

void RemoveDevice(HDEVINFO set, SP_DEVINFO_DATA* record, const char* entry, size_t length, void* context)
{
    auto* run = static_cast<RemovalRun*>(context);
    printf(" Removed: KIVO Device with ID [%.*s] \n", static_cast<int>(length), entry);
    if (!SetupDiCallClassInstaller(DIF_REMOVE, set, record)) {
        ReportFailure(kRemoveName);
        // The usual cause by far: hwpurge was started without elevation.
        if (GetLastError() == ERROR_ACCESS_DENIED && !run->elevationHinted) {
            run->elevationHinted = true;
            fprintf(stderr,
                    "hwpurge: removing devices needs administrator rights; "
                    "run hwpurge from an elevated prompt\n");
        }
    }
}

}  // namespace

void RemoveDevicesByHardwareId(const char* identifier)
{
    for (const char* line : kBanner) {
        printf("%s", line);
    }
    RemovalRun run = {false};
    WalkMatchingDevices(identifier, RemoveDevice, &run);
}
