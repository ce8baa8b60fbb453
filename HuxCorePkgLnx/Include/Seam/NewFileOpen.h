// The one way a file the program saves is created, in the shipped
// executables and in the test build alike: new (a name that is taken, by a
// file or a link, dangling or not, is refused with EEXIST and nothing is
// opened through it), owner-only, closed on exec, open for update.
#pragma once
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

inline FILE* NewFileOpen_Exclusive(const char* path) {
    int fd = open(path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return nullptr;
    FILE* stream = fdopen(fd, "w+b");
    if (stream == nullptr) close(fd);
    return stream;
}
