// kelcalib-ctl's command line. Options may stand before or after the
// command; each may be given once; "--" ends the options.
#include "ctl/ctl_options.h"
#include "app/vendor_id.h"

#include <cstring>

#include "device/name_text.h"

#include "app/session_state.h"

namespace {

constexpr std::uint32_t kMaxSeconds = 86400;

const char kUsageFormat[] =
    "Usage: kelcalib-ctl [--vid VID] [--json] COMMAND [options]\n"
    "\n"
    "Looks at and resets the touch controllers that KelCalib calibrates.\n"
    "\n"
    "Commands:\n"
    "  list [--all]                      the controllers of the vendor ID: device, vendor:product,\n"
    "                                    name, feature report length, logical maxima and the\n"
    "                                    report IDs that answer; --all adds every other HID\n"
    "                                    device and why it is not one\n"
    "  watch [--index N] [--seconds S]   switches the controller to touch packets and prints the\n"
    "                                    raw position whenever it changes, and each lift; after S\n"
    "                                    seconds or at Ctrl-C sends the abort command, which puts\n"
    "                                    the controller back on its committed calibration\n"
    "  reset [--index N] --yes           writes the identity records and commits them: the\n"
    "                                    controller's factory mapping\n"
    "  apply [--index N] --yes [FILE|-]  sends the record-x and record-y lines printed by\n"
    "                                    calib-solve (from FILE, or standard input) and commits\n"
    "                                    them\n"
#ifndef _WIN32
    "  doctor [--index N]                what stands between a touch and the cursor, for each\n"
    "                                    controller (or controller N): access to its node and the\n"
    "                                    udev rule, its input event device, the X devices that read\n"
    "                                    it and their mapping, and any calibration applied on top of\n"
    "                                    the firmware's (udev, X, tslib), each with what to do\n"
#endif
    "\n"
    "Options:\n"
    "  --index N     the N-th controller of the vendor ID, counted from 0 (default 0)\n"
    "  --seconds S   watch for S seconds, 1..86400 (default: until Ctrl-C)\n"
    "  --vid VID     vendor ID in hexadecimal, such as 0x1234 (default 0x%04X)\n"
    "  --json        output for scripts: one JSON object (watch: one per line)\n"
    "  --yes         reset and apply change the controller; they refuse without it\n"
    "  --help        this text\n"
    "  --version     the program's version\n"
    "\n"
    "Exit status:\n"
    "  0  done\n"
    "  1  a transfer failed or the controller did not accept a command\n"
    "  2  bad command line or records file; nothing was sent\n"
    "  3  no controller of the vendor ID (at that index)\n"
    "  4  a controller is there but this user may not open it\n"
#ifndef _WIN32
    "  5  doctor found a problem\n"
#endif
    ;

// The commands of this platform, for the errors that name them (doctor is
// Linux's alone; on Windows it only says so).
#ifdef _WIN32
const char kCommandList[] = "list, watch, reset or apply";
#else
const char kCommandList[] = "list, watch, reset, apply or doctor";
#endif

struct CommandName {
    const char* word;
    CtlCommand command;
};

constexpr CommandName kCommands[] = {
    {"list", CtlCommand::kList},
    {"watch", CtlCommand::kWatch},
    {"reset", CtlCommand::kReset},
    {"apply", CtlCommand::kApply},
    {"doctor", CtlCommand::kDoctor},
};

// Which command an option belongs to; kNone: every command.
struct OptionRule {
    const char* name;
    bool takesValue;
    CtlCommand only[4];
};

constexpr OptionRule kOptions[] = {
    {"--json", false, {}},
    {"--vid", true, {}},
    {"--all", false, {CtlCommand::kList}},
    {"--index", true, {CtlCommand::kWatch, CtlCommand::kReset, CtlCommand::kApply, CtlCommand::kDoctor}},
    {"--seconds", true, {CtlCommand::kWatch}},
    {"--yes", false, {CtlCommand::kReset, CtlCommand::kApply}},
};

// A word of the command line as the error message shows it: printable
// text, at most 60 bytes of it.
struct Echo {
    char text[4 * 60 + 1];
};
Echo EchoOf(const char* word, std::size_t length = 60) {
    Echo echo;
    TakeName(word, length < 60 ? length : 60, echo.text, sizeof echo.text);
    return echo;
}

const char* CommandWord(CtlCommand command) {
    for (const CommandName& name : kCommands) {
        if (name.command == command) return name.word;
    }
    return "?";
}

// Decimal digits only, at most `high`.
bool ParseDecimal(const char* text, std::uint32_t high, std::uint32_t* value) {
    const std::size_t length = std::strlen(text);
    if (length == 0 || length > 10) return false;
    std::uint64_t v = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') return false;
        v = v * 10 + static_cast<std::uint64_t>(*p - '0');
    }
    if (v > high) return false;
    *value = static_cast<std::uint32_t>(v);
    return true;
}

bool SetValue(const OptionRule& rule, const char* value, CtlOptions* options, char* error,
              std::size_t errorSize) {
    std::uint32_t number = 0;
    if (std::strcmp(rule.name, "--vid") == 0) {
        if (ParseVendorId(value, &options->vendorId)) return true;
        std::snprintf(error, errorSize,
                      "--vid takes a vendor ID in hexadecimal such as 0x1234, not '%s'",
                      EchoOf(value).text);
        return false;
    }
    if (std::strcmp(rule.name, "--index") == 0) {
        if (ParseDecimal(value, 65535, &number)) {
            options->index = static_cast<std::uint16_t>(number);
            options->indexGiven = true;
            return true;
        }
        std::snprintf(error, errorSize, "--index takes a number 0..65535, not '%s'",
                      EchoOf(value).text);
        return false;
    }
    if (ParseDecimal(value, kMaxSeconds, &number) && number > 0) {
        options->seconds = number;
        return true;
    }
    std::snprintf(error, errorSize, "--seconds takes a number 1..86400, not '%s'",
                  EchoOf(value).text);
    return false;
}

// The option `word` names (up to a '='), or null.
const OptionRule* FindOption(const char* word) {
    const std::size_t length = std::strcspn(word, "=");
    for (const OptionRule& rule : kOptions) {
        if (std::strlen(rule.name) == length && std::strncmp(word, rule.name, length) == 0) {
            return &rule;
        }
    }
    return nullptr;
}

}  // namespace

void PrintCtlUsage(std::FILE* out) {
    std::fprintf(out, kUsageFormat, static_cast<unsigned>(KELCALIB_VENDOR_ID));
}

bool ParseCtlOptions(int argc, const char* const* argv, CtlOptions* options, char* error,
                     std::size_t errorSize) {
    *options = CtlOptions{};
    options->vendorId = static_cast<std::uint16_t>(KELCALIB_VENDOR_ID);
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) break;
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            options->help = true;
            return true;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            options->version = true;
            return true;
        }
    }

    constexpr int kOptionCount = sizeof kOptions / sizeof kOptions[0];
    bool given[kOptionCount] = {};
    bool hasFile = false;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const char* word = argv[i];
        if (!optionsEnded && std::strcmp(word, "--") == 0) {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && word[0] == '-' && word[1] != '\0') {
            const OptionRule* rule = FindOption(word);
            if (rule == nullptr) {
                const std::size_t length = std::strcspn(word, "=");
                std::snprintf(error, errorSize, "unknown option '%s'", EchoOf(word, length).text);
                return false;
            }
            const int slot = static_cast<int>(rule - kOptions);
            if (given[slot]) {
                std::snprintf(error, errorSize, "%s is given twice", rule->name);
                return false;
            }
            given[slot] = true;
            const char* equals = std::strchr(word, '=');
            if (!rule->takesValue) {
                if (equals != nullptr) {
                    std::snprintf(error, errorSize, "%s takes no value", rule->name);
                    return false;
                }
                if (std::strcmp(rule->name, "--json") == 0) options->json = true;
                if (std::strcmp(rule->name, "--all") == 0) options->all = true;
                if (std::strcmp(rule->name, "--yes") == 0) options->yes = true;
                continue;
            }
            const char* value = nullptr;
            if (equals != nullptr) {
                value = equals + 1;
            } else if (i + 1 < argc) {
                value = argv[++i];
            } else {
                std::snprintf(error, errorSize, "%s needs a value", rule->name);
                return false;
            }
            if (!SetValue(*rule, value, options, error, errorSize)) return false;
            continue;
        }
        if (options->command == CtlCommand::kNone) {
            for (const CommandName& command : kCommands) {
                if (std::strcmp(word, command.word) == 0) options->command = command.command;
            }
            if (options->command == CtlCommand::kNone) {
                std::snprintf(error, errorSize,
                              "unknown command '%s' (%s)", EchoOf(word).text, kCommandList);
                return false;
            }
            continue;
        }
        if (options->command == CtlCommand::kApply && !hasFile) {
            hasFile = true;
            options->recordsPath = word;
            continue;
        }
        std::snprintf(error, errorSize, "unexpected argument '%s'", EchoOf(word).text);
        return false;
    }

    if (options->command == CtlCommand::kNone) {
        std::snprintf(error, errorSize, "no command given (%s)", kCommandList);
        return false;
    }
    for (int slot = 0; slot < kOptionCount; ++slot) {
        const OptionRule& rule = kOptions[slot];
        if (!given[slot] || rule.only[0] == CtlCommand::kNone) continue;
        bool applies = false;
        for (const CtlCommand command : rule.only) applies = applies || command == options->command;
        if (!applies) {
            std::snprintf(error, errorSize, "%s does not apply to %s", rule.name,
                          CommandWord(options->command));
            return false;
        }
    }
    return true;
}
