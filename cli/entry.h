// The process entry: the argument check, the usage line and the exit status.
#pragma once

// Runs hwpurge on an argument vector (program name first) and returns the
// exit status: 0 after a removal run, 2 when the pass did not run.
int RunCommandLine(int argc, char** argv);
