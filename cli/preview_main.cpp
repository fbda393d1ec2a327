// hwpurge-preview's process start: the narrow code page is fixed before
// anything else looks at a string, then the entry runs.
#include "cli/preview_entry.h"
#include "removal/hardware_id.h"

int main(int argc, char** argv)
{
    TakeNarrowCodePage();
    return RunPreviewCommandLine(argc, argv);
}
