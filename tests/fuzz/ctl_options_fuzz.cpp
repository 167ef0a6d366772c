// kelcalib-ctl's command line (ParseCtlOptions) over arbitrary words: a
// command with only the options it takes, or one printable line saying why.
#include <cstdlib>
#include <cstring>

#include "ctl/ctl_options.h"
#include "device/name_text.h"
#include "tests/fuzz/fuzz_argv.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzArgv line;
    MakeArgv(data, size, &line);
    CtlOptions options;
    char error[kCtlMessageSize] = "";
    const int argc = static_cast<int>(line.words.size());
    if (!ParseCtlOptions(argc, line.argv.data(), &options, error, sizeof error)) {
        if (error[0] == '\0' || !IsPrintableText(error) || std::strchr(error, '\n') != nullptr) std::abort();
        return 0;
    }
    if (options.help || options.version) return 0;
    if (options.command == CtlCommand::kNone) std::abort();
    if (options.seconds > 86400 || (options.seconds != 0 && options.command != CtlCommand::kWatch)) std::abort();
    if (options.all && options.command != CtlCommand::kList) std::abort();
    if (options.yes && options.command != CtlCommand::kReset && options.command != CtlCommand::kApply) std::abort();
    if (options.recordsPath != nullptr && options.command != CtlCommand::kApply) std::abort();
    return 0;
}
