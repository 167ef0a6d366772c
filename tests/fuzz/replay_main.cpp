// Runs a fuzz target over saved inputs: every file named on the command line,
// and every file inside each directory named. The native test build runs the
// corpus and the regression inputs this way, under AddressSanitizer and
// UndefinedBehaviorSanitizer, without libFuzzer.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

bool RunFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "cannot read %s\n", path.string().c_str());
        return false;
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path path(argv[i]);
        std::error_code error;
        if (std::filesystem::is_directory(path, error)) {
            for (const auto& entry : std::filesystem::directory_iterator(path)) {
                if (!entry.is_regular_file()) continue;
                if (!RunFile(entry.path())) return 1;
                ++runs;
            }
        } else {
            if (!RunFile(path)) return 1;
            ++runs;
        }
    }
    std::printf("%d inputs ran without a fault\n", runs);
    return runs > 0 ? 0 : 1;
}
