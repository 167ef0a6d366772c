#include "display/root_files_linux.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "device/hidraw_sysfs_linux.h"

namespace {

int OpenDirectoryAt(int parent, const char* name) {
    return openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// Whether a directory may hold a file root writes: root's, and no one else
// may add, rename or remove its entries.
bool SafeDirectory(int fd, const char* shown, char* error, std::size_t size) {
    struct stat status {};
    if (fstat(fd, &status) != 0) {
        std::snprintf(error, size, "cannot look at %s: %s", shown, std::strerror(errno));
        return false;
    }
    const bool sticky = (status.st_mode & S_ISVTX) != 0;
    if (status.st_uid != 0) {
        std::snprintf(error, size, "%s is not root's (its owner is user %u): nothing written", shown,
                      static_cast<unsigned>(status.st_uid));
        return false;
    }
    if (((status.st_mode & S_IWOTH) != 0 && !sticky) ||
        ((status.st_mode & S_IWGRP) != 0 && status.st_gid != 0 && !sticky)) {
        std::snprintf(error, size, "others may write to %s (mode %04o): nothing written", shown,
                      static_cast<unsigned>(status.st_mode & 07777));
        return false;
    }
    return true;
}

// Opens the directory `directory` (absolute) component by component from
// "/", making missing ones, each checked; -1 with `error` filled.
int OpenSafeDirectory(const char* directory, char* error, std::size_t size) {
    int fd = open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || !SafeDirectory(fd, "/", error, size)) {
        if (fd >= 0) close(fd);
        return -1;
    }
    char walked[600] = "";
    const char* p = directory;
    while (*p != '\0') {
        while (*p == '/') ++p;
        const std::size_t length = std::strcspn(p, "/");
        if (length == 0) break;
        char name[256];
        if (length >= sizeof name) {
            close(fd);
            std::snprintf(error, size, "%s: a name too long", directory);
            return -1;
        }
        std::memcpy(name, p, length);
        name[length] = '\0';
        p += length;
        std::snprintf(walked + std::strlen(walked), sizeof walked - std::strlen(walked), "/%s", name);
        int next = OpenDirectoryAt(fd, name);
        if (next < 0 && errno == ENOENT) {
            if (mkdirat(fd, name, 0755) != 0 && errno != EEXIST) {
                std::snprintf(error, size, "cannot make %s: %s", walked, std::strerror(errno));
                close(fd);
                return -1;
            }
            next = OpenDirectoryAt(fd, name);
            if (next >= 0) fchmod(next, 0755);  // whatever the umask
        }
        close(fd);
        if (next < 0) {
            std::snprintf(error, size, "cannot open the directory %s: %s%s", walked, std::strerror(errno),
                          errno == ELOOP || errno == ENOTDIR ? " (a link or no directory)" : "");
            return -1;
        }
        if (!SafeDirectory(next, walked, error, size)) {
            close(next);
            return -1;
        }
        fd = next;
    }
    return fd;
}

// What stands at `name` in the directory: nothing (true), or a regular
// file whose first line is `marker` (true); anything else is refused.
bool MayReplace(int directory, const char* name, const char* shown, const char* marker, char* error,
                std::size_t size) {
    struct stat status {};
    if (fstatat(directory, name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) return true;
        std::snprintf(error, size, "cannot look at %s: %s", shown, std::strerror(errno));
        return false;
    }
    bool ours = false;
    if (S_ISREG(status.st_mode)) {
        const int fd = openat(directory, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0) {
            const std::size_t want = std::strlen(marker);
            char first[256] = "";
            ssize_t got = 0;
            if (want + 1 < sizeof first) got = read(fd, first, want + 1);
            ours = got == static_cast<ssize_t>(want + 1) && std::memcmp(first, marker, want) == 0 &&
                   first[want] == '\n';
            close(fd);
        }
    }
    if (!ours) {
        std::snprintf(error, size, "%s is there and is not a file kelcalib wrote: left as it is", shown);
    }
    return ours;
}

bool WriteAll(int fd, const char* text) {
    std::size_t left = std::strlen(text);
    while (left > 0) {
        const ssize_t done = write(fd, text, left);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return false;
        text += done;
        left -= static_cast<std::size_t>(done);
    }
    return true;
}

}  // namespace

namespace {

// The checked directory of `path` (its descriptor) and the name in it; -1
// with `error` filled.
int OpenDirectoryOf(const char* path, const char** base, char* error, std::size_t size) {
    char full[600];
    SystemPath(path, full, sizeof full);
    char directory[600];
    std::snprintf(directory, sizeof directory, "%s", full);
    char* slash = std::strrchr(directory, '/');
    if (slash == nullptr || slash[1] == '\0' || std::strchr(path, '/') == nullptr) {
        std::snprintf(error, size, "%s is no file path", path);
        return -1;
    }
    *slash = '\0';
    *base = std::strrchr(path, '/') + 1;
    return OpenSafeDirectory(directory[0] != '\0' ? directory : "/", error, size);
}

}  // namespace

bool MayWriteRootFile(const char* path, const char* marker, char* error, std::size_t size) {
    const char* base = nullptr;
    const int dir = OpenDirectoryOf(path, &base, error, size);
    if (dir < 0) return false;
    const bool may = MayReplace(dir, base, path, marker, error, size);
    close(dir);
    return may;
}

bool WriteRootFile(const char* path, const char* text, const char* marker, char* error,
                   std::size_t size) {
    const char* base = nullptr;
    const int dir = OpenDirectoryOf(path, &base, error, size);
    if (dir < 0) return false;
    if (!MayReplace(dir, base, path, marker, error, size)) {
        close(dir);
        return false;
    }
    // A name the directory's readers pass over (hidden, no suffix of theirs).
    char temporary[300];
    int fd = -1;
    for (unsigned attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        std::snprintf(temporary, sizeof temporary, ".%s.%ld-%ld-%u.new", base, static_cast<long>(getpid()),
                      static_cast<long>(now.tv_nsec), attempt);
        fd = openat(dir, temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        std::snprintf(error, size, "cannot create a file beside %s: %s", path, std::strerror(errno));
        close(dir);
        return false;
    }
    const bool written = fchmod(fd, 0644) == 0 && WriteAll(fd, text) && fsync(fd) == 0;
    const int reason = errno;
    const bool closed = close(fd) == 0;
    if (!written || !closed || renameat(dir, temporary, dir, base) != 0) {
        std::snprintf(error, size, "cannot write %s: %s", path, std::strerror(written && closed ? errno : reason));
        unlinkat(dir, temporary, 0);
        close(dir);
        return false;
    }
    fsync(dir);
    close(dir);
    return true;
}

bool RootFileExists(const char* path) {
    char full[600];
    SystemPath(path, full, sizeof full);
    struct stat status {};
    return lstat(full, &status) == 0;
}
