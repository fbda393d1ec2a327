// The simulated configuration manager: whether a device node is in the device
// tree now. A node is there while it is present and has not been removed.
// Assumption: present means its export has the volatile Control subkey, which
// Windows keeps for started devices only. Other states (a problem, a removal
// waiting for a restart) and failures come from the fault script only: an
// export holds nothing that says so.
#include "platform/host/machine.h"

namespace {

// Assumption: what Windows reports for a started node with a driver.
const ULONG kStartedStatus = DN_DRIVER_LOADED | DN_STARTED;

}  // namespace

CONFIGRET CM_Get_DevNode_Status(PULONG pulStatus, PULONG pulProblemNumber, DEVINST dnDevInst, ULONG ulFlags)
{
    const hwsim::MachineState& state = hwsim::BootedMachine(__func__);
    // Assumption: the codes named for these faults. Learn:
    // CM_Get_DevNode_Status function has ulFlags zero but names no code.
    if (pulStatus == nullptr || pulProblemNumber == nullptr) {
        return CR_INVALID_POINTER;
    }
    if (ulFlags != 0) {
        return CR_INVALID_FLAG;
    }
    // Assumption: CR_INVALID_DEVNODE for a DevInst that names no node at all.
    const hwsim::Node* node = hwsim::NodeOfDevInst(dnDevInst);
    if (node == nullptr) {
        return CR_INVALID_DEVNODE;
    }
    const long position = static_cast<long>(dnDevInst) - 1;
    // Scripted: devnode@P.
    if (state.faults.devNodeFailAt == position) {
        return state.faults.devNodeResult;
    }
    // Assumption: a node outside the device tree answers CR_NO_SUCH_DEVINST
    // (the same code as CR_NO_SUCH_DEVNODE), a removed one at once, even when
    // its removal waits for a restart. Learn: Determining the Parent of a
    // Device (a removed device's devnode leaves the tree) and
    // CM_Locate_DevNodeA function (only a configured device is in it) name no
    // code for this call.
    if (!node->present || node->removed) {
        return CR_NO_SUCH_DEVNODE;
    }
    *pulStatus = kStartedStatus;
    *pulProblemNumber = 0;
    // Scripted: status@P, problem@P. Learn: CM_Get_DevNode_Status function
    // (the problem number is used only with DN_HAS_PROBLEM, which status@P
    // gives: a number without it is one a caller must not go by).
    if (state.faults.statusAt == position) {
        *pulStatus |= state.faults.statusFlags;
    }
    if (state.faults.problemAt == position) {
        *pulProblemNumber = state.faults.problem;
    }
    return CR_SUCCESS;
}
