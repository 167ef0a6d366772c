// kelcalib-ctl's command line. Options may stand before or after the
// command; each may be given once; "--" ends the options.
#include "app/ctl/ctl_options.h"

#include <cstdio>
#include <cstring>

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
    "  4  a controller is there but this user may not open it\n";

struct CommandName {
    const char* word;
    CtlCommand command;
};

constexpr CommandName kCommands[] = {
    {"list", CtlCommand::kList},
    {"watch", CtlCommand::kWatch},
    {"reset", CtlCommand::kReset},
    {"apply", CtlCommand::kApply},
};

// Which command an option belongs to; kNone: every command.
struct OptionRule {
    const char* name;
    bool takesValue;
    CtlCommand only[3];
};

constexpr OptionRule kOptions[] = {
    {"--json", false, {}},
    {"--vid", true, {}},
    {"--all", false, {CtlCommand::kList}},
    {"--index", true, {CtlCommand::kWatch, CtlCommand::kReset, CtlCommand::kApply}},
    {"--seconds", true, {CtlCommand::kWatch}},
    {"--yes", false, {CtlCommand::kReset, CtlCommand::kApply}},
};

const char* CommandWord(CtlCommand command) {
    for (const CommandName& name : kCommands) {
        if (name.command == command) return name.word;
    }
    return "?";
}

// Decimal digits only, at most `high`.
bool ParseDecimal(const std::string& text, std::uint32_t high, std::uint32_t* value) {
    if (text.empty() || text.size() > 10) return false;
    std::uint64_t v = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (v > high) return false;
    *value = static_cast<std::uint32_t>(v);
    return true;
}

// 1 to 4 hexadecimal digits, with or without 0x.
bool ParseVendorId(const std::string& text, std::uint16_t* value) {
    std::size_t start = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) start = 2;
    const std::size_t digits = text.size() - start;
    if (digits < 1 || digits > 4) return false;
    unsigned v = 0;
    for (std::size_t i = start; i < text.size(); ++i) {
        const char c = text[i];
        unsigned d = 0;
        if (c >= '0' && c <= '9') {
            d = static_cast<unsigned>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            d = static_cast<unsigned>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            d = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return false;
        }
        v = v * 16 + d;
    }
    *value = static_cast<std::uint16_t>(v);
    return true;
}

bool SetValue(const std::string& name, const std::string& value, CtlOptions* options,
              std::string* error) {
    std::uint32_t number = 0;
    if (name == "--vid") {
        if (ParseVendorId(value, &options->vendorId)) return true;
        *error = "--vid takes a vendor ID in hexadecimal such as 0x1234, not '" + value + "'";
        return false;
    }
    if (name == "--index") {
        if (ParseDecimal(value, 65535, &number)) {
            options->index = static_cast<std::uint16_t>(number);
            return true;
        }
        *error = "--index takes a number 0..65535, not '" + value + "'";
        return false;
    }
    if (ParseDecimal(value, kMaxSeconds, &number) && number > 0) {
        options->seconds = number;
        return true;
    }
    *error = "--seconds takes a number 1..86400, not '" + value + "'";
    return false;
}

}  // namespace

std::string CtlUsageText() {
    char text[sizeof kUsageFormat + 8];
    std::snprintf(text, sizeof text, kUsageFormat, static_cast<unsigned>(KELCALIB_VENDOR_ID));
    return text;
}

bool ParseCtlOptions(int argc, const char* const* argv, CtlOptions* options, std::string* error) {
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

    const OptionRule* given[sizeof kOptions / sizeof kOptions[0]] = {};
    int givenCount = 0;
    bool hasFile = false;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (!optionsEnded && word == "--") {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && word.size() > 1 && word[0] == '-') {
            const std::size_t equals = word.find('=');
            const std::string name = word.substr(0, equals);
            const OptionRule* rule = nullptr;
            for (const OptionRule& candidate : kOptions) {
                if (name == candidate.name) rule = &candidate;
            }
            if (rule == nullptr) {
                *error = "unknown option '" + name + "'";
                return false;
            }
            for (int g = 0; g < givenCount; ++g) {
                if (given[g] == rule) {
                    *error = name + " is given twice";
                    return false;
                }
            }
            given[givenCount++] = rule;
            if (!rule->takesValue) {
                if (equals != std::string::npos) {
                    *error = name + " takes no value";
                    return false;
                }
                if (name == "--json") options->json = true;
                if (name == "--all") options->all = true;
                if (name == "--yes") options->yes = true;
                continue;
            }
            std::string value;
            if (equals != std::string::npos) {
                value = word.substr(equals + 1);
            } else if (i + 1 < argc) {
                value = argv[++i];
            } else {
                *error = name + " needs a value";
                return false;
            }
            if (!SetValue(name, value, options, error)) return false;
            continue;
        }
        if (options->command == CtlCommand::kNone) {
            for (const CommandName& command : kCommands) {
                if (word == command.word) options->command = command.command;
            }
            if (options->command == CtlCommand::kNone) {
                *error = "unknown command '" + word + "' (list, watch, reset or apply)";
                return false;
            }
            continue;
        }
        if (options->command == CtlCommand::kApply && !hasFile) {
            hasFile = true;
            options->recordsPath = word;
            continue;
        }
        *error = "unexpected argument '" + word + "'";
        return false;
    }

    if (options->command == CtlCommand::kNone) {
        *error = "no command given (list, watch, reset or apply)";
        return false;
    }
    for (int g = 0; g < givenCount; ++g) {
        const OptionRule& rule = *given[g];
        if (rule.only[0] == CtlCommand::kNone) continue;
        bool applies = false;
        for (const CtlCommand command : rule.only) applies = applies || command == options->command;
        if (!applies) {
            *error = std::string(rule.name) + " does not apply to " + CommandWord(options->command);
            return false;
        }
    }
    return true;
}
