// Files the program writes are made new beside their name and renamed over it
// once complete, so a failed save leaves the operator's old file as it was and
// nothing is written through a link or into a file another user made.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include "OsSeam.h"
#include "TKXFile.h"

namespace {

// One new file not yet committed: its stream, its own name and the name it takes.
struct PendingFile {
    FILE* stream;
    char temp[4096];
    char target[4096];
};

// The program writes one file at a time; a few slots leave room.
PendingFile s_Pending[4];

PendingFile* FindPending(FILE* stream) {
    if (stream == nullptr) return nullptr;
    for (PendingFile& p : s_Pending)
        if (p.stream == stream) return &p;
    return nullptr;
}

// The new file's name: "<dir>/.<name>.<n>" in the target's directory, so the
// rename stays on one file system. The name part is cut to keep the whole
// within a file-name component.
bool TempName(const char* target, unsigned serial, char* out, size_t max) {
    const char* slash = strrchr(target, '/');
    const char* base = slash == nullptr ? target : slash + 1;
    int dirLength = slash == nullptr ? 0 : static_cast<int>(slash - target + 1);
    int length = snprintf(out, max, "%.*s.%.200s.%u.%u", dirLength, target, base,
                          static_cast<unsigned>(getpid()), serial);
    return length > 0 && static_cast<size_t>(length) < max;
}

// The directory's entry is made durable too, where the file system allows it.
void SyncDirectoryOf(const char* path) {
    char dir[4096];
    const char* slash = strrchr(path, '/');
    if (slash == nullptr) {
        strcpy(dir, ".");
    } else {
        size_t length = slash == path ? 1 : static_cast<size_t>(slash - path);
        memcpy(dir, path, length);
        dir[length] = '\0';
    }
    int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

}  // namespace

FILE* TKX_CreateNewFile(const char* path) {
    if (path == nullptr || path[0] == '\0' || strlen(path) >= sizeof(s_Pending[0].target)) return nullptr;
    struct stat st;
    if (lstat(path, &st) == 0 && !S_ISREG(st.st_mode)) return nullptr;
    PendingFile* slot = nullptr;
    for (PendingFile& p : s_Pending)
        if (p.stream == nullptr) slot = &p;
    if (slot == nullptr) return nullptr;
    for (unsigned serial = 0; serial < 100; ++serial) {
        if (!TempName(path, serial, slot->temp, sizeof(slot->temp))) return nullptr;
        FILE* stream = OsSeam_CreateFile(slot->temp);
        if (stream != nullptr) {
            slot->stream = stream;
            strcpy(slot->target, path);
            return stream;
        }
        if (errno != EEXIST) return nullptr;
    }
    return nullptr;
}

ENUM_ERR_ID TKX_CommitNewFile(FILE* stream) {
    PendingFile* p = FindPending(stream);
    if (p == nullptr) return eEID_WRITE_FILE;
    p->stream = nullptr;
    ENUM_ERR_ID closed = TKX_CloseFile(stream);
    if (closed != eEID_NO_ERROR || rename(p->temp, p->target) != 0) {
        unlink(p->temp);
        return eEID_WRITE_FILE;
    }
    SyncDirectoryOf(p->target);
    return eEID_NO_ERROR;
}

void TKX_DiscardNewFile(FILE* stream) {
    PendingFile* p = FindPending(stream);
    if (p == nullptr) return;
    p->stream = nullptr;
    fclose(stream);
    unlink(p->temp);
}
