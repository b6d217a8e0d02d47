// files.cpp (POSIX) - lstat, open with O_EXCL, fsync.
#include "platform/files.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

PathKind path_kind(const char* path)
{
    struct stat info;
    if (lstat(path, &info) != 0) return errno == ENOENT || errno == ENOTDIR ? PATH_NONE : PATH_OTHER;
    if (S_ISLNK(info.st_mode)) return PATH_LINK;
    return S_ISREG(info.st_mode) ? PATH_FILE : PATH_OTHER;
}

std::FILE* file_create_new(const char* path)
{
    // O_EXCL with O_CREAT refuses any name that exists, a link included.
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return nullptr;
    std::FILE* file = fdopen(fd, "wb");
    if (file == nullptr) close(fd);
    return file;
}

bool file_sync(std::FILE* file)
{
    return std::fflush(file) == 0 && fsync(fileno(file)) == 0;
}
