// The program's start, called by the platform's main: the narrow code page
// is fixed before anything else looks at a string, then the entry runs.
// Returning from main writes out whatever standard output still holds before
// the process ends.
#include "cli/entry.h"
#include "platform/program_main.h"
#include "removal/hardware_id.h"

int ProgramMain(int argc, char** argv)
{
    TakeNarrowCodePage();
    return RunCommandLine(argc, argv);
}
