// The emulated kernel driver. Its node is a symbolic link to the machine's
// physical memory file, so the program's real mmap of the node maps emulated
// physical memory; its requests are decoded from the record bytes alone and
// judged by the generated driver's own core (EmuDriverCore.c): its port
// rule, buffer caps, table and keyboard line. The table and the line are
// kept in the machine's state between runs and handed to the core for each
// request.
#include "EmuDriver.h"
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>
#include "EmuAcpi.h"
#include "EmuDriverCore.h"
#include "EmuDriverWrap.h"
#include "EmuKernel.h"
#include "EmuMachine.h"
#include "EmuSmi.h"
#include "OsSeam.h"

static const UINT32 kNativeWidth = sizeof(void*) * 8;

// ---- record layouts -------------------------------------------------------

static UINT64 GetWord(const UINT8* p, UINT32 bytes) {
    UINT64 v = 0;
    for (UINT32 i = 0; i < bytes; ++i) v |= static_cast<UINT64>(p[i]) << (8 * i);
    return v;
}

static void PutWord(UINT8* p, UINT32 bytes, UINT64 v) {
    for (UINT32 i = 0; i < bytes; ++i) p[i] = static_cast<UINT8>(v >> (8 * i));
}

UINT32 EmuDriver_AllocSize(UINT32 width) { return width / 8 * 5; }
UINT32 EmuDriver_PortWriteSize(UINT32 width) { return 3 + width / 8 * 7; }

EmuDrvAlloc EmuDriver_DecodeAlloc(const UINT8* b, UINT32 width) {
    UINT32 w = width / 8;
    EmuDrvAlloc r;
    UINT64 size = GetWord(b, w);
    r.size = w == 8 ? static_cast<INT64>(size) : static_cast<INT64>(static_cast<INT32>(size));
    r.kvirtlen = GetWord(b + w, w);
    r.kmallocptr = GetWord(b + 2 * w, w);
    r.kvirtadd = GetWord(b + 3 * w, w);
    r.kphysadd = GetWord(b + 4 * w, w);
    return r;
}

void EmuDriver_EncodeAlloc(const EmuDrvAlloc& r, UINT32 width, UINT8* b) {
    UINT32 w = width / 8;
    PutWord(b, w, static_cast<UINT64>(r.size));
    PutWord(b + w, w, r.kvirtlen);
    PutWord(b + 2 * w, w, r.kmallocptr);
    PutWord(b + 3 * w, w, r.kvirtadd);
    PutWord(b + 4 * w, w, r.kphysadd);
}

EmuDrvPortWrite EmuDriver_DecodePortWrite(const UINT8* b, UINT32 width) {
    UINT32 w = width / 8;
    EmuDrvPortWrite r;
    r.Port = static_cast<UINT16>(GetWord(b, 2));
    r.Value = b[2];
    UINT64* regs[] = {&r.Edi, &r.Esi, &r.Ebp, &r.Ebx, &r.Edx, &r.Ecx, &r.Eax};
    for (UINT32 i = 0; i < 7; ++i) *regs[i] = GetWord(b + 3 + i * w, w);
    return r;
}

void EmuDriver_EncodePortWrite(const EmuDrvPortWrite& r, UINT32 width, UINT8* b) {
    UINT32 w = width / 8;
    PutWord(b, 2, r.Port);
    b[2] = r.Value;
    const UINT64 regs[] = {r.Edi, r.Esi, r.Ebp, r.Ebx, r.Edx, r.Ecx, r.Eax};
    for (UINT32 i = 0; i < 7; ++i) PutWord(b + 3 + i * w, w, regs[i]);
}

static int Fail(int error) {
    errno = error;
    return -1;
}

// ---- shell commands and the module ------------------------------------------

// Words of a command, quotes removed; redirections and what follows dropped.
static std::vector<std::string> Words(const char* command) {
    std::vector<std::string> words;
    std::string cur;
    bool inWord = false;
    char quote = 0;
    for (const char* p = command; *p != '\0'; ++p) {
        char c = *p;
        if (quote != 0) {
            if (c == quote) quote = 0;
            else cur += c;
            continue;
        }
        if (c == '\'' || c == '"') {
            quote = c;
            inWord = true;
        } else if (c == ' ' || c == '\t') {
            if (inWord) words.push_back(cur);
            cur.clear();
            inWord = false;
        } else if (c == '>' || c == '<' || c == '|' || c == ';' || c == '&' ||
                   (c == '2' && !inWord && p[1] == '>')) {
            break;
        } else {
            cur += c;
            inWord = true;
        }
    }
    if (inWord) words.push_back(cur);
    return words;
}

static bool WriteLocal(const std::string& path, const std::string& data) {
    FILE* f = fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    fwrite(data.data(), 1, data.size(), f);
    return fclose(f) == 0;
}

// The kernel reads the module from the descriptor it is given; a module
// already loaded, a refused one or a file that is no ELF object is not loaded.
int EmuDriver_LoadModule(int fd) {
    char head[4] = {0};
    const char* result = "loaded";
    int error = 0;
    if (EmuKernel_ModuleLoaded()) {
        result = "busy";
        error = EEXIST;
    } else if (pread(fd, head, sizeof(head), 0) != static_cast<ssize_t>(sizeof(head)) ||
               memcmp(head, "\x7f" "ELF", 4) != 0) {
        result = "badformat";
        error = ENOEXEC;
    } else if (EmuMachine_GetNum("insmod_fails", 0) != 0) {
        result = "refused";
        error = EPERM;
    } else if (EmuKernel_LockedDown() && EmuMachine_GetNum("module_signed", 0) == 0) {
        result = "unsigned";
        error = EKEYREJECTED;
    }
    if (error != 0) {
        EmuTrace("module load result=%s", result);
        return Fail(error);
    }
    EmuKernel_SetModuleLoaded(true);
    EmuTrace("module load result=loaded major=0x%x", EmuKernel_DriverMajor());
    return 0;
}

int EmuDriver_UnloadModule(const char* name) {
    bool present = strcmp(name, "nuvfldrv_mod") == 0 && EmuKernel_ModuleLoaded();
    if (present) {
        if (EmuState_GetNum("driver_kb_locked", 0) != 0) EmuTrace("ioctl release kb=on");
        EmuKernel_SetModuleLoaded(false);
    }
    EmuTrace("module unload name=\"%s\" result=%s", name, present ? "removed" : "absent");
    return present ? 0 : Fail(ENOENT);
}

static std::string BuildDirectory() { return EmuMachine_Root(("/lib/modules/" + EmuKernel_Release() + "/build").c_str()); }

// The file a command sends its standard error to ("2> FILE"), or empty.
static std::string ErrorRedirect(const std::string& command) {
    size_t at = command.find("2>");
    if (at == std::string::npos || (at > 0 && command[at - 1] != ' ')) return "";
    at = command.find_first_not_of(' ', at + 2);
    if (at == std::string::npos) return "";
    return command.substr(at, command.find(' ', at) - at);
}

// The emulated make: the default target needs the five generated files here
// and a kernel tree with a Makefile; it leaves the core object and the module.
// Its error goes where the command sends standard error.
static int FakeMake(const std::vector<std::string>& w, const std::string& errorFile) {
    std::string kernel = BuildDirectory();
    bool clean = false;
    for (size_t i = 1; i < w.size(); ++i) {
        if (w[i].compare(0, 7, "KERNEL=") == 0) kernel = w[i].substr(7);
        else if (w[i] == "clean") clean = true;
    }
    if (clean) {
        EmuTrace("module make target=\"clean\" result=ok");
        return 0;
    }
    const char* files[] = {"Makefile", "nuvwrap.c", "nuvwrap.h", "nuvfldrv.c", "nuvfldrv.h"};
    std::string missing, data;
    for (const char* f : files) {
        if (access(f, R_OK) != 0) missing = f;
    }
    struct stat st;
    if (missing.empty() && stat((kernel + "/Makefile").c_str(), &st) != 0) missing = kernel + "/Makefile";
    if (missing.empty() && EmuMachine_GetNum("make_fails", 0) != 0) missing = "(make_fails)";
    FILE* err = errorFile.empty() ? stderr : fopen(errorFile.c_str(), "w");
    if (!missing.empty() && err != nullptr) fprintf(err, "make: *** No rule to make target '%s'.  Stop.\n", missing.c_str());
    if (err != nullptr && err != stderr) fclose(err);
    if (!missing.empty()) {
        EmuTrace("module make target=\"modules\" kernel=\"%s\" result=failed", kernel.c_str());
        return 2;
    }
    WriteLocal("nuvfldrv.o_shipped", "\x7f" "ELF emulated nuvfldrv core\n");
    WriteLocal("../nuvfldrv_mod", EmuKernel_FakeModule);
    EmuTrace("module make target=\"modules\" kernel=\"%s\" result=built", kernel.c_str());
    return 0;
}

bool EmuDriver_System(const char* command, int& status) {
    std::string text = OsSeam_ShellText(command);
    std::vector<std::string> w = Words(text.c_str());
    if (w.empty() || w[0] != "make" || EmuMachine_Get("driver_build", "real") != "fake") return false;
    status = FakeMake(w, ErrorRedirect(text));
    return true;
}

// ---- the device -------------------------------------------------------------

int EmuDriver_Mknod(const char* path, unsigned int mode, unsigned long long dev) {
    EmuTrace("mknod path=\"%s\" mode=0x%x dev=0x%llx", path, mode, dev);
    if (EmuMachine_GetNum("mknod_fails", 0) != 0) {
        errno = EPERM;
        return -1;
    }
    struct stat st;
    if (lstat(path, &st) == 0) {
        errno = EEXIST;
        return -1;
    }
    bool driverNode = S_ISCHR(mode) && EmuKernel_ModuleLoaded() && major(static_cast<dev_t>(dev)) == EmuKernel_DriverMajor();
    // A second name of the physical memory file: opened without following
    // links, as the program opens its node.
    if (driverNode) return link(EmuMachine_Root("/dev/mem").c_str(), path);
    // Any other node opens but answers no request.
    FILE* f = fopen(path, "w");
    if (f == nullptr) return -1;
    fclose(f);
    return 0;
}

static bool IsDriverDevice(int fd) {
    struct stat a, b;
    if (!EmuKernel_ModuleLoaded() || fstat(fd, &a) != 0) return false;
    if (stat(EmuMachine_Root("/dev/mem").c_str(), &b) != 0) return false;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

int EmuDriver_OpenNode(const char* path) {
    int fd = open(path, O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return -1;
    if (!IsDriverDevice(fd)) {
        close(fd);
        return Fail(ENODEV);
    }
    return fd;
}

struct Buffer {
    UINT64 phys;
    UINT64 len;
};

static std::vector<Buffer> LoadBuffers() {
    std::vector<Buffer> list;
    std::istringstream in(EmuState_Get("driver_buffers", ""));
    Buffer b;
    while (in >> std::hex >> b.phys >> b.len) list.push_back(b);
    return list;
}

static void SaveBuffers(const std::vector<Buffer>& list) {
    std::ostringstream out;
    for (const Buffer& b : list) out << std::hex << b.phys << ' ' << b.len << '\n';
    EmuState_Set("driver_buffers", out.str());
}

// Whether the program maps any byte of [phys, phys + len) of physical memory
// (its mappings of the memory file, through the node or otherwise; the
// emulator's own windows do not count).
static bool IsMapped(UINT64 phys, UINT64 len) {
    struct stat mem;
    FILE* maps = fopen("/proc/self/maps", "re");
    if (maps == nullptr || stat(EmuMachine_Root("/dev/mem").c_str(), &mem) != 0) {
        if (maps != nullptr) fclose(maps);
        return false;
    }
    bool mapped = false;
    char line[4096];
    while (!mapped && fgets(line, sizeof(line), maps) != nullptr) {
        unsigned long long start, end, offset, inode;
        unsigned int devMajor, devMinor;
        if (sscanf(line, "%llx-%llx %*s %llx %x:%x %llu", &start, &end, &offset, &devMajor, &devMinor, &inode) != 6) continue;
        bool memFile = inode == mem.st_ino && devMajor == major(mem.st_dev) && devMinor == minor(mem.st_dev) &&
                       !EmuPhys_IsOwnWindow(reinterpret_cast<void*>(static_cast<uintptr_t>(start)));
        mapped = memFile && offset < phys + len && phys < offset + (end - start);
    }
    fclose(maps);
    return mapped;
}

// The core as the module holds it: loaded with the ports the firmware
// publishes now, its buffers and keyboard line as the driver left them;
// `mapped` names the buffer a mapping of which exists (the one a free asks
// for), or is past the list.
static void LoadCore(const std::vector<Buffer>& list, size_t mapped) {
    nuvfldrv_init();
    std::vector<unsigned long> phys, len;
    std::vector<int> maps;
    for (size_t i = 0; i < list.size(); ++i) {
        phys.push_back(static_cast<unsigned long>(list[i].phys));
        len.push_back(static_cast<unsigned long>(list[i].len));
        maps.push_back(i == mapped ? 1 : 0);
    }
    EmuDriverCore_SetBuffers(static_cast<int>(list.size()), phys.data(), len.data(), maps.data());
    EmuDriverCore_SetKeyboardLocked(EmuState_GetNum("driver_kb_locked", 0) != 0 ? 1 : 0);
}

static void SaveCore() {
    std::vector<Buffer> list;
    for (int i = 0; i < EmuDriverCore_BufferCount(); ++i) {
        unsigned long phys = 0, len = 0;
        void* area = nullptr;
        int mapped = 0;
        EmuDriverCore_Buffer(i, &phys, &len, &area, &mapped);
        list.push_back({phys, len});
    }
    SaveBuffers(list);
    EmuState_SetNum("driver_kb_locked", EmuDriverCore_KeyboardLocked() != 0 ? 1 : 0);
}

static int Alloc(void* arg) {
    if (arg == nullptr) {
        EmuTrace("ioctl req=0x4160 result=einval");
        return Fail(EINVAL);
    }
    UINT8* bytes = static_cast<UINT8*>(arg);
    EmuDrvAlloc r = EmuDriver_DecodeAlloc(bytes, kNativeWidth);
    std::vector<Buffer> list = LoadBuffers();
    // The emulated kernel places a buffer two pages after the last one.
    UINT64 phys = EmuMachine_GetNum("driver_alloc_base", 0x800000);
    for (const Buffer& b : list) {
        if (b.phys + b.len + 0x2000 > phys) phys = b.phys + b.len + 0x2000;
    }
    EmuDriverWrap_PlanAllocation({r.size > 0 ? static_cast<UINT64>(r.size) : 0,
                                  EmuMachine_GetNum("driver_alloc_limit", NUVFLDRV_MAX_SIZE), phys});
    LoadCore(list, list.size());
    long rc = nuvfldrv_ioctl(CMD_ALLOC, bytes, 0);
    if (rc != 0) {
        EmuTrace("ioctl req=0x4160 size=0x%llx result=%s", static_cast<unsigned long long>(r.size),
                 rc == -NUV_EINVAL ? "einval" : "enomem");
        return Fail(rc == -NUV_EINVAL ? EINVAL : ENOMEM);
    }
    // The area the core filled goes to its place in physical memory.
    int last = EmuDriverCore_BufferCount() - 1;
    unsigned long at = 0, len = 0;
    void* area = nullptr;
    int mapped = 0;
    EmuDriverCore_Buffer(last, &at, &len, &area, &mapped);
    EmuPhys_Write(at, area, static_cast<UINT32>(len));
    EmuDriverCore_DropArea(last);
    SaveCore();
    EmuTrace("ioctl req=0x4160 size=0x%llx phys=0x%08llx result=ok", static_cast<unsigned long long>(r.size),
             static_cast<unsigned long long>(at));
    return 0;
}

static int Free(void* arg) {
    if (arg == nullptr) {
        EmuTrace("ioctl req=0x4161 result=einval");
        return Fail(EINVAL);
    }
    EmuDrvAlloc r = EmuDriver_DecodeAlloc(static_cast<UINT8*>(arg), kNativeWidth);
    std::vector<Buffer> list = LoadBuffers();
    size_t match = list.size();
    for (size_t i = 0; i < list.size() && match == list.size(); ++i) {
        if (list[i].phys == r.kphysadd) match = i;
    }
    // Its pages stay while a mapping of them does.
    bool mapped = match < list.size() && IsMapped(list[match].phys, list[match].len);
    LoadCore(list, mapped ? match : list.size());
    if (nuvfldrv_ioctl(CMD_FREE, arg, 0) == -NUV_EBUSY) {
        EmuTrace("ioctl req=0x4161 phys=0x%08llx result=ebusy", static_cast<unsigned long long>(r.kphysadd));
        return Fail(EBUSY);
    }
    SaveCore();
    EmuTrace("ioctl req=0x4161 phys=0x%08llx result=%s", static_cast<unsigned long long>(r.kphysadd),
             match < list.size() ? "freed" : "unknown");
    return 0;
}

// The core keeps one locked flag: it locks only when unlocked and unlocks
// only when locked, so the kernel's enable and disable stay balanced.
static int KeyboardLock(bool lock) {
    LoadCore(LoadBuffers(), static_cast<size_t>(-1));
    int before = EmuDriverWrap_KeyboardChanges();
    nuvfldrv_ioctl(lock ? CMD_LOCK_KB : CMD_UNLOCK_KB, nullptr, 0);
    const char* result = EmuDriverWrap_KeyboardChanges() == before ? "unchanged" : lock ? "off" : "on";
    SaveCore();
    EmuTrace("ioctl req=0x%x kb=%s", lock ? 0x4162 : 0x4163, result);
    return 0;
}

// What the driver writes is the core's rule, with the ports its wrapper
// finds (the FADT's, the port of the first "$ASF" record whose header holds
// it) and the kernel's lockdown.
static bool PortAllowed(UINT16 port, UINT8 value) {
    LoadCore(LoadBuffers(), static_cast<size_t>(-1));
    return EmuDriverCore_PortAllowed(port, value) != 0;
}

static int PortWrite(void* arg) {
    if (arg == nullptr) {
        EmuTrace("ioctl req=0x4166 result=einval");
        return Fail(EINVAL);
    }
    UINT8* bytes = static_cast<UINT8*>(arg);
    EmuDrvPortWrite r = EmuDriver_DecodePortWrite(bytes, kNativeWidth);
    if (!PortAllowed(r.Port, r.Value)) {
        EmuTrace("ioctl req=0x4166 port=0x%x value=0x%02x result=eperm", r.Port, r.Value);
        return Fail(EPERM);
    }
    EmuTrace("ioctl req=0x4166 port=0x%x value=0x%02x", r.Port, r.Value);
    TKX_GeneralPurposeRegisterBuffer regs = {};
    regs.Edi = static_cast<UINT32>(r.Edi);
    regs.Esi = static_cast<UINT32>(r.Esi);
    regs.Ebx = static_cast<UINT32>(r.Ebx);
    regs.Ecx = static_cast<UINT32>(r.Ecx);
    OsSeam_OutByteRegs(r.Port, r.Value, regs);
    r.Eax = regs.Eax;
    r.Ebx = regs.Ebx;
    r.Ecx = regs.Ecx;
    r.Edx = regs.Edx;
    r.Esi = regs.Esi;
    r.Edi = regs.Edi;
    EmuDriver_EncodePortWrite(r, kNativeWidth, bytes);
    return 0;
}

int EmuDriver_Ioctl(int fd, unsigned long request, void* arg) {
    if (!IsDriverDevice(fd)) {
        EmuTrace("ioctl fd=%d req=0x%lx result=enotty", fd, request);
        return Fail(ENOTTY);
    }
    switch (request) {
    case 0x4160:
        return Alloc(arg);
    case 0x4161:
        return Free(arg);
    case 0x4162:
        return KeyboardLock(true);
    case 0x4163:
        return KeyboardLock(false);
    case 0x4166:
        return PortWrite(arg);
    default:
        EmuTrace("ioctl req=0x%lx result=enotty", request);
        return Fail(ENOTTY);
    }
}

// The release frees every buffer of the opener and unlocks the keyboard.
void EmuDriver_Close(int fd) {
    if (IsDriverDevice(fd)) {
        std::vector<Buffer> list = LoadBuffers();
        LoadCore(list, list.size());
        bool locked = EmuDriverCore_KeyboardLocked() != 0;
        nuvfldrv_release();
        SaveCore();
        EmuTrace("ioctl release kb=%s%s", locked ? "on" : "unchanged", !list.empty() ? " freed" : "");
    }
}
