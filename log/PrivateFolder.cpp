#include "log/PrivateFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {
constexpr mode_t kFolderMode = 0755;
constexpr mode_t kForeignWrite = S_IWGRP | S_IWOTH;
} // namespace

bool EnsurePrivateFolder(const char *path)
{
    if (mkdir(path, kFolderMode) == 0)
        return true;
    if (errno != EEXIST)
        return false;
    // O_NOFOLLOW + O_DIRECTORY: a link in place of the folder is refused.
    const int fd = open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    bool ok = fstat(fd, &st) == 0 && st.st_uid == geteuid();
    if (ok && (st.st_mode & kForeignWrite) != 0)
        ok = fchmod(fd, st.st_mode & 07777 & ~kForeignWrite) == 0;
    close(fd);
    if (!ok)
        errno = EPERM;
    return ok;
}

int OpenOwnFile(const char *path, int flags, int mode)
{
    // O_NONBLOCK: a FIFO planted in place of the file must not hang the open;
    // it has no effect on the regular file that alone is accepted.
    const int fd = open(path, flags | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK,
                        static_cast<mode_t>(mode));
    if (fd < 0)
        return -1;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
        close(fd);
        errno = EPERM;
        return -1;
    }
    return fd;
}
