// doctor looks at the Linux path from a touch to the cursor (the node, udev,
// the input event devices, X); Windows has none of it.
#include <cstdio>

#include "ctl/ctl_doctor.h"

int RunDoctor(const CtlOptions&) {
    std::fprintf(stderr, "kelcalib-ctl: doctor examines Linux systems only\n");
    return kCtlExitUsage;
}
