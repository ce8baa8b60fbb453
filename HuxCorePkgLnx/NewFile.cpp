// Files the program writes are made new beside their name, under a random
// name, and renamed over it once complete, so a failed save leaves the
// operator's old file as it was and nothing is written through a link or
// into a file another user made.
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/random.h>
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

// Random letters and digits for a new file's name, as mkstemp takes them:
// another user of a shared directory can neither foresee nor fill them.
void RandomLetters(char* out, size_t count) {
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static unsigned long long s_Stir = 0;
    unsigned char bytes[32];
    if (count > sizeof(bytes)) count = sizeof(bytes);
    if (getrandom(bytes, count, GRND_NONBLOCK) != static_cast<ssize_t>(count)) {
        // No entropy yet (early boot): the clock, the process and a counter.
        struct timespec now = {};
        clock_gettime(CLOCK_REALTIME, &now);
        unsigned long long x = (static_cast<unsigned long long>(now.tv_sec) << 30) ^
                               static_cast<unsigned long long>(now.tv_nsec) ^
                               (static_cast<unsigned long long>(getpid()) << 20) ^ ++s_Stir;
        for (size_t i = 0; i < count; ++i) {
            x = x * 6364136223846793005ULL + 1442695040888963407ULL;
            bytes[i] = static_cast<unsigned char>(x >> 56);
        }
    }
    for (size_t i = 0; i < count; ++i) out[i] = kLetters[bytes[i] % (sizeof(kLetters) - 1)];
    out[count] = '\0';
}

// The new file's name: "<dir>/.<name>.<random>" in the target's directory,
// so the rename stays on one file system. The name part is cut to keep the
// whole within a file-name component.
bool TempName(const char* target, char* out, size_t max) {
    const char* slash = strrchr(target, '/');
    const char* base = slash == nullptr ? target : slash + 1;
    int dirLength = slash == nullptr ? 0 : static_cast<int>(slash - target + 1);
    char letters[13];
    RandomLetters(letters, sizeof(letters) - 1);
    int length = snprintf(out, max, "%.*s.%.200s.%s", dirLength, target, base, letters);
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

// A file made new under a random name of its own beside `target`; that name
// in `temp`. A name taken by chance is followed by another.
FILE* CreateBeside(const char* target, char* temp, size_t max) {
    for (unsigned tries = 0; tries < 100; ++tries) {
        if (!TempName(target, temp, max)) return nullptr;
        FILE* stream = OsSeam_CreateFile(temp);
        if (stream != nullptr || errno != EEXIST) return stream;
    }
    return nullptr;
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
    FILE* stream = CreateBeside(path, slot->temp, sizeof(slot->temp));
    if (stream == nullptr) return nullptr;
    slot->stream = stream;
    strcpy(slot->target, path);
    return stream;
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

ENUM_ERR_ID TKX_CommitNewFileKeepingOld(FILE* stream, TKX_REPLACED_FILE* replaced) {
    PendingFile* p = FindPending(stream);
    if (p == nullptr || replaced == nullptr) return eEID_WRITE_FILE;
    p->stream = nullptr;
    replaced->Pending = 0;
    replaced->HadOld = 0;
    strcpy(replaced->Name, p->target);
    ENUM_ERR_ID status = TKX_CloseFile(stream);
    // The old file's new name is made like any new file, then taken over.
    FILE* placeholder = status == eEID_NO_ERROR ? CreateBeside(p->target, replaced->Aside, sizeof(replaced->Aside)) : nullptr;
    if (placeholder == nullptr) status = eEID_WRITE_FILE;
    else fclose(placeholder);
    struct stat st;
    if (status == eEID_NO_ERROR && lstat(p->target, &st) == 0) {
        if (!S_ISREG(st.st_mode) || rename(p->target, replaced->Aside) != 0) status = eEID_WRITE_FILE;
        else replaced->HadOld = 1;
    }
    if (placeholder != nullptr && !replaced->HadOld) unlink(replaced->Aside);
    if (status == eEID_NO_ERROR && rename(p->temp, p->target) != 0) {
        status = eEID_WRITE_FILE;
        if (replaced->HadOld) rename(replaced->Aside, p->target);
        replaced->HadOld = 0;
    }
    if (status != eEID_NO_ERROR) {
        unlink(p->temp);
        return status;
    }
    SyncDirectoryOf(p->target);
    replaced->Pending = 1;
    return eEID_NO_ERROR;
}

void TKX_ForgetReplaced(TKX_REPLACED_FILE* replaced) {
    if (replaced == nullptr || !replaced->Pending) return;
    replaced->Pending = 0;
    if (replaced->HadOld) unlink(replaced->Aside);
    SyncDirectoryOf(replaced->Name);
}

void TKX_RestoreReplaced(TKX_REPLACED_FILE* replaced) {
    if (replaced == nullptr || !replaced->Pending) return;
    replaced->Pending = 0;
    if (replaced->HadOld) rename(replaced->Aside, replaced->Name);
    else unlink(replaced->Name);
    SyncDirectoryOf(replaced->Name);
}
