#include "cli/preview_entry.h"

#include <cstdio>
#include <cstring>

#include "removal/preview_devices.h"

int RunPreviewCommandLine(int argc, char** argv)
{
    const bool json = argc == 3 && strcmp(argv[1], "--json") == 0;
    // No hardware ID begins with "--": such an argument is a mistyped option,
    // and listing nothing for it would tell a fleet that nothing is there.
    if (argc < 2 || (argc != 2 && !json) || strncmp(argv[argc - 1], "--", 2) == 0) {
        fprintf(stderr, "usage: hwpurge-preview [--json] <Hardware_ID>\n");
        return 2;
    }
    const char* identifier = argv[argc - 1];
    if (identifier[0] == '\0') {
        fprintf(stderr, "hwpurge-preview: the hardware ID is empty; it would match every device node\n");
        return 2;
    }
    PreviewResult result = {};
    PreviewDevicesByHardwareId(identifier, json ? kPreviewJson : kPreviewText, &result);
    if (!result.complete || !result.detailsComplete) {
        return 3;
    }
    if (result.listed > result.waiting) {
        return 1;
    }
    // Every node listed is already removed but for a restart: nothing for
    // hwpurge to do, and nothing to ask a fleet to remedy but the restart.
    return result.listed != 0 ? 4 : 0;
}
