// kelcalib's command line (ParseKelcalibOptions) over arbitrary words: go
// on with options that agree, or an exit code (0 after --help or --version,
// 2 after one line on stderr). Its output goes to /dev/null: the program's
// stdout and stderr streams are pointed there, while libFuzzer and the
// sanitizers keep theirs.
#include <cstdio>
#include <cstdlib>

#include "app/options_linux.h"
#include "tests/fuzz/fuzz_argv.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static std::FILE* const nothing = std::fopen("/dev/null", "w");
    if (nothing != nullptr) {
        stdout = nothing;
        stderr = nothing;
    }
    FuzzArgv line;
    MakeArgv(data, size, &line);
    KelcalibOptions options;
    const int code = ParseKelcalibOptions(static_cast<int>(line.words.size()), line.argv.data(), &options);
    if (code != -1) {
        if (code != 0 && code != kExitBadOption) std::abort();
        return 0;
    }
    if (options.display < 0 || options.display > 255) std::abort();
    if (options.json && !options.identify) std::abort();
    if (options.identify && (options.persist || options.controller.device != nullptr)) std::abort();
    if (options.controller.device != nullptr && options.controller.device[0] == '\0') std::abort();
    return 0;
}
