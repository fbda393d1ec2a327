// hwpurge-preview's entry: its command line and exit status.
#pragma once

// Runs hwpurge-preview on an argument vector (program name first: then
// --json, --summary or --unused-packages, then the identifier) and returns
// the exit status, the same for every form: 0 when no node would be removed,
// 1 when at least one would that does not already wait for a restart, 2 on a
// wrong command line or an empty identifier, 3 when a failure kept it from
// examining every node or reading what it says of one, 4 when every node
// listed already waits for a restart.
int RunPreviewCommandLine(int argc, char** argv);
