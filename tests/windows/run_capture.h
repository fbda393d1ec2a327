// Runs of a program by the Windows check programs: an exact command line,
// standard output and error captured in files, so that their bytes arrive as
// the program wrote them, and a time limit.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>

namespace checkrun {

struct Run {
    bool started;
    bool timedOut;  // ended by the caller's limit, with status 99
    DWORD exitCode;
    std::string out;
    std::string err;
    std::string why;  // why it did not start, or ""
};

// A program that runs while its caller goes on.
struct Started {
    PROCESS_INFORMATION process;
    HANDLE out;
    HANDLE err;
    std::string why;  // why it did not start, or ""
};

// Starts `program` with exactly `commandLine` in the working directory
// `folder` ("" for the caller's own), with `flags` for CreateProcessA; its
// output goes to stdout.bin and stderr.bin in the folder `scratch`.
Started Start(const std::string& program, const std::string& commandLine, const std::string& scratch,
              const std::string& folder = "", DWORD flags = 0);
// Waits up to `timeoutMs` for a started program to end (then ends it) and
// answers what it did.
Run Finish(Started* started, DWORD timeoutMs = 60000);
// Start, then Finish.
Run RunCaptured(const std::string& program, const std::string& commandLine, const std::string& scratch,
                const std::string& folder = "", DWORD timeoutMs = 60000);

}  // namespace checkrun
