// Entry point of kelcalib-ctl.exe, a console program: the arguments as UTF-8.
#include <cstdio>
#include <cstdlib>

#include "ctl/ctl_commands.h"
#include "app/platform_types.h"

int wmain(int argc, wchar_t** argv) {
    auto** words = static_cast<char**>(std::calloc(static_cast<std::size_t>(argc) + 1, sizeof(char*)));
    if (words == nullptr) return 1;
    for (int i = 0; i < argc; ++i) {
        const int needed = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
        words[i] = static_cast<char*>(std::calloc(needed > 0 ? static_cast<std::size_t>(needed) : 1, 1));
        if (words[i] == nullptr) return 1;
        if (needed > 0) WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, words[i], needed, nullptr, nullptr);
    }
    return RunCtl(argc, words);
}
