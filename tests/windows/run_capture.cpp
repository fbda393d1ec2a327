#include "tests/windows/run_capture.h"

#include <vector>

namespace checkrun {
namespace {

HANDLE CreateCapture(const std::string& path)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string ReadCapture(HANDLE file)
{
    std::string bytes;
    if (file == INVALID_HANDLE_VALUE) {
        return bytes;
    }
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) {
        bytes.append(chunk, got);
    }
    CloseHandle(file);
    return bytes;
}

}  // namespace

Started Start(const std::string& program, const std::string& commandLine, const std::string& scratch,
              const std::string& folder, DWORD flags)
{
    Started started = {{}, CreateCapture(scratch + "\\stdout.bin"), CreateCapture(scratch + "\\stderr.bin"), ""};
    if (started.out == INVALID_HANDLE_VALUE || started.err == INVALID_HANDLE_VALUE) {
        started.why = "cannot create the capture files in " + scratch;
        return started;
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = started.out;
    startup.hStdError = started.err;
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    if (!CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, TRUE, flags, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &started.process)) {
        started.why = "CreateProcessA failed with error " + std::to_string(GetLastError()) + " for: " + commandLine;
    }
    return started;
}

Run Finish(Started* started, DWORD timeoutMs)
{
    Run run = {started->why.empty(), false, 0, "", "", started->why};
    if (run.started) {
        if (WaitForSingleObject(started->process.hProcess, timeoutMs) != WAIT_OBJECT_0) {
            run.timedOut = true;
            TerminateProcess(started->process.hProcess, 99);
            WaitForSingleObject(started->process.hProcess, INFINITE);
        }
        GetExitCodeProcess(started->process.hProcess, &run.exitCode);
        CloseHandle(started->process.hProcess);
        CloseHandle(started->process.hThread);
    }
    run.out = ReadCapture(started->out);
    run.err = ReadCapture(started->err);
    return run;
}

Run RunCaptured(const std::string& program, const std::string& commandLine, const std::string& scratch,
                const std::string& folder, DWORD timeoutMs)
{
    Started started = Start(program, commandLine, scratch, folder);
    return Finish(&started, timeoutMs);
}

}  // namespace checkrun
