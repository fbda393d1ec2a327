// The simulated kernel32's base services: the last-error value, the local
// heap, and the system's message texts.
#include <cstring>
#include <map>
#include <string>

#include "platform/host/machine.h"

namespace hwsim {
namespace {

const std::map<DWORD, const char*>& MessageTexts()
{
    // Windows' own texts (Learn: System Error Codes (0-499), (1000-1299),
    // (1700-3999)). Assumption: 8 and 14 say "memory resources" where Learn
    // still says "storage", and each text ends with CR LF; FormatMessage's
    // answer on Windows 10 or later would show either wrong.
    static const std::map<DWORD, const char*> texts = {
        {0, "The operation completed successfully.\r\n"},
        {1, "Incorrect function.\r\n"},
        {2, "The system cannot find the file specified.\r\n"},
        {3, "The system cannot find the path specified.\r\n"},
        {5, "Access is denied.\r\n"},
        {6, "The handle is invalid.\r\n"},
        {8, "Not enough memory resources are available to process this command.\r\n"},
        {13, "The data is invalid.\r\n"},
        {14, "Not enough memory resources are available to complete this operation.\r\n"},
        {21, "The device is not ready.\r\n"},
        {31, "A device attached to the system is not functioning.\r\n"},
        {34, "The wrong diskette is in the drive.\r\nInsert %2 (Volume Serial Number: %3) into drive %1.\r\n"},
        {87, "The parameter is incorrect.\r\n"},
        {122, "The data area passed to a system call is too small.\r\n"},
        {193, "%1 is not a valid Win32 application.\r\n"},
        {259, "No more data is available.\r\n"},
        {1168, "Element not found.\r\n"},
        {1784, "The supplied user buffer is not valid for the requested operation.\r\n"},
    };
    return texts;
}

}  // namespace
}  // namespace hwsim

using hwsim::Op;

// Learn: GetLastError function (one value per thread, set by SetLastError).
DWORD GetLastError()
{
    return hwsim::LastError();
}

void SetLastError(DWORD dwErrCode)
{
    hwsim::LastError() = dwErrCode;
}

HLOCAL LocalAlloc(UINT uFlags, SIZE_T uBytes)
{
    hwsim::MachineState& state = hwsim::BootedMachine(__func__);
    const long count = state.programAllocations++;
    void* block = nullptr;
    // Fixed blocks only, zeroed or not (Learn: LocalAlloc function: LPTR is
    // LMEM_FIXED | LMEM_ZEROINIT; NULL on failure): moveable, discardable and
    // the other kinds are forms nobody here uses.
    if ((uFlags & ~static_cast<UINT>(LMEM_ZEROINIT)) != LMEM_FIXED) {
        hwsim::Fail(ERROR_INVALID_PARAMETER);
    } else if (count == state.faults.allocFailAt ||
               (state.faults.allocFailFrom != hwsim::kNever && count >= state.faults.allocFailFrom)) {
        hwsim::Fail(state.faults.allocError);
    } else {
        // Wine: test_LocalAlloc (not todo_wine): LMEM_ZEROINIT zeroes it.
        block = hwsim::AllocateBlock(uBytes);
        if (block == nullptr) {
            // Assumption: Wine checks this error only for moveable handles.
            hwsim::Fail(ERROR_NOT_ENOUGH_MEMORY);
        }
    }
    hwsim::Record(Op::LocalAlloc, hwsim::kNever, static_cast<DWORD>(uBytes), block != nullptr, block);
    return block;
}

// Wine: test_LocalAlloc (not todo_wine): NULL is taken back as NULL; a freed
// or invalid handle comes back unchanged with ERROR_INVALID_HANDLE.
HLOCAL LocalFree(HLOCAL hMem)
{
    hwsim::MachineState& state = hwsim::BootedMachine(__func__);
    if (hMem == nullptr) {
        hwsim::Record(Op::LocalFree, hwsim::kNever, 0, true, hMem);
        return nullptr;
    }
    if (state.blocks.count(hMem) == 0) {
        hwsim::Fail(ERROR_INVALID_HANDLE);
        hwsim::Record(Op::LocalFree, hwsim::kNever, 0, false, hMem);
        return hMem;
    }
    hwsim::Record(Op::LocalFree, hwsim::kNever, 0, true, hMem);
    hwsim::FreeBlock(hMem);
    return nullptr;
}

DWORD FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId, LPSTR lpBuffer,
                     DWORD nSize, va_list* Arguments)
{
    const hwsim::MachineState& state = hwsim::BootedMachine(__func__);
    // Windows ignores the source with FORMAT_MESSAGE_FROM_SYSTEM alone, and
    // the size is only the least a block it allocates must hold (Learn:
    // FormatMessage function).
    (void)lpSource;
    (void)nSize;
    // Whatever goes wrong, the caller's pointer is not left dangling (Wine:
    // test_message_invalid_flags, not todo_wine).
    if ((dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0 && lpBuffer != nullptr) {
        *reinterpret_cast<char**>(lpBuffer) = nullptr;
    }
    const DWORD supported = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    if ((dwFlags & ~supported) != 0 || (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) == 0 ||
        (dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || lpBuffer == nullptr) {
        hwsim::Fail(ERROR_INVALID_PARAMETER);
        hwsim::Record(Op::FormatMessage, hwsim::kNever, dwMessageId, false);
        return 0;
    }
    // The machine holds its texts in one language: the user's default
    // (neutral, default sublanguage), which is also what 0 finds first.
    // Learn: FormatMessage function (a LANGID without the message:
    // ERROR_RESOURCE_LANG_NOT_FOUND). Assumption: Windows holds its texts
    // under that LANGID too.
    if (dwLanguageId != MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT) && dwLanguageId != 0) {
        hwsim::Fail(ERROR_RESOURCE_LANG_NOT_FOUND);
        hwsim::Record(Op::FormatMessage, hwsim::kNever, dwMessageId, false);
        return 0;
    }
    const auto& texts = hwsim::MessageTexts();
    const auto found = texts.find(dwMessageId);
    const auto& scripted = state.messages;
    const auto set = scripted.find(dwMessageId);
    if (found == texts.end() && set == scripted.end()) {
        // Wine: test_message_from_hmodule (not todo_wine).
        hwsim::Fail(ERROR_MR_MID_NOT_FOUND);
        hwsim::Record(Op::FormatMessage, hwsim::kNever, dwMessageId, false);
        return 0;
    }
    const std::string text = set != scripted.end() ? set->second : std::string(found->second);
    // Windows cannot fill inserts without arguments and refuses the message
    // (Wine: test_message_from_hmodule, not todo_wine). Assumption: with
    // ERROR_INVALID_PARAMETER, an error Wine's check does not read.
    if (text.find('%') != std::string::npos && (dwFlags & FORMAT_MESSAGE_IGNORE_INSERTS) == 0 && Arguments == nullptr) {
        hwsim::Fail(ERROR_INVALID_PARAMETER);
        hwsim::Record(Op::FormatMessage, hwsim::kNever, dwMessageId, false);
        return 0;
    }
    // Learn: FormatMessage function: the block comes from LocalAlloc, for
    // LocalFree; the count returned leaves out the NUL.
    auto* copy = static_cast<char*>(hwsim::AllocateBlock(text.size() + 1));
    if (copy == nullptr) {
        hwsim::Fail(ERROR_NOT_ENOUGH_MEMORY);
        hwsim::Record(Op::FormatMessage, hwsim::kNever, dwMessageId, false);
        return 0;
    }
    memcpy(copy, text.c_str(), text.size() + 1);
    *reinterpret_cast<char**>(lpBuffer) = copy;
    hwsim::Record(Op::FormatMessage, hwsim::kNever, dwMessageId, true, copy);
    return static_cast<DWORD>(text.size());
}
