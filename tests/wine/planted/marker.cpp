// A stand-in DLL: loaded into a process, it appends one line, its own path
// and the process's program, to planted.log in its own folder, and does
// nothing else. Copied under the name of each DLL a planted-DLL attack would
// use. Built without the C runtime, so that it needs nothing but kernel32.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

extern "C" BOOL WINAPI MarkerEntry(HINSTANCE self, DWORD reason, LPVOID /*reserved*/)
{
    if (reason != DLL_PROCESS_ATTACH) {
        return TRUE;
    }
    char dll[MAX_PATH];
    char program[MAX_PATH];
    char log[MAX_PATH + 16];
    char line[2 * MAX_PATH + 8];
    const DWORD length = GetModuleFileNameA(self, dll, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return TRUE;
    }
    if (GetModuleFileNameA(nullptr, program, MAX_PATH) == 0) {
        program[0] = '\0';
    }
    lstrcpyA(log, dll);
    char* name = log;
    for (char* at = log; *at != '\0'; ++at) {
        if (*at == '\\') {
            name = at + 1;
        }
    }
    lstrcpyA(name, "planted.log");
    lstrcpyA(line, dll);
    lstrcatA(line, "|");  // no path holds it
    lstrcatA(line, program);
    lstrcatA(line, "\r\n");
    HANDLE file = CreateFileA(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, line, static_cast<DWORD>(lstrlenA(line)), &written, nullptr);
        CloseHandle(file);
    }
    return TRUE;
}
