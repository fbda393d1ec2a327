// A program started as hwpurge's programs are (the same entry point and stack
// guard), that shows what the start did: "guard" prints the guard's value,
// "overflow TEXT" copies TEXT into an 8-byte buffer on the stack, "load NAME"
// ends with 1 if LoadLibrary finds the DLL NAME, 0 if not.
#include "platform/program_main.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

extern "C" uintptr_t __stack_chk_guard;

namespace {

// Byte by byte through a volatile pointer, so that the stack protector, and
// not a checked memcpy, is what stops an overflow.
__attribute__((noinline)) size_t CopyOnStack(const char* text)
{
    char buffer[8];
    volatile char* to = buffer;
    size_t length = 0;
    for (; text[length] != '\0'; ++length) {
        to[length] = text[length];
    }
    to[length] = '\0';
    return strlen(buffer);
}

}  // namespace

int ProgramMain(int argc, char** argv)
{
    if (argc == 2 && strcmp(argv[1], "guard") == 0) {
        printf("%llx\n", static_cast<unsigned long long>(__stack_chk_guard));
        return 0;
    }
    if (argc == 3 && strcmp(argv[1], "overflow") == 0) {
        return CopyOnStack(argv[2]) == strlen(argv[2]) ? 0 : 1;
    }
    if (argc == 3 && strcmp(argv[1], "load") == 0) {
        return LoadLibraryA(argv[2]) != nullptr ? 1 : 0;
    }
    return 2;
}
