// Files the program writes are made new beside their name, under a random
// name, and renamed over it once complete, so a failed save leaves the
// operator's old file as it was and nothing is written through a link or
// into a file another user made. A new file not yet committed is on the
// run-end list: whichever way the run ends, it does not stay.
#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#include "OsSeam.h"
#include "TKXFile.h"
#include "TKXRunEnd.h"

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

const size_t kRandomLetters = 12;

// A name beside `target`: "<dir>/.<name>.<random><suffix>" in the target's
// directory, so the rename stays on one file system. The name part is cut to
// keep the whole within a file-name component.
bool NameBeside(const char* target, const char* suffix, char* out, size_t max) {
    const char* slash = strrchr(target, '/');
    const char* base = slash == nullptr ? target : slash + 1;
    int dirLength = slash == nullptr ? 0 : static_cast<int>(slash - target + 1);
    char letters[kRandomLetters + 1];
    RandomLetters(letters, kRandomLetters);
    int length = snprintf(out, max, "%.*s.%.200s.%s%s", dirLength, target, base, letters, suffix);
    return length > 0 && static_cast<size_t>(length) < max;
}

// A new file being written carries this suffix; a file kept aside carries
// none. Only the first is ever removed without a word: a name without it
// may hold a file the operator wants back.
const char kIncomplete[] = ".incomplete";

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
FILE* CreateBeside(const char* target, const char* suffix, char* temp, size_t max) {
    for (unsigned tries = 0; tries < 100; ++tries) {
        if (!NameBeside(target, suffix, temp, max)) return nullptr;
        FILE* stream = OsSeam_CreateFile(temp);
        if (stream != nullptr || errno != EEXIST) return stream;
    }
    return nullptr;
}

bool AnyPending() {
    for (const PendingFile& p : s_Pending)
        if (p.stream != nullptr) return true;
    return false;
}

bool IsPendingTemp(const char* path) {
    for (const PendingFile& p : s_Pending)
        if (p.stream != nullptr && strcmp(p.temp, path) == 0) return true;
    return false;
}

// The run ends with new files not committed: they go, the names keep what
// they held.
ENUM_ERR_ID DiscardPendingFiles() {
    for (PendingFile& p : s_Pending)
        if (p.stream != nullptr) TKX_DiscardNewFile(p.stream);
    return eEID_NO_ERROR;
}

void Settled() {
    if (!AnyPending()) TKX_RunEndPop(DiscardPendingFiles);
}

// ".<name>.<12 letters or digits><suffix>": 0 no, else the length of <name>.
size_t BesideNameLength(const char* entry, const char* suffix) {
    size_t length = strlen(entry), tail = strlen(suffix);
    if (entry[0] != '.' || length < 1 + 1 + 1 + kRandomLetters + tail) return 0;
    if (strcmp(entry + length - tail, suffix) != 0) return 0;
    const char* letters = entry + length - tail - kRandomLetters;
    for (size_t i = 0; i < kRandomLetters; ++i)
        if (!((letters[i] >= 'A' && letters[i] <= 'Z') || (letters[i] >= 'a' && letters[i] <= 'z') ||
              (letters[i] >= '0' && letters[i] <= '9')))
            return 0;
    if (letters[-1] != '.') return 0;
    return static_cast<size_t>(letters - 1 - (entry + 1));
}

// The directory part of `path` ("." when it has none) into `out`.
bool DirectoryOf(const char* path, char* out, size_t max) {
    const char* slash = strrchr(path, '/');
    size_t length = slash == nullptr ? 1 : slash == path ? 1 : static_cast<size_t>(slash - path);
    if (length + 1 > max) return false;
    memcpy(out, slash == nullptr ? "." : path, length);
    out[length] = '\0';
    return true;
}

}  // namespace

UINT32 TKX_SweepDirectory(const char* dir, const char* keptBase, TKX_KeptAsideFunc found) {
    DIR* d = dir != nullptr ? opendir(dir) : nullptr;
    if (d == nullptr) return 0;
    UINT32 removed = 0;
    size_t keptLength = keptBase != nullptr ? strlen(keptBase) : 0;
    char path[4096];
    for (struct dirent* e = readdir(d); e != nullptr; e = readdir(d)) {
        size_t incomplete = BesideNameLength(e->d_name, kIncomplete);
        bool kept = keptLength != 0 && BesideNameLength(e->d_name, "") == keptLength &&
                    strncmp(e->d_name + 1, keptBase, keptLength) == 0;
        if (incomplete == 0 && !kept) continue;
        int length = snprintf(path, sizeof(path), "%s/%s", dir, e->d_name);
        struct stat st;
        if (length <= 0 || static_cast<size_t>(length) >= sizeof(path) || lstat(path, &st) != 0 ||
            !S_ISREG(st.st_mode) || st.st_uid != geteuid())
            continue;
        if (incomplete != 0) {
            // Another new file of this run is no leftover.
            if (!IsPendingTemp(path) && unlink(path) == 0) ++removed;
        } else if (found != nullptr) {
            found(path, static_cast<UINT64>(st.st_size));
        }
    }
    closedir(d);
    if (removed != 0) SyncDirectoryOf(path);
    return removed;
}

FILE* TKX_CreateNewFile(const char* path) {
    if (path == nullptr || path[0] == '\0' || strlen(path) >= sizeof(s_Pending[0].target)) return nullptr;
    struct stat st;
    if (lstat(path, &st) == 0 && !S_ISREG(st.st_mode)) return nullptr;
    PendingFile* slot = nullptr;
    for (PendingFile& p : s_Pending)
        if (p.stream == nullptr) slot = &p;
    if (slot == nullptr) return nullptr;
    // What an earlier run left half-written there goes first.
    char dir[4096];
    if (DirectoryOf(path, dir, sizeof(dir))) TKX_SweepDirectory(dir, nullptr, nullptr);
    FILE* stream = CreateBeside(path, kIncomplete, slot->temp, sizeof(slot->temp));
    if (stream == nullptr) return nullptr;
    slot->stream = stream;
    strcpy(slot->target, path);
    TKX_RunEndPush(DiscardPendingFiles);
    return stream;
}

ENUM_ERR_ID TKX_CommitNewFile(FILE* stream) {
    PendingFile* p = FindPending(stream);
    if (p == nullptr) return eEID_WRITE_FILE;
    p->stream = nullptr;
    Settled();
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
    Settled();
    fclose(stream);
    unlink(p->temp);
}

ENUM_ERR_ID TKX_CommitNewFileKeepingOld(FILE* stream, TKX_REPLACED_FILE* replaced) {
    PendingFile* p = FindPending(stream);
    if (p == nullptr || replaced == nullptr) return eEID_WRITE_FILE;
    p->stream = nullptr;
    Settled();
    replaced->Pending = 0;
    replaced->HadOld = 0;
    strcpy(replaced->Name, p->target);
    ENUM_ERR_ID status = TKX_CloseFile(stream);
    // The old file's new name is made like any new file, then taken over.
    FILE* placeholder =
        status == eEID_NO_ERROR ? CreateBeside(p->target, "", replaced->Aside, sizeof(replaced->Aside)) : nullptr;
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
