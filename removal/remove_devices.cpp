#include "removal/remove_devices.h"

#include <cstdio>
#include <cstring>

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
const char kInstallParamsName[] = "GetDeviceInstallParams";
const char kSetInstallParamsName[] = "GetDeviceInstallParams(set)";

struct RemovalRun {
    bool elevationHinted;    // the access-denied hint has been written
    bool setUnreadReported;  // the set's own parameters could not be read, and a report said so
    bool setNeedsRestart;    // the set's own parameters last read say so
    unsigned long restarts;  // removals that finish only when Windows restarts
};

// The install parameters of a member, or of the set itself (no record).
bool NeedsRestart(HDEVINFO set, SP_DEVINFO_DATA* record, bool* needed)
{
    SP_DEVINSTALL_PARAMS_A params;
    memset(&params, 0, sizeof params);
    params.cbSize = sizeof params;
    if (!SetupDiGetDeviceInstallParamsA(set, record, &params)) {
        return false;
    }
    *needed = (params.Flags & (DI_NEEDREBOOT | DI_NEEDRESTART)) != 0;
    return true;
}

// Microsoft's "SetupDiCallClassInstaller function": once it returns TRUE,
// the caller reads the install parameters and, if DI_NEEDREBOOT or
// DI_NEEDRESTART is set, must have the system restarted; "SetupDiRemoveDevice
// function": a device that cannot be stopped leaves at the restart.
void NoteRestart(HDEVINFO set, SP_DEVINFO_DATA* record, RemovalRun* run)
{
    bool needed = false;
    if (NeedsRestart(set, record, &needed)) {
        run->restarts += needed ? 1 : 0;
        return;
    }
    if (GetLastError() != ERROR_NO_SUCH_DEVINST) {
        ReportFailure(kInstallParamsName);
        return;
    }
    // The member is gone for this call too, as a removed member's instance
    // ID is (Wine's test_device_info; Wine answers so here as well). The
    // flags are then "set in the Install Parameter block of the device
    // information set" ("SetupDiRemoveDevice function"): a removal that
    // sets them there counts (one that finds them set already cannot be told
    // apart; the count is then at least one).
    bool whole = false;
    if (!NeedsRestart(set, nullptr, &whole)) {
        if (!run->setUnreadReported) {
            run->setUnreadReported = true;
            ReportFailure(kSetInstallParamsName);
        }
        return;
    }
    if (whole && !run->setNeedsRestart) {
        ++run->restarts;
    }
    run->setNeedsRestart = whole;
}

void RemoveDevice(HDEVINFO set, SP_DEVINFO_DATA* record, const char* entry, size_t length, void* context)
{
    auto* run = static_cast<RemovalRun*>(context);
    printf(" Removed: KIVO Device with ID [%.*s] \n", static_cast<int>(length), entry);
    if (SetupDiCallClassInstaller(DIF_REMOVE, set, record)) {
        NoteRestart(set, record, run);
    } else {
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
    RemovalRun run = {false, false, false, 0};
    WalkMatchingDevices(identifier, RemoveDevice, &run);
    // Standard output stays as it always was: callers rely on it. The one
    // fixed line a fleet engine looks for to ask for the restart goes last
    // on standard error.
    if (run.restarts != 0) {
        fprintf(stderr, "hwpurge: %lu device node%s removed when Windows restarts\n", run.restarts,
                run.restarts == 1 ? " is" : "s are");
    }
}
