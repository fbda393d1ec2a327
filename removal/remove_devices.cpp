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

// What install parameters say of a restart.
enum Restart {
    kNoRestart,
    kRestart,
    kRestartUnknown,  // they could not be read
};

struct RemovalRun {
    bool elevationHinted;    // the access-denied hint has been written
    bool setRead;            // the set's own parameters were read before the first removal
    bool setUnreadReported;  // ...or could not be, and a report said so
    Restart setState;        // what they said when last read
    unsigned long restarts;  // removals that finish only when Windows restarts
    unsigned long unknown;   // removals of which Windows did not say
};

// The install parameters of a member, or of the set itself (no record).
Restart ReadRestart(HDEVINFO set, SP_DEVINFO_DATA* record)
{
    SP_DEVINSTALL_PARAMS_A params;
    memset(&params, 0, sizeof params);
    params.cbSize = sizeof params;
    if (!SetupDiGetDeviceInstallParamsA(set, record, &params)) {
        return kRestartUnknown;
    }
    return (params.Flags & (DI_NEEDREBOOT | DI_NEEDRESTART)) != 0 ? kRestart : kNoRestart;
}

// The set's own parameters, reported once a run when they cannot be read.
Restart ReadSetRestart(HDEVINFO set, RemovalRun* run)
{
    const Restart state = ReadRestart(set, nullptr);
    if (state == kRestartUnknown && !run->setUnreadReported) {
        run->setUnreadReported = true;
        ReportFailure(kSetInstallParamsName);
    }
    return state;
}

// Microsoft's "SetupDiCallClassInstaller function": once it returns TRUE,
// the caller reads the install parameters and, if DI_NEEDREBOOT or
// DI_NEEDRESTART is set, must have the system restarted. "SetupDiRemoveDevice
// function": a device that cannot be stopped leaves at the restart, the flags
// being set "in the Install Parameter block of the device information set".
// So both are read: the member's, and the set's own, which count for this
// removal when they came to ask for a restart with it.
void NoteRestart(HDEVINFO set, SP_DEVINFO_DATA* record, RemovalRun* run)
{
    const Restart member = ReadRestart(set, record);
    // A removed member's instance ID answers ERROR_NO_SUCH_DEVINST (Wine's
    // test_device_info); that its install parameters may too is assumed
    // (Wine answers so), and then only the set's tell.
    if (member == kRestartUnknown && GetLastError() != ERROR_NO_SUCH_DEVINST) {
        ReportFailure(kInstallParamsName);
    }
    const Restart before = run->setState;
    const Restart whole = ReadSetRestart(set, run);
    if (whole != kRestartUnknown) {
        run->setState = whole;
    }
    if (member == kRestart || (whole == kRestart && before != kRestart)) {
        ++run->restarts;
    } else if (member == kRestartUnknown && whole != kNoRestart) {
        ++run->unknown;
    }
}

void RemoveDevice(HDEVINFO set, SP_DEVINFO_DATA* record, const char* entry, size_t length, void* context)
{
    auto* run = static_cast<RemovalRun*>(context);
    printf(" Removed: KIVO Device with ID [%.*s] \n", static_cast<int>(length), entry);
    // What the set's own parameters say before any removal, so that a
    // removal is told by what it changes in them.
    if (!run->setRead) {
        run->setRead = true;
        run->setState = ReadSetRestart(set, run);
    }
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
    RemovalRun run = {false, false, false, kRestartUnknown, 0, 0};
    WalkMatchingDevices(identifier, RemoveDevice, &run);
    // Standard output stays as it always was: callers rely on it. The fixed
    // lines a fleet engine looks for to ask for the restart go last on
    // standard error: what Windows said, then what it did not say.
    if (run.restarts != 0) {
        fprintf(stderr, "hwpurge: %lu device node%s removed when Windows restarts\n", run.restarts,
                run.restarts == 1 ? " is" : "s are");
    }
    if (run.unknown != 0) {
        fprintf(stderr, "hwpurge: %lu device node%s may be removed only when Windows restarts\n", run.unknown,
                run.unknown == 1 ? "" : "s");
    }
}
