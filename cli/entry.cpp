#include "cli/entry.h"

#include <cstdio>

#include "removal/remove_devices.h"

int RunCommandLine(int argc, char** argv)
{
    if (argc != 2) {
        printf("usage: hwpurge <Hardware_ID> \n");
        return 2;
    }
    const char* identifier = argv[1];
    // An empty identifier is a prefix of every hardware ID: it would remove
    // every device on the machine.
    if (identifier[0] == '\0') {
        fprintf(stderr, "hwpurge: the hardware ID is empty; nothing was removed\n");
        return 2;
    }
    RemoveDevicesByHardwareId(identifier);
    return 0;
}
