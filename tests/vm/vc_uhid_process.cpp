#include "tests/vm/vc_uhid_process.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

std::string VcUhidPath() {
    const char* path = std::getenv("KELCALIB_VC_UHID");
    return path != nullptr ? path : "/bin/vc-uhid";
}

int CountHidrawNodes() {
    int count = 0;
    if (DIR* dir = opendir("/sys/class/hidraw")) {
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.') ++count;
        }
        closedir(dir);
    }
    return count;
}

bool WriteFile(const std::string& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    return static_cast<bool>(file.flush());
}

}  // namespace

bool ReadTextFile(const std::string& path, std::string* text) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    std::ostringstream content;
    content << file.rdbuf();
    *text = content.str();
    return true;
}

bool WriteTouch(const std::string& touchPath, const std::string& text) {
    const std::string next = touchPath + ".next";
    return WriteFile(next, text + "\n") && std::rename(next.c_str(), touchPath.c_str()) == 0;
}

bool StartVcUhid(const std::string& configText, const std::string& configPath,
                 const std::string& touchPath, VcUhidProcess* process, std::string* error) {
    *process = VcUhidProcess();
    if (!WriteFile(configPath, configText)) {
        *error = "cannot write " + configPath;
        return false;
    }
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        *error = "pipe failed";
        return false;
    }
    const std::string program = VcUhidPath();
    const pid_t pid = fork();
    if (pid < 0) {
        close(out[0]);
        close(out[1]);
        *error = "fork failed";
        return false;
    }
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        execl(program.c_str(), program.c_str(), configPath.c_str(), "--touch", touchPath.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    process->pid = pid;

    // "device I /dev/hidrawN" lines, then "ready".
    std::string received;
    const auto deadline = Clock::now() + std::chrono::seconds(15);
    bool ready = false;
    while (!ready && Clock::now() < deadline) {
        pollfd fd = {out[0], POLLIN, 0};
        if (poll(&fd, 1, 100) <= 0) continue;
        char chunk[256];
        const ssize_t n = read(out[0], chunk, sizeof chunk);
        if (n <= 0) break;
        received.append(chunk, static_cast<std::size_t>(n));
        ready = received.find("ready\n") != std::string::npos;
    }
    close(out[0]);
    if (!ready) {
        *error = "vc-uhid did not get ready: '" + received + "' (its stderr is above)";
        StopVcUhid(process);
        return false;
    }
    std::istringstream lines(received);
    std::string word, index, node;
    while (lines >> word && word == "device" && lines >> index >> node) process->nodes.push_back(node);
    return true;
}

void StopVcUhid(VcUhidProcess* process) {
    if (process->pid <= 0) return;
    kill(process->pid, SIGTERM);
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    int status = 0;
    while (waitpid(process->pid, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            kill(process->pid, SIGKILL);
            waitpid(process->pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    process->pid = -1;
    process->nodes.clear();
    // Closing /dev/uhid removes the devices; wait until their nodes are gone
    // so the next test's devices are numbered from hidraw0 again.
    const auto gone = Clock::now() + std::chrono::seconds(5);
    while (CountHidrawNodes() > 0 && Clock::now() < gone) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}
