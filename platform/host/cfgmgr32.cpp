// The simulated configuration manager: whether a device node is in the device
// tree now. A node is there while it is present (its export has the Control
// subkey Windows keeps only for started devices) and has not been removed; a
// node whose removal waits for a restart says so in its status and problem.
#include "platform/host/machine.h"

namespace {

// What Windows reports for a started node with a driver.
const ULONG kStartedStatus = DN_DRIVER_LOADED | DN_STARTED;

}  // namespace

CONFIGRET CM_Get_DevNode_Status(PULONG pulStatus, PULONG pulProblemNumber, DEVINST dnDevInst, ULONG ulFlags)
{
    hwsim::BootedMachine(__func__);
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
    if (!node->present || node->removed) {
        return CR_NO_SUCH_DEVNODE;
    }
    *pulStatus = kStartedStatus;
    *pulProblemNumber = 0;
    if (node->removalPending) {
        *pulStatus |= DN_HAS_PROBLEM | DN_WILL_BE_REMOVED;
        *pulProblemNumber = CM_PROB_WILL_BE_REMOVED;
    }
    return CR_SUCCESS;
}
