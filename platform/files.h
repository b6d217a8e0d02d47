// files.h - what TOBRIN needs of the file system beyond the standard
// library: what a name is before it is written to, a file created only if
// it is new, and data put on the disk before a rename.  One
// implementation per platform.
#pragma once
#include <cstdio>

enum PathKind {
    PATH_NONE = 0,     // nothing has that name
    PATH_FILE = 1,     // a regular file
    PATH_LINK = 2,     // a symbolic link (or a Windows reparse point), never followed
    PATH_OTHER = 3,    // a folder, a device, a FIFO, a socket...
};

// What the name is, without following a link.
PathKind path_kind(const char* path);
// Creates the file for writing only when nothing has that name (a link
// there, even a dangling one, is refused); null otherwise.
std::FILE* file_create_new(const char* path);
// Writes what the stream holds and has the system put it on the disk:
// true when both succeeded.
bool file_sync(std::FILE* file);
