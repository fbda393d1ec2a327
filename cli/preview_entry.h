// hwpurge-preview's entry: its command line and exit status.
#pragma once

// Runs hwpurge-preview on an argument vector (program name first) and
// returns the exit status: 0 when no node would be removed, 1 when at least
// one would, 2 on a wrong command line or an empty identifier, 3 when a
// failure kept it from examining every node.
int RunPreviewCommandLine(int argc, char** argv);
