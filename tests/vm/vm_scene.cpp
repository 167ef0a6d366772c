#include "tests/vm/vm_scene.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace {

void ReplaceAll(std::string* text, const std::string& from, const std::string& to) {
    for (std::size_t at = text->find(from); at != std::string::npos; at = text->find(from, at + to.size())) {
        text->replace(at, from.size(), to);
    }
}

}  // namespace

VmScene::VmScene() {
    char pattern[] = "/tmp/vm-XXXXXX";
    if (mkdtemp(pattern) != nullptr) dir = pattern;
    config = dir + "/vc.conf";
    touch = dir + "/touch";
    store = dir + "/store";
    log = dir + "/log";
}

VmScene::~VmScene() {
    Stop();
    for (const std::string& path : {config, touch, touch + ".next", store, store + ".tmp", log}) {
        std::remove(path.c_str());
    }
    if (!dir.empty()) rmdir(dir.c_str());
}

bool VmScene::Start(const std::string& configText) {
    if (dir.empty()) {
        error = "no scratch directory";
        return false;
    }
    std::string text = configText;
    ReplaceAll(&text, "@STORE@", store);
    ReplaceAll(&text, "@LOG@", log);
    return StartVcUhid(text, config, touch, &process, &error);
}

void VmScene::Stop() { StopVcUhid(&process); }

std::string VmScene::StoreText() const {
    std::string text;
    ReadTextFile(store, &text);
    return text;
}

std::string VmScene::LogText() const {
    std::string text;
    ReadTextFile(log, &text);
    return text;
}
