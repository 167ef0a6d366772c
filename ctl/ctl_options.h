// kelcalib-ctl's command line: the command, its options and the usage text.
#ifndef KELCALIB_CTL_CTL_OPTIONS_H
#define KELCALIB_CTL_CTL_OPTIONS_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

enum class CtlCommand { kNone, kList, kWatch, kReset, kApply, kDoctor };

struct CtlOptions {
    CtlCommand command;
    bool help;
    bool version;
    bool json;
    bool all;                 // list: every HID device, not only ours
    bool yes;                 // reset, apply: the user means it
    std::uint16_t index;      // match index among our controllers
    bool indexGiven;          // --index was given (doctor: that controller only)
    std::uint32_t seconds;    // watch: 0 runs until Ctrl-C
    std::uint16_t vendorId;   // KELCALIB_VENDOR_ID unless --vid
    const char* recordsPath;  // apply: null or "-" reads standard input
};

// Exit statuses, as --help documents them.
constexpr int kCtlExitOk = 0;
constexpr int kCtlExitDevice = 1;        // transfer failed or the controller refused
constexpr int kCtlExitUsage = 2;         // bad command line or bad input file
constexpr int kCtlExitNoController = 3;  // no controller of the vendor ID (at that index)
constexpr int kCtlExitPermission = 4;    // the controller exists but may not be opened

// Room for one message line of the tool.
constexpr std::size_t kCtlMessageSize = 1024;

// The --help text, with the vendor ID of this build.
void PrintCtlUsage(std::FILE* out);

// Fills `options` from argv[1..argc-1] (the path points into argv). On a bad
// command line returns false with `error` saying why in one line. --help and
// --version win over everything else on the line.
bool ParseCtlOptions(int argc, const char* const* argv, CtlOptions* options, char* error,
                     std::size_t errorSize);

#endif  // KELCALIB_CTL_CTL_OPTIONS_H
