// A command line from a fuzz input: the words between 0 bytes, after a
// first word that stands for the program.
#ifndef KELCALIB_TESTS_FUZZ_FUZZ_ARGV_H
#define KELCALIB_TESTS_FUZZ_FUZZ_ARGV_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct FuzzArgv {
    std::vector<std::string> words;
    std::vector<char*> argv;
};

inline void MakeArgv(const std::uint8_t* data, std::size_t size, FuzzArgv* out) {
    out->words.assign(1, "program");
    std::string word;
    for (std::size_t i = 0; i < size && out->words.size() < 64; ++i) {
        if (data[i] == 0) {
            out->words.push_back(word);
            word.clear();
        } else {
            word += static_cast<char>(data[i]);
        }
    }
    if (!word.empty()) out->words.push_back(word);
    out->argv.clear();
    for (std::string& w : out->words) out->argv.push_back(&w[0]);
    out->argv.push_back(nullptr);
}

#endif  // KELCALIB_TESTS_FUZZ_FUZZ_ARGV_H
