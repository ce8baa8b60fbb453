// The emulated EFI system partition.
#include "EmuEsp.h"
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include "EmuMachine.h"

static const UINT64 kFatMagic = 0x4d44;

static std::string Kind() { return EmuMachine_Get("esp", "fat"); }

static std::string Directory() { return EmuMachine_Root("/boot/efi"); }

bool EmuEsp_Layout(std::string& error) {
    std::string kind = Kind();
    std::string dir = Directory();
    if (kind == "fat" || kind == "unmounted" || kind == "full") return true;
    if (kind == "none") {
        if (rmdir(dir.c_str()) == 0) return true;
        error = "cannot remove " + dir;
        return false;
    }
    if (kind == "blocked") {
        std::string blocker = dir + "/RECOVERY.CAP";
        if (mkdir(blocker.c_str(), 0755) == 0) return true;
        error = "cannot create " + blocker;
        return false;
    }
    error = "esp must be fat, none, unmounted, blocked or full, not " + kind;
    return false;
}

bool EmuEsp_FsType(const char* path, UINT64& type) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    std::string kind = Kind();
    if (p != Directory() || (kind != "fat" && kind != "blocked" && kind != "full")) return false;
    type = kFatMagic;
    return true;
}

namespace {

// The stream of a file on a full partition: its data goes to the real file
// until the space left is used.
ssize_t FullRead(void* cookie, char* buffer, size_t size) {
    return read(*static_cast<int*>(cookie), buffer, size);
}

ssize_t FullWrite(void* cookie, const char* buffer, size_t size) {
    int fd = *static_cast<int*>(cookie);
    off_t at = lseek(fd, 0, SEEK_CUR);
    if (at < 0) return -1;
    UINT64 space = EmuMachine_GetNum("esp_space", EMU_ESP_FULL_SPACE);
    if (static_cast<UINT64>(at) >= space) {
        errno = ENOSPC;
        return -1;
    }
    UINT64 room = space - static_cast<UINT64>(at);
    return write(fd, buffer, size < room ? size : static_cast<size_t>(room));
}

int FullSeek(void* cookie, off64_t* offset, int whence) {
    off_t at = lseek(*static_cast<int*>(cookie), static_cast<off_t>(*offset), whence);
    if (at < 0) return -1;
    *offset = at;
    return 0;
}

int FullClose(void* cookie) {
    int* fd = static_cast<int*>(cookie);
    int result = close(*fd);
    delete fd;
    return result;
}

}  // namespace

bool EmuEsp_CreateFullFile(const char* path, FILE*& file) {
    std::string prefix = Directory() + "/";
    if (Kind() != "full" || std::string(path).compare(0, prefix.size(), prefix) != 0) return false;
    file = nullptr;
    int fd = open(path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return true;
    cookie_io_functions_t io = {FullRead, FullWrite, FullSeek, FullClose};
    int* cookie = new int(fd);
    file = fopencookie(cookie, "w+", io);
    if (file == nullptr) FullClose(cookie);
    return true;
}
