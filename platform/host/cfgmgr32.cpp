// The simulated configuration manager: whether a device node is in the device
// tree now. A node is there while it is present (its export has the Control
// subkey Windows keeps only for started devices) and has not been removed.
// Other states (a problem, a removal waiting for a restart) and failures come
// from the fault script only: an export holds nothing that says so.
#include "platform/host/machine.h"

namespace {

// What Windows reports for a started node with a driver.
const ULONG kStartedStatus = DN_DRIVER_LOADED | DN_STARTED;

}  // namespace

CONFIGRET CM_Get_DevNode_Status(PULONG pulStatus, PULONG pulProblemNumber, DEVINST dnDevInst, ULONG ulFlags)
{
    const hwsim::MachineState& state = hwsim::BootedMachine(__func__);
    if (pulStatus == nullptr || pulProblemNumber == nullptr) {
        return CR_INVALID_POINTER;
    }
    if (ulFlags != 0) {
        return CR_INVALID_FLAG;
    }
    const hwsim::Node* node = hwsim::NodeOfDevInst(dnDevInst);
    if (node == nullptr) {
        return CR_INVALID_DEVNODE;
    }
    const long position = static_cast<long>(dnDevInst) - 1;
    if (state.faults.devNodeFailAt == position) {
        return state.faults.devNodeResult;
    }
    if (!node->present || node->removed) {
        return CR_NO_SUCH_DEVNODE;
    }
    *pulStatus = kStartedStatus;
    *pulProblemNumber = 0;
    if (state.faults.statusAt == position) {
        *pulStatus |= state.faults.statusFlags;
    }
    if (state.faults.problemAt == position) {
        *pulStatus |= DN_HAS_PROBLEM;
        *pulProblemNumber = state.faults.problem;
    }
    return CR_SUCCESS;
}
