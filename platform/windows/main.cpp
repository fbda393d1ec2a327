// The Windows process's start: the platform needs no starting.
#include "platform/program_main.h"

int main(int argc, char** argv)
{
    return ProgramMain(argc, argv);
}
