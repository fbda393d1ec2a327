// Where a program meets its platform. Each program's cli/ file defines
// ProgramMain; each platform's main (platform/windows/main.cpp,
// platform/host/main.cpp) starts the platform and then calls it.
#pragma once

// Runs the program on its argument vector (program name first) and returns
// the process's exit status.
int ProgramMain(int argc, char** argv);
