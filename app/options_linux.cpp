#include "app/options_linux.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/session_state.h"
#include "app/vendor_id.h"
#include "device/name_text.h"

#ifndef KELCALIB_VERSION
#define KELCALIB_VERSION "0.0.0"
#endif

namespace {

void PrintUsage() {
    std::printf(
        "usage: kelcalib [--display N] [--device /dev/hidrawN | --index N] [--vid VID]\n"
        "                [--misclick PX] [--persist]\n"
        "       kelcalib --identify [--json] [--vid VID]\n"
        "       kelcalib --list-displays | --help | --version\n"
        "\n"
        "Four-point calibration of a USB HID touch controller (vendor ID 0x%04X); the\n"
        "calibration is kept in the controller itself. Touch the four targets, then\n"
        "answer whether the cursor now follows your finger. Esc quits without a change.\n"
        "\n"
        "  --display N      calibrate the touch screen on display N (default 0, the\n"
        "                   primary display)\n"
        "  --device PATH    the controller at this hidraw node (or a link to one)\n"
        "  --index N        the controller N of the vendor ID, counted from 0 in node\n"
        "                   order as kelcalib-ctl list numbers them (default 0)\n"
        "  --vid VID        controllers of this USB vendor ID, in hexadecimal such as\n"
        "                   0x1234 (default 0x%04X, the build's)\n"
        "  --misclick PX    start the targets again when one touch lies more than PX\n"
        "                   pixels, across or down, from where the other three put it\n"
        "                   (default %d; 0: no check)\n"
        "  --persist        on X11, as root: write the X configuration that keeps the\n"
        "                   touch on the display after Yes (without it, it is printed)\n"
        "  --identify       show \"touch this screen\" on each display in turn and print\n"
        "                   which controller is on which display (--json: as JSON)\n"
        "  --list-displays  list the displays with their numbers and bounds\n"
        "  --help           this text\n"
        "  --version        the program's version\n"
        "\n"
        "Exit status: 0 calibrated and committed; 1 not started (another copy, no display,\n"
        "no screen); 2 a bad option; 3 no controller (none, in use, or unplugged); 4 the\n"
        "controller may not be opened by this user; 5 abandoned (Esc, a close request, a\n"
        "signal, the display lost); 6 the controller refused the records or the commit.\n",
        static_cast<unsigned>(KELCALIB_VENDOR_ID), static_cast<unsigned>(KELCALIB_VENDOR_ID),
        kDefaultMisclickPx);
}

int BadOption(const char* what, const char* value) {
    char shown[4 * 60 + 1];  // the word as printable text
    TakeName(value, std::strlen(value) < 60 ? std::strlen(value) : 60, shown, sizeof shown);
    std::fprintf(stderr, "kelcalib: %s '%s' (see kelcalib --help)\n", what, shown);
    return kExitBadOption;
}

// A decimal number 0..most, digits only.
bool ParseNumber(const char* value, long most, long* number) {
    char* end = nullptr;
    errno = 0;
    *number = std::strtol(value, &end, 10);
    return value[0] >= '0' && value[0] <= '9' && *end == '\0' && errno == 0 && *number <= most;
}

// The value of `--name V` or `--name=V` at argv[*i]; null when argv[*i] is
// another option. `*missing` when the value is not there.
const char* ValueOf(const char* name, int argc, char** argv, int* i, bool* missing) {
    const std::size_t length = std::strlen(name);
    const char* arg = argv[*i];
    if (std::strncmp(arg, name, length) != 0) return nullptr;
    if (arg[length] == '=') return arg + length + 1;
    if (arg[length] != '\0') return nullptr;
    if (*i + 1 >= argc) {
        *missing = true;
        return nullptr;
    }
    return argv[++*i];
}

}  // namespace

int ParseKelcalibOptions(int argc, char** argv, KelcalibOptions* options) {
    *options = KelcalibOptions{};
    options->vendorId = static_cast<std::uint16_t>(KELCALIB_VENDOR_ID);
    options->misclickPx = kDefaultMisclickPx;
    bool displayGiven = false;
    bool misclickGiven = false;
    bool indexGiven = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            PrintUsage();
            return 0;
        }
        if (std::strcmp(arg, "--version") == 0) {
            std::printf("kelcalib %s\n", KELCALIB_VERSION);
            return 0;
        }
        bool* flag = std::strcmp(arg, "--list-displays") == 0 ? &options->listDisplays
                     : std::strcmp(arg, "--identify") == 0    ? &options->identify
                     : std::strcmp(arg, "--json") == 0        ? &options->json
                     : std::strcmp(arg, "--persist") == 0     ? &options->persist
                                                              : nullptr;
        if (flag != nullptr) {
            *flag = true;
            continue;
        }
        bool missing = false;
        long number = 0;
        if (const char* value = ValueOf("--display", argc, argv, &i, &missing)) {
            if (!ParseNumber(value, 255, &number)) {
                return BadOption("--display takes a display number, not", value);
            }
            options->display = static_cast<int>(number);
            displayGiven = true;
        } else if (const char* value = ValueOf("--index", argc, argv, &i, &missing)) {
            if (!ParseNumber(value, 65535, &number)) {
                return BadOption("--index takes a controller number 0..65535, not", value);
            }
            options->controller.index = static_cast<std::uint16_t>(number);
            indexGiven = true;
        } else if (const char* value = ValueOf("--vid", argc, argv, &i, &missing)) {
            if (!ParseVendorId(value, &options->vendorId)) {
                return BadOption("--vid takes a vendor ID in hexadecimal such as 0x1234, not", value);
            }
        } else if (const char* value = ValueOf("--misclick", argc, argv, &i, &missing)) {
            if (!ParseNumber(value, 1000, &number)) {
                return BadOption("--misclick takes pixels 0..1000, not", value);
            }
            options->misclickPx = static_cast<int>(number);
            misclickGiven = true;
        } else if (const char* value = ValueOf("--device", argc, argv, &i, &missing)) {
            if (value[0] == '\0') return BadOption("--device takes a device node, not", value);
            options->controller.device = value;
        } else if (missing) {
            return BadOption("missing value after", arg);
        } else {
            return BadOption("unknown option", arg);
        }
    }
    if (indexGiven && options->controller.device != nullptr) {
        return BadOption("give --device or --index, not both:", "--index");
    }
    if (options->json && !options->identify) {
        return BadOption("--json goes with", "--identify");
    }
    if (options->identify && (displayGiven || indexGiven || options->persist || misclickGiven ||
                              options->controller.device != nullptr)) {
        return BadOption("--identify looks at every display and controller; it takes only",
                         "--json and --vid");
    }
    return -1;
}
