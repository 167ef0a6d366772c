// One copy of the calibration per user: an exclusive lock on a file in the
// user's runtime directory, held until the process ends (the system drops
// it then, however the process ends).
#include "app/single_instance_linux.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

LockResult TakeSingleInstanceLock(char* error, int capacity) {
    char path[512];
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') {
        std::snprintf(path, sizeof(path), "%s/kelcalib.lock", runtime);
    } else {
        std::snprintf(path, sizeof(path), "/tmp/kelcalib-%u.lock",
                      static_cast<unsigned>(getuid()));
    }
    const int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        std::snprintf(error, static_cast<std::size_t>(capacity), "cannot open the lock file %s: %s",
                      path, std::strerror(errno));
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
