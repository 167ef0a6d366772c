// Entry point of kelcalib-ctl.exe, a console program: the arguments as UTF-8.
#include <string>
#include <vector>

#include "app/ctl/ctl_commands.h"
#include "app/platform_types.h"

int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> words;
    for (int i = 0; i < argc; ++i) {
        const int needed = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
        std::string word(needed > 0 ? static_cast<std::size_t>(needed) : 1, '\0');
        if (needed > 0) {
            WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, &word[0], needed, nullptr, nullptr);
        }
        word.resize(word.size() - 1);
        words.push_back(word);
    }
    std::vector<const char*> pointers;
    for (const std::string& word : words) pointers.push_back(word.c_str());
    return RunCtl(argc, pointers.data());
}
