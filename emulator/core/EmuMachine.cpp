// Machine directory, settings, state files, trace, physical memory and flash.
// The files a run touches on every request (flash.bin, root/dev/mem,
// trace.log) stay open from their first use until the machine is reloaded,
// and the state files are read once and written through: every answer is on
// disk when the request returns, so a run killed midway leaves every request
// answered before in the machine's files. Physical memory is reached through
// shared mappings of root/dev/mem, as the program reaches it (writes land in
// the file's pages at once); a range the file does not hold, or a file that
// cannot be mapped, is read and written through the file instead.
#include "EmuMachine.h"
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

static std::map<std::string, std::string> s_Settings;
static bool s_Loaded = false;

// One machine file kept open: for reading and writing where it may be
// written, else for reading only.
struct EmuOpenFile {
    int Fd = -1;
    bool Writable = false;
    UINT64 Size = 0;  // as it was opened: no request changes a machine file's size
};
static EmuOpenFile s_Flash, s_Memory;
static int s_TraceFd = -1;
static bool s_StateDirMade = false;
// State files as last read or written; a missing file is remembered as such.
struct EmuStateFile {
    bool Present = false;
    std::string Value;
};
static std::map<std::string, EmuStateFile> s_State;

// Windows of physical memory mapped so far: whole 1 MiB pieces of
// root/dev/mem, kept until the machine is reloaded (a run touches a few).
struct EmuPhysWindow {
    UINT64 Start = 0;
    UINT64 Length = 0;
    UINT8* Bytes = nullptr;
};
static std::vector<EmuPhysWindow> s_Windows;
static const UINT64 kWindowAlign = 0x100000;
static const size_t kMostWindows = 64;

// Pages of flash.bin that this process erased and has not written since: a
// write that lands wholly on them needs no read of the old bytes (ANDed into
// erased bytes, the new bytes are the result).
static std::vector<UINT8> s_ErasedPages;
static const UINT32 kFlashPage = 0x1000;

static void CloseFile(EmuOpenFile& file) {
    if (file.Fd >= 0) close(file.Fd);
    file = EmuOpenFile();
}

static void UnmapWindows() {
    for (const EmuPhysWindow& w : s_Windows) munmap(w.Bytes, static_cast<size_t>(w.Length));
    s_Windows.clear();
}

// Forgets every open file and cached state: the next request opens and
// reads the machine's files again.
static void ForgetFiles() {
    UnmapWindows();
    s_ErasedPages.clear();
    CloseFile(s_Flash);
    CloseFile(s_Memory);
    if (s_TraceFd >= 0) close(s_TraceFd);
    s_TraceFd = -1;
    s_StateDirMade = false;
    s_State.clear();
}

const std::string& EmuMachine_Dir() {
    static std::string dir;
    static bool done = false;
    if (!done) {
        const char* env = getenv("YOZ_EMU_MACHINE");
        dir = env != nullptr ? env : "";
        done = true;
    }
    return dir;
}

std::string EmuMachine_File(const char* name) { return EmuMachine_Dir() + "/" + name; }
std::string EmuMachine_Root(const char* path) { return EmuMachine_Dir() + "/root" + path; }

bool EmuParseNum(const std::string& text, UINT64& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    value = strtoull(text.c_str(), &end, 0);
    return end != nullptr && *end == '\0';
}

std::string EmuHexBytes(const std::string& hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        UINT64 v = 0;
        if (!EmuParseNum("0x" + hex.substr(i, 2), v)) break;
        bytes += static_cast<char>(v);
    }
    return bytes;
}

void EmuMachine_Reload() {
    ForgetFiles();
    s_Settings.clear();
    s_Loaded = true;
    FILE* f = fopen(EmuMachine_File("machine.ini").c_str(), "r");
    if (f == nullptr) return;
    char line[4096];
    while (fgets(line, sizeof(line), f) != nullptr) {
        std::string s(line);
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
        if (s.empty() || s[0] == '#') continue;
        size_t eq = s.find('=');
        if (eq == std::string::npos) continue;
        s_Settings[s.substr(0, eq)] = s.substr(eq + 1);
    }
    fclose(f);
}

static void LoadOnce() {
    if (!s_Loaded) EmuMachine_Reload();
}

bool EmuMachine_Has(const char* key) {
    LoadOnce();
    return s_Settings.count(key) != 0;
}

std::string EmuMachine_Get(const char* key, const char* fallback) {
    LoadOnce();
    auto it = s_Settings.find(key);
    return it == s_Settings.end() ? std::string(fallback) : it->second;
}

UINT64 EmuMachine_GetNum(const char* key, UINT64 fallback) {
    UINT64 v = 0;
    return EmuParseNum(EmuMachine_Get(key, ""), v) ? v : fallback;
}

std::string EmuState_File(const char* name) {
    std::string dir = EmuMachine_File("state");
    if (!s_StateDirMade) {
        mkdir(dir.c_str(), 0755);
        s_StateDirMade = true;
    }
    return dir + "/" + name;
}

std::string EmuState_Get(const char* name, const char* fallback) {
    auto cached = s_State.find(name);
    if (cached != s_State.end()) return cached->second.Present ? cached->second.Value : std::string(fallback);
    FILE* f = fopen(EmuState_File(name).c_str(), "r");
    if (f == nullptr) {
        s_State[name] = EmuStateFile();
        return fallback;
    }
    std::string s;
    char buf[256];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0) s.append(buf, n);
    bool ok = ferror(f) == 0;
    fclose(f);
    if (ok) s_State[name] = EmuStateFile{true, s};
    return s;
}

void EmuState_Set(const char* name, const std::string& value) {
    s_State.erase(name);
    FILE* f = fopen(EmuState_File(name).c_str(), "w");
    if (f == nullptr) return;
    size_t written = fwrite(value.data(), 1, value.size(), f);
    if (fclose(f) == 0 && written == value.size()) s_State[name] = EmuStateFile{true, value};
}

UINT64 EmuState_GetNum(const char* name, UINT64 fallback) {
    UINT64 v = 0;
    return EmuParseNum(EmuState_Get(name, ""), v) ? v : fallback;
}

void EmuState_SetNum(const char* name, UINT64 value) {
    char buf[32];
    snprintf(buf, sizeof(buf), "0x%llx", static_cast<unsigned long long>(value));
    EmuState_Set(name, buf);
}

void EmuTrace(const char* format, ...) {
    char line[8192];
    va_list ap;
    va_start(ap, format);
    int n = vsnprintf(line, sizeof(line) - 1, format, ap);
    va_end(ap);
    if (n < 0) return;
    if (n > static_cast<int>(sizeof(line)) - 2) n = sizeof(line) - 2;
    line[n++] = '\n';
    if (s_TraceFd < 0) s_TraceFd = open(EmuMachine_File("trace.log").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (s_TraceFd < 0) return;
    ssize_t w = write(s_TraceFd, line, static_cast<size_t>(n));
    (void)w;
}

// Opens the file on first use (a file that cannot be opened is tried again
// next time): for reading and writing where it may be written.
static bool Open(EmuOpenFile& file, const std::string& path) {
    if (file.Fd >= 0) return true;
    file.Fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    file.Writable = file.Fd >= 0;
    if (file.Fd < 0) file.Fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (file.Fd >= 0 && fstat(file.Fd, &st) != 0) CloseFile(file);
    if (file.Fd >= 0) file.Size = static_cast<UINT64>(st.st_size);
    return file.Fd >= 0;
}

static bool FileIo(EmuOpenFile& file, const std::string& path, bool writing, UINT64 offset, void* buffer,
                   UINT32 size) {
    if (!Open(file, path) || (writing && !file.Writable)) return false;
    ssize_t n = writing ? pwrite(file.Fd, buffer, size, static_cast<off_t>(offset))
                        : pread(file.Fd, buffer, size, static_cast<off_t>(offset));
    return n == static_cast<ssize_t>(size);
}

// The bytes of physical memory [address, address + size) in a shared
// mapping of root/dev/mem, or null where the file does not hold the whole
// range or cannot be mapped for writing.
static UINT8* PhysBytes(UINT64 address, UINT32 size) {
    if (!Open(s_Memory, EmuMachine_Root("/dev/mem")) || !s_Memory.Writable || size == 0) return nullptr;
    UINT64 end = address + size;
    if (end > s_Memory.Size) return nullptr;
    for (const EmuPhysWindow& w : s_Windows) {
        if (w.Start <= address && end <= w.Start + w.Length) return w.Bytes + (address - w.Start);
    }
    if (s_Windows.size() >= kMostWindows) UnmapWindows();
    UINT64 start = address & ~(kWindowAlign - 1);
    UINT64 stop = (end + kWindowAlign - 1) & ~(kWindowAlign - 1);
    if (stop > s_Memory.Size) stop = end;
    void* p = mmap(nullptr, static_cast<size_t>(stop - start), PROT_READ | PROT_WRITE, MAP_SHARED, s_Memory.Fd,
                   static_cast<off_t>(start));
    if (p == MAP_FAILED) return nullptr;
    s_Windows.push_back(EmuPhysWindow{start, stop - start, static_cast<UINT8*>(p)});
    return static_cast<UINT8*>(p) + (address - start);
}

bool EmuPhys_IsOwnWindow(const void* start) {
    for (const EmuPhysWindow& w : s_Windows) {
        if (w.Bytes == start) return true;
    }
    return false;
}

const UINT8* EmuPhys_Bytes(UINT64 address, UINT32 size) {
    if (address + size > 0x100000000ULL) return nullptr;
    return PhysBytes(address, size);
}

bool EmuPhys_Read(UINT64 address, void* buffer, UINT32 size) {
    if (address + size > 0x100000000ULL) return false;
    const UINT8* bytes = PhysBytes(address, size);
    if (bytes == nullptr) return FileIo(s_Memory, EmuMachine_Root("/dev/mem"), false, address, buffer, size);
    memcpy(buffer, bytes, size);
    return true;
}

bool EmuPhys_Write(UINT64 address, const void* buffer, UINT32 size) {
    if (address + size > 0x100000000ULL) return false;
    UINT8* bytes = PhysBytes(address, size);
    if (bytes == nullptr) return FileIo(s_Memory, EmuMachine_Root("/dev/mem"), true, address, const_cast<void*>(buffer), size);
    memcpy(bytes, buffer, size);
    return true;
}

UINT32 EmuFlash_Size() {
    if (s_Flash.Fd < 0 && !Open(s_Flash, EmuMachine_File("flash.bin"))) return 0;
    return static_cast<UINT32>(s_Flash.Size);
}

bool EmuFlash_Read(UINT32 offset, void* buffer, UINT32 size) {
    if (static_cast<UINT64>(offset) + size > EmuFlash_Size()) return false;
    return FileIo(s_Flash, EmuMachine_File("flash.bin"), false, offset, buffer, size);
}

// Marks the pages wholly inside [offset, offset + size) erased, or clears
// every page the range touches.
static void MarkPages(UINT32 offset, UINT32 size, bool erased) {
    if (size == 0) return;
    UINT64 end = static_cast<UINT64>(offset) + size;
    UINT64 first = erased ? (offset + kFlashPage - 1) / kFlashPage : offset / kFlashPage;
    UINT64 last = erased ? end / kFlashPage : (end + kFlashPage - 1) / kFlashPage;  // one past
    if (erased && s_ErasedPages.size() < last) s_ErasedPages.resize(static_cast<size_t>(last), 0);
    for (UINT64 page = first; page < last && page < s_ErasedPages.size(); ++page)
        s_ErasedPages[static_cast<size_t>(page)] = erased ? 1 : 0;
}

static bool PagesErased(UINT32 offset, UINT32 size) {
    if (size == 0) return false;
    UINT64 end = static_cast<UINT64>(offset) + size;
    for (UINT64 page = offset / kFlashPage; page * kFlashPage < end; ++page) {
        if (page >= s_ErasedPages.size() || s_ErasedPages[static_cast<size_t>(page)] == 0) return false;
    }
    return true;
}

bool EmuFlash_Write(UINT32 offset, const void* buffer, UINT32 size) {
    if (static_cast<UINT64>(offset) + size > EmuFlash_Size()) return false;
    MarkPages(offset, size, false);
    return FileIo(s_Flash, EmuMachine_File("flash.bin"), true, offset, const_cast<void*>(buffer), size);
}

bool EmuFlash_Erase(UINT32 offset, UINT32 size) {
    static std::vector<UINT8> erased;  // as many 0xFF bytes as the largest erase so far
    if (erased.size() < size) erased.assign(size, 0xFF);
    if (!EmuFlash_Write(offset, erased.data(), size)) return false;
    MarkPages(offset, size, true);
    return true;
}

// old &= given, a machine word at a time.
static void AndInto(UINT8* __restrict old, const UINT8* __restrict given, UINT32 size) {
    UINT32 i = 0;
    for (; i + 8 <= size; i += 8) {
        UINT64 a, b;
        memcpy(&a, old + i, 8);
        memcpy(&b, given + i, 8);
        a &= b;
        memcpy(old + i, &a, 8);
    }
    for (; i < size; ++i) old[i] &= given[i];
}

bool EmuFlash_Program(UINT32 offset, const void* buffer, UINT32 size) {
    if (EmuMachine_GetNum("flash_nor", 1) == 0 || PagesErased(offset, size)) return EmuFlash_Write(offset, buffer, size);
    static std::vector<UINT8> bytes;  // one buffer for a run's writes
    bytes.resize(size);
    if (!EmuFlash_Read(offset, bytes.data(), size)) return false;
    AndInto(bytes.data(), static_cast<const UINT8*>(buffer), size);
    return EmuFlash_Write(offset, bytes.data(), size);
}

bool EmuFlash_CopyToPhys(UINT32 offset, UINT64 address, UINT32 size) {
    if (static_cast<UINT64>(offset) + size > EmuFlash_Size() || address + size > 0x100000000ULL) return false;
    if (!Open(s_Flash, EmuMachine_File("flash.bin")) || !Open(s_Memory, EmuMachine_Root("/dev/mem")) ||
        !s_Memory.Writable)
        return false;
    // Straight from the flash file into the mapped memory: one copy.
    UINT8* bytes = PhysBytes(address, size);
    if (bytes != nullptr) return pread(s_Flash.Fd, bytes, size, static_cast<off_t>(offset)) == static_cast<ssize_t>(size);
    // Inside the kernel, one copy; where the files cannot be copied so (other
    // file systems, an older kernel), through a buffer.
    loff_t from = offset, to = static_cast<loff_t>(address);
    UINT32 left = size;
    while (left > 0) {
        ssize_t n = copy_file_range(s_Flash.Fd, &from, s_Memory.Fd, &to, left, 0);
        if (n <= 0) break;
        left -= static_cast<UINT32>(n);
    }
    if (left == 0) return true;
    static std::vector<UINT8> bounce;
    bounce.resize(left);
    UINT32 done = size - left;
    return EmuFlash_Read(offset + done, bounce.data(), left) && EmuPhys_Write(address + done, bounce.data(), left);
}
