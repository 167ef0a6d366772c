// Entry point of kelcalib-ctl on Linux.
#include "ctl/ctl_commands.h"

int main(int argc, char** argv) {
    return RunCtl(argc, argv);
}
