// The simulated registry functions, for the one kind of key the programs
// open: a node's driver key, from SetupDiOpenDevRegKey. They answer with
// their result, as Windows' registry functions do (Learn: RegQueryValueExA
// function, RegCloseKey function). Assumption: they leave the thread's last
// error alone.
#include <cstring>
#include <memory>

#include "platform/host/machine.h"

namespace hwsim {
namespace {

OpenKey* FindKey(HKEY handle)
{
    auto* key = static_cast<OpenKey*>(handle);
    return Machine().keys.count(key) != 0 ? key : nullptr;
}

}  // namespace
}  // namespace hwsim

using hwsim::Op;

// Windows' own signature, lpReserved not const included.
LSTATUS RegQueryValueExA(HKEY hKey, LPCSTR lpValueName,
                         // cppcheck-suppress constParameter
                         LPDWORD lpReserved,  // NOLINT(readability-non-const-parameter)
                         LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData)
{
    const hwsim::MachineState& state = hwsim::BootedMachine(__func__);
    const hwsim::OpenKey* key = hwsim::FindKey(hKey);
    const long index = key != nullptr ? key->index : hwsim::kNever;
    const DWORD offered = lpcbData != nullptr ? *lpcbData : 0;
    auto answer = [&](LSTATUS status) {
        hwsim::Record(Op::RegQueryValue, index, offered, status == ERROR_SUCCESS, lpData,
                      lpcbData != nullptr ? *lpcbData : 0);
        return status;
    };
    // Assumption: as RegCloseKey answers a handle it does not know (Wine:
    // test_reg_close_key).
    if (key == nullptr) {
        return answer(ERROR_INVALID_HANDLE);
    }
    // Learn: RegQueryValueExA function: lpReserved must be NULL, and the size
    // may be left out only when the data is. Refused forms.
    if (lpReserved != nullptr || (lpData != nullptr && lpcbData == nullptr)) {
        return answer(ERROR_INVALID_PARAMETER);
    }
    // Scripted: regvalue@K.
    if (state.faults.valueFailAt == index) {
        return answer(static_cast<LSTATUS>(state.faults.valueError));
    }
    // Names compare without regard to ASCII case. Learn: Structure of the
    // Registry says so of key names; for value names, and for letters beyond
    // ASCII, it is an assumption.
    const auto found = key->key->values.find(hwsim::FoldedName(lpValueName != nullptr ? lpValueName : ""));
    // Learn: RegQueryValueExA function; Wine: test_query_value_ex. Assumption:
    // *lpcbData is left alone, which Learn leaves undefined (Windows sets 0
    // when lpData is NULL: Wine: test_query_value_ex).
    if (found == key->key->values.end()) {
        return answer(ERROR_FILE_NOT_FOUND);
    }
    const hwsim::RegValue& value = found->second;
    const auto size = static_cast<DWORD>(value.data.size());
    if (lpType != nullptr) {
        *lpType = value.type;
    }
    // Learn: RegQueryValueExA function; Wine: test_query_value_ex.
    if (lpData == nullptr) {
        if (lpcbData != nullptr) {
            *lpcbData = size;
        }
        return answer(ERROR_SUCCESS);
    }
    // Learn: RegQueryValueExA function (the size needed); Wine:
    // test_string_termination (the error).
    if (*lpcbData < size) {
        *lpcbData = size;
        return answer(ERROR_MORE_DATA);
    }
    if (size != 0) {
        // The value's own bytes: a string's terminator is among them.
        // Assumption: a string stored without one is copied as it is; Windows
        // adds it when there is room (Wine: test_string_termination).
        memcpy(lpData, value.data.data(), size);  // NOLINT(bugprone-not-null-terminated-result)
    }
    *lpcbData = size;
    return answer(ERROR_SUCCESS);
}

LSTATUS RegCloseKey(HKEY hKey)
{
    hwsim::MachineState& state = hwsim::BootedMachine(__func__);
    hwsim::OpenKey* key = hwsim::FindKey(hKey);
    // Wine: test_reg_close_key (a NULL handle).
    if (key == nullptr) {
        hwsim::Record(Op::RegCloseKey, hwsim::kNever, 0, false, hKey);
        return ERROR_INVALID_HANDLE;
    }
    // The key is freed last: the call log keeps its handle, and a handle is
    // only ever recorded while the key it names is open.
    std::unique_ptr<hwsim::OpenKey> released(key);
    state.keys.erase(key);
    hwsim::Record(Op::RegCloseKey, key->index, 0, true, hKey);
    return ERROR_SUCCESS;
}
