// The host process's start: the simulated machine is started from the
// environment before the program looks at anything.
#include "platform/host/boot.h"
#include "platform/program_main.h"

int main(int argc, char** argv)
{
    hwsim::Boot();
    return ProgramMain(argc, argv);
}
