#include "display/persist_mapping_linux.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "display/display_mapping.h"
#include "display/root_files_linux.h"
#include "device/hidraw_sysfs_linux.h"

namespace {

// Runs udevadm (the system's, by its full path, with a plain environment)
// with `arguments`; true when it exited with 0.
bool RunUdevadm(const char* program, const char* const* arguments) {
    char* argv[8] = {};
    int n = 0;
    argv[n++] = const_cast<char*>("udevadm");
    for (int i = 0; arguments[i] != nullptr && n < 7; ++i) argv[n++] = const_cast<char*>(arguments[i]);
    char* env[] = {const_cast<char*>("PATH=/usr/sbin:/usr/bin:/sbin:/bin"), nullptr};
    pid_t child = 0;
    if (posix_spawn(&child, program, nullptr, nullptr, argv, env) != 0) return false;
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Has udev read the rules again and apply them to the event device, so
// that the X server finds the tag at its next start (and at once, where it
// watches udev). False when udevadm is not there or failed.
bool ApplyUdevRules(const char* eventPath) {
    const char* const kPrograms[] = {"/usr/bin/udevadm", "/bin/udevadm", "/sbin/udevadm"};
    const char* base = std::strrchr(eventPath, '/');
    if (base == nullptr) return false;
    char device[64];
    std::snprintf(device, sizeof device, "/sys/class/input/%s", base + 1);
    for (const char* program : kPrograms) {
        char path[600];
        SystemPath(program, path, sizeof path);
        if (access(path, X_OK) != 0) continue;
        const char* const reload[] = {"control", "--reload", nullptr};
        const char* const trigger[] = {"trigger", "--action=change", "--settle", device, nullptr};
        return RunUdevadm(path, reload) && RunUdevadm(path, trigger);
    }
    return false;
}

// The earlier layout's file, when it is there: it maps every controller of
// the vendor and product and comes after the files of one controller.
void NameEarlierFile(const MappingSubject& subject) {
    char earlier[128];
    EarlierXorgSnippetPath(subject, earlier, sizeof earlier);
    if (!RootFileExists(earlier)) return;
    std::fprintf(stderr,
                 "kelcalib: %s, written by an earlier kelcalib, maps every controller %04x:%04x and "
                 "is read after the files above, so its matrix wins: remove it (kelcalib-ctl doctor "
                 "names it too)\n",
                 earlier, static_cast<unsigned>(subject.vendorId), static_cast<unsigned>(subject.productId));
}

// 1: written and handed to udev; 0: written; -1: refused.
int Persist(const MappingSubject& subject, const PersistFiles& files, const char* rule,
            const char* snippet, const char* eventPath) {
    char error[700];
    // Both checked before either is written: never one without the other.
    if (!MayWriteRootFile(files.rulePath, kPersistMarker, error, sizeof error) ||
        !MayWriteRootFile(files.snippetPath, kPersistMarker, error, sizeof error) ||
        !WriteRootFile(files.rulePath, rule, kPersistMarker, error, sizeof error) ||
        !WriteRootFile(files.snippetPath, snippet, kPersistMarker, error, sizeof error)) {
        std::fprintf(stderr, "kelcalib: --persist: %s\n", error);
        return -1;
    }
    const bool applied = ApplyUdevRules(eventPath);
    if (applied) {
        std::printf("kelcalib: wrote %s and %s; udev has tagged the controller's input device, and "
                    "the X server maps it so from its next start.\n",
                    files.rulePath, files.snippetPath);
    } else {
        std::printf("kelcalib: wrote %s and %s. Run udevadm control --reload && udevadm trigger (or "
                    "replug the controller) before the X server starts again.\n",
                    files.rulePath, files.snippetPath);
    }
    NameEarlierFile(subject);
    return applied ? 1 : 0;
}

}  // namespace

bool KeepMappingOnX11(const MappingSubject& subject, const double matrix[9], const char* eventPath,
                      bool persist) {
    PersistFiles files{};
    const bool placed = PersistFilesFor(subject, &files);
    // One display: nothing to keep, unless an earlier run of ours keeps
    // another mapping for this controller.
    if (IsIdentityMatrix(matrix) && !(placed && persist && RootFileExists(files.snippetPath))) return false;
    if (!placed) {
        std::fprintf(stderr,
                     "kelcalib: where the controller is attached is not known (udev gives its input "
                     "device no ID_PATH, the kernel no phys), so no X configuration can name it alone: "
                     "the touch stays on %s for this X session only\n",
                     subject.outputName);
        return false;
    }
    char rule[1024];
    char snippet[1536];
    if (!FormatUdevTagRule(subject, files, rule, sizeof rule) ||
        !FormatXorgSnippet(subject, files, matrix, snippet, sizeof snippet)) {
        std::fprintf(stderr, "kelcalib: the X configuration does not fit its buffer; nothing kept\n");
        return false;
    }
    if (persist) {
        if (geteuid() != 0) {
            std::fprintf(stderr, "kelcalib: --persist writes to /etc and needs root\n");
        } else {
            const int persisted = Persist(subject, files, rule, snippet, eventPath);
            if (persisted >= 0) return persisted == 1;
        }
    }
    std::printf("The touch screen stays on %s for this X session. To keep it there, save\n"
                "this as %s:\n\n%s\nand this as %s:\n\n%s\n"
                "then run udevadm control --reload && udevadm trigger (or run kelcalib --persist "
                "as root, which does all of it).\n",
                subject.outputName, files.rulePath, rule, files.snippetPath, snippet);
    NameEarlierFile(subject);
    return false;
}
