// Stream wrappers used for every file the program writes.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include "OsSeam.h"
#include "TKXFile.h"

FILE* TKX_OpenFile(const char* path, UINT32 mode) {
    const char* how = "rbe";
    if (mode == 1) how = "wbe";
    if (mode == 2) how = "r+be";
    return fopen(path, how);
}

FILE* TKX_OpenRegularFile(const char* path) {
    if (path == nullptr) return nullptr;
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st;
    int flags = fcntl(fd, F_GETFL);
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        close(fd);
        return nullptr;
    }
    FILE* stream = fdopen(fd, "rb");
    if (stream == nullptr) close(fd);
    return stream;
}

UINT8 TKX_DeleteFile(const char* path) { return unlink(path) == 0 ? 1 : 0; }

// A regular file opened for writing is synced so that a saved ROM is on the
// disk, not only in the page cache, when the run reports success.
static bool SyncIfWritten(FILE* stream) {
    int fd = fileno(stream);
    if (fd < 0) return true;
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || (flags & O_ACCMODE) == O_RDONLY) return true;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return true;
    return fsync(fd) == 0;
}

ENUM_ERR_ID TKX_FlushFile(FILE* stream) {
    if (stream == nullptr) return eEID_WRITE_FILE;
    return fflush(stream) == 0 && SyncIfWritten(stream) ? eEID_NO_ERROR : eEID_WRITE_FILE;
}

ENUM_ERR_ID TKX_CloseFile(FILE* stream) {
    if (stream == nullptr) return eEID_WRITE_FILE;
    bool ok = TKX_FlushFile(stream) == eEID_NO_ERROR;
    if (fclose(stream) != 0) ok = false;
    return ok ? eEID_NO_ERROR : eEID_WRITE_FILE;
}

UINT64 TKX_GetFileSize(FILE* stream) {
    if (stream == nullptr) return TKX_FILE_SIZE_UNKNOWN;
    off_t here = ftello(stream);
    if (here < 0 || fseeko(stream, 0, SEEK_END) != 0) return TKX_FILE_SIZE_UNKNOWN;
    off_t end = ftello(stream);
    if (fseeko(stream, here, SEEK_SET) != 0 || end < 0) return TKX_FILE_SIZE_UNKNOWN;
    return static_cast<UINT64>(end);
}

UINT32 TKX_ReadFile(FILE* stream, UINT32 offset, UINT32 size, UINT8* buffer) {
    if (stream == nullptr || fseeko(stream, static_cast<off_t>(offset), SEEK_SET) != 0) return 0;
    return static_cast<UINT32>(fread(buffer, 1, size, stream));
}

UINT32 TKX_WriteFile(FILE* stream, UINT32 offset, UINT32 size, UINT8* buffer) {
    if (stream == nullptr || fseeko(stream, static_cast<off_t>(offset), SEEK_SET) != 0) return 0;
    return static_cast<UINT32>(fwrite(buffer, 1, size, stream));
}
