// One copy of the calibration per user: an exclusive lock on a file in a
// directory of the user's own, held until the process ends (the system
// drops it then, however the process ends). The directory and the file are
// checked for their owner, so that no other user can make or hold them.
#include "app/single_instance_linux.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// A directory only this user may enter: no link, its owner, no access for
// anyone else.
bool IsOwnDirectory(const char* path) {
    struct stat status {};
    return lstat(path, &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == geteuid() &&
           (status.st_mode & 077) == 0;
}

// Where the lock lies: the runtime directory when it is the user's own,
// else a directory of the user's own in TMPDIR (or /tmp), made for it.
bool LockDirectory(char* directory, std::size_t size, char* error, int capacity) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/' && IsOwnDirectory(runtime)) {
        std::snprintf(directory, size, "%s", runtime);
        return true;
    }
    const char* temporary = std::getenv("TMPDIR");
    if (temporary == nullptr || temporary[0] != '/') temporary = "/tmp";
    std::snprintf(directory, size, "%s/kelcalib-%u", temporary, static_cast<unsigned>(geteuid()));
    if (mkdir(directory, 0700) != 0 && errno != EEXIST) {
        std::snprintf(error, static_cast<std::size_t>(capacity), "cannot make %s: %s", directory,
                      std::strerror(errno));
        return false;
    }
    if (!IsOwnDirectory(directory)) {
        std::snprintf(error, static_cast<std::size_t>(capacity),
                      "%s is not a directory of this user's own (another user may have made it)",
                      directory);
        return false;
    }
    return true;
}

}  // namespace

LockResult TakeSingleInstanceLock(char* error, int capacity) {
    char directory[400];
    if (!LockDirectory(directory, sizeof directory, error, capacity)) return LockResult::kFailed;
    char path[512];
    std::snprintf(path, sizeof(path), "%s/kelcalib.lock", directory);
    const int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        std::snprintf(error, static_cast<std::size_t>(capacity), "cannot open the lock file %s: %s",
                      path, std::strerror(errno));
        return LockResult::kFailed;
    }
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != geteuid()) {
        close(fd);
        std::snprintf(error, static_cast<std::size_t>(capacity),
                      "the lock file %s is not this user's own", path);
        return LockResult::kFailed;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int reason = errno;
        close(fd);
        if (reason == EWOULDBLOCK) return LockResult::kHeldElsewhere;
        std::snprintf(error, static_cast<std::size_t>(capacity), "cannot lock %s: %s", path,
                      std::strerror(reason));
        return LockResult::kFailed;
    }
    return LockResult::kTaken;  // the descriptor stays open until exit
}
