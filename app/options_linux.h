// The Linux program's command line.
#ifndef KELCALIB_APP_OPTIONS_LINUX_H
#define KELCALIB_APP_OPTIONS_LINUX_H

#include "app/controller_choice_linux.h"
#include "app/exit_status_linux.h"

#include <cstdint>

// A touch this many pixels, across or down, from where the other three put
// it is taken for a misclick (--misclick; 0 turns the check off).
constexpr int kDefaultMisclickPx = 15;

struct KelcalibOptions {
    int display;              // --display, 0 by default
    std::uint16_t vendorId;   // --vid, the build's vendor ID by default
    int misclickPx;           // --misclick
    bool listDisplays;        // --list-displays
    bool identify;            // --identify
    bool json;                // --json (with --identify)
    bool persist;             // --persist: write the X configuration (root)
    ControllerChoice controller;  // --device or --index
};

// Fills `options` from the command line. Returns -1 to go on, else the exit
// code: 0 after --help or --version (printed), kExitBadOption after one
// line on stderr for a bad option.
int ParseKelcalibOptions(int argc, char** argv, KelcalibOptions* options);

#endif  // KELCALIB_APP_OPTIONS_LINUX_H
