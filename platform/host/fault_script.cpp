#include "platform/host/fault_script.h"

#include <algorithm>
#include <cstdlib>

namespace hwsim {

bool ParseFaults(const std::string& script, Faults* faults, std::string* reason)
{
    size_t start = 0;
    while (start < script.size()) {
        size_t end = script.find(',', start);
        if (end == std::string::npos) {
            end = script.size();
        }
        const std::string item = script.substr(start, end - start);
        start = end + 1;
        const size_t equals = item.find('=');
        const size_t at = item.find('@');
        const std::string name = item.substr(0, std::min(at, equals));
        long index = kNever;
        char* rest = nullptr;
        if (at != std::string::npos && at < equals) {
            const size_t indexEnd = equals == std::string::npos ? item.size() : equals;
            index = strtol(item.c_str() + at + 1, &rest, 10);
            if (rest != item.c_str() + indexEnd || indexEnd == at + 1 || index < 0) {
                *reason = "bad node index in '" + item + "'";
                return false;
            }
        }
        unsigned long value = 0;
        if (equals != std::string::npos) {
            value = strtoul(item.c_str() + equals + 1, &rest, 0);
            if (*rest != '\0' || equals + 1 == item.size()) {
                *reason = "bad number in '" + item + "'";
                return false;
            }
        }
        const DWORD code = static_cast<DWORD>(value);
        if (name == "open" && equals != std::string::npos) {
            faults->openError = code;
        } else if (name == "enum" && index != kNever) {
            faults->enumStopAt = index;
            faults->enumStopError = code;
        } else if (name == "read" && index != kNever) {
            faults->readFailAt = index;
            faults->readError = code;
        } else if (name == "grow" && index != kNever) {
            faults->growAt = index;
            faults->growTimes = static_cast<int>(value);
        } else if (name == "remove" && equals != std::string::npos) {
            faults->removeFailAt = index;
            faults->removeFailsAll = index == kNever;
            faults->removeError = code;
        } else if (name == "restart" || name == "restartset") {
            faults->restartAt = index;
            faults->restartAll = index == kNever;
            faults->restartSetOnly = name == "restartset";
            if (equals != std::string::npos) {
                faults->restartFlags = code;
            }
        } else if (name == "installparams" && equals != std::string::npos) {
            faults->installParamsFailAt = index;
            faults->installParamsFailsAll = index == kNever;
            faults->installParamsError = code;
        } else if (name == "setinstallparams" && index == kNever && equals != std::string::npos) {
            faults->setInstallParamsError = code;
        } else if (name == "status" && index != kNever && equals != std::string::npos) {
            faults->statusAt = index;
            faults->statusFlags = code;
        } else if (name == "problem" && index != kNever && equals != std::string::npos) {
            faults->problemAt = index;
            faults->problem = code;
        } else if (name == "devnode" && index != kNever && equals != std::string::npos) {
            faults->devNodeFailAt = index;
            faults->devNodeResult = code;
        } else if (name == "details" && index != kNever && equals != std::string::npos) {
            faults->detailsFailAt = index;
            faults->detailsError = code;
        } else if (name == "driverkey" && index != kNever && equals != std::string::npos) {
            faults->driverKeyFailAt = index;
            faults->driverKeyError = code;
        } else if (name == "regvalue" && index != kNever && equals != std::string::npos) {
            faults->valueFailAt = index;
            faults->valueError = code;
        } else if (name == "alloc" && index != kNever) {
            faults->allocFailAt = index;
            faults->allocError = equals != std::string::npos ? code : ERROR_NOT_ENOUGH_MEMORY;
        } else if (name == "calls" && index == kNever && equals != std::string::npos && value != 0) {
            faults->callLimit = static_cast<size_t>(value);
        } else if (name == "zero-size-too-small" && equals == std::string::npos && at == std::string::npos) {
            faults->zeroByteAnswersInsufficient = true;
        } else {
            *reason = "unknown fault '" + item + "'";
            return false;
        }
    }
    return true;
}

}  // namespace hwsim
