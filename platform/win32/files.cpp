// files.cpp (Win32) - file attributes, CreateFile with CREATE_NEW,
// FlushFileBuffers.
#include "platform/files.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

PathKind path_kind(const char* path)
{
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? PATH_NONE : PATH_OTHER;
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return PATH_LINK;
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) return PATH_OTHER;
    return PATH_FILE;
}

std::FILE* file_create_new(const char* path)
{
    // CREATE_NEW fails on any name that exists; FILE_FLAG_OPEN_REPARSE_POINT
    // keeps a link from being followed.
    HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(h);
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, "wb");
    if (file == nullptr) _close(fd);
    return file;
}

bool file_sync(std::FILE* file)
{
    return std::fflush(file) == 0 && _commit(_fileno(file)) == 0;
}
