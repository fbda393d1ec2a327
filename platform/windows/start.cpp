// The process's entry point (the linker's entry, ahead of the C runtime's).
//
// hwpurge runs elevated, often from a download folder. Before any code that
// could load a DLL runs, the runtime's start-up included, the DLL search is
// narrowed to System32, so that a DLL lying beside the program or in the
// current directory is never loaded. Then, with GCC, the stack protector's
// guard is seeded here, from the clock, the process and thread IDs, the tick
// count, the performance counter and the stack's address, as Windows'
// own compilers seed theirs: GCC's libssp would seed it with a crypto
// provider, which loads further DLLs before main. MSVC's runtime seeds its
// cookie itself, without loading anything.
//
// Nothing in this file may be compiled with the stack protector: the guard
// changes while StartProgram runs. The build says so for the whole file
// (-fno-stack-protector; /sdl- /GS- with MSVC, whose /sdl would turn /GS back
// on), and StartProgram says it again for MSVC.
#include <windows.h>

#include <cstdint>

// The C runtime's own entry point for a console program.
extern "C" int mainCRTStartup();

#if defined(__GNUC__)

namespace {

// Stands until StartProgram replaces it; never the seeded value.
constexpr uintptr_t kUnseededGuard = 0x2B992DDFA232;

[[noreturn]] void EndAtOnce(unsigned int code)
{
    // __fastfail: Windows ends the process at once with
    // STATUS_STACK_BUFFER_OVERRUN, running no handler a corrupted stack
    // could have redirected.
    __asm__ volatile("int $0x29" : : "c"(code) : "memory");
    __builtin_unreachable();
}

uintptr_t MixedStartValues()
{
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    uint64_t value = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    value ^= static_cast<uint64_t>(GetCurrentProcessId()) << 32;
    value ^= GetCurrentThreadId();
    value ^= static_cast<uint64_t>(GetTickCount64()) << 24;
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    value ^= (static_cast<uint64_t>(counter.LowPart) << 32) ^ static_cast<uint64_t>(counter.QuadPart);
    // The stack's place differs from run to run under ASLR.
    value ^= reinterpret_cast<uintptr_t>(&now);
    return static_cast<uintptr_t>(value);
}

}  // namespace

extern "C" {

// What GCC's stack protector reads and calls. Defined here, libssp's own
// definitions, and with them its seeding through a crypto provider, are never
// linked in; the checked string functions of _FORTIFY_SOURCE still come from
// libssp and call __chk_fail below.
uintptr_t __stack_chk_guard = kUnseededGuard;

[[noreturn]] void __stack_chk_fail()
{
    EndAtOnce(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE);
}

[[noreturn]] void __chk_fail()
{
    EndAtOnce(FAST_FAIL_RANGE_CHECK_FAILURE);
}

}  // extern "C"

#endif

#if defined(_MSC_VER)
#define HWPURGE_NO_STACK_COOKIE __declspec(safebuffers)
#else
#define HWPURGE_NO_STACK_COOKIE
#endif

extern "C" HWPURGE_NO_STACK_COOKIE int StartProgram()
{
    // Cannot fail for this flag where the function exists; should it, the
    // process ends here, before anything is examined.
    if (!SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        return static_cast<int>(GetLastError());
    }
#if defined(__GNUC__)
    uintptr_t guard = MixedStartValues();
    if (guard == kUnseededGuard) {
        ++guard;
    }
    __stack_chk_guard = guard;
#endif
    return mainCRTStartup();
}
