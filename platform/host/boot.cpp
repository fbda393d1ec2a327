#include "platform/host/boot.h"

#include <cstdlib>
#include <string>

#include "platform/host/code_pages.h"
#include "platform/host/fault_script.h"
#include "platform/host/machine.h"
#include "platform/host/machine_database.h"

namespace hwsim {
namespace {

// HWPURGE_ACP: a decimal number, else the default stays.
void TakeAnsiCodePage()
{
    const char* text = getenv("HWPURGE_ACP");
    if (text == nullptr) {
        return;
    }
    char* end = nullptr;
    const unsigned long value = strtoul(text, &end, 10);
    if (*text >= '0' && *text <= '9' && *end == '\0' && value <= 0xFFFFFFFFul) {
        SetAnsiCodePage(static_cast<UINT>(value));
    }
}

}  // namespace

void Reset()
{
    ResetMachine();
    ResetCodePages();
}

void Boot()
{
    Reset();
    // The code page first: the database's strings are converted to it.
    TakeAnsiCodePage();
    MachineState& state = Machine();
    const char* file = getenv("HWPURGE_DEVICE_DB");
    if (file != nullptr && *file != '\0') {
        UseDatabaseFile(file);
    } else {
        DeviceDatabase sample = SampleMachine();
        state.database = std::move(sample.nodes);
        state.driverKeys = std::move(sample.driverKeys);
    }
    if (const char* script = getenv("HWPURGE_SIM_FAULTS")) {
        std::string reason;
        // A script the machine cannot follow fails the opening of the set,
        // as a broken database file does; the usage checks still run first.
        if (!ParseFaults(script, &state.faults, &reason)) {
            state.faults = Faults();
            state.startError = ERROR_INVALID_PARAMETER;
            state.startMessage = "simulated Windows: HWPURGE_SIM_FAULTS: " + reason;
        }
    }
}

}  // namespace hwsim
