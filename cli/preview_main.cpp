// hwpurge-preview's start, called by the platform's main: the narrow code
// page is fixed before anything else looks at a string, then the entry runs.
#include "cli/preview_entry.h"
#include "platform/program_main.h"
#include "removal/hardware_id.h"

int ProgramMain(int argc, char** argv)
{
    TakeNarrowCodePage();
    return RunPreviewCommandLine(argc, argv);
}
