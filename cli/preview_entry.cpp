#include "cli/preview_entry.h"

#include <cstdio>
#include <cstring>

#include "preview/preview_devices.h"

namespace {

struct FormatOption {
    const char* name;
    PreviewFormat format;
};

const FormatOption kFormats[] = {
    {"--json", kPreviewJson},
    {"--summary", kPreviewSummary},
    {"--unused-packages", kPreviewUnusedPackages},
};

}  // namespace

int RunPreviewCommandLine(int argc, char** argv)
{
    PreviewFormat format = kPreviewText;
    bool known = argc == 2;
    for (const FormatOption& option : kFormats) {
        if (argc == 3 && strcmp(argv[1], option.name) == 0) {
            format = option.format;
            known = true;
        }
    }
    // No hardware ID begins with "--": such an argument is a mistyped option,
    // and listing nothing for it would tell a fleet that nothing is there.
    if (!known || strncmp(argv[argc - 1], "--", 2) == 0) {
        fprintf(stderr, "usage: hwpurge-preview [--json | --summary | --unused-packages] <Hardware_ID>\n");
        return 2;
    }
    const char* identifier = argv[argc - 1];
    if (identifier[0] == '\0') {
        fprintf(stderr, "hwpurge-preview: the hardware ID is empty; it would match every device node\n");
        return 2;
    }
    PreviewResult result = {};
    PreviewDevicesByHardwareId(identifier, format, &result);
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
