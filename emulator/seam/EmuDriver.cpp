// The emulated kernel driver. Its node is a symbolic link to the machine's
// physical memory file, so the program's real mmap of the node maps emulated
// physical memory; its requests are decoded from the record bytes alone.
#include "EmuDriver.h"
#include <cerrno>
#include <cstring>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>
#include "EmuKernel.h"
#include "EmuMachine.h"
#include "OsSeam.h"

static const UINT32 kNativeWidth = sizeof(void*) * 8;
static const UINT64 kDmaLimit = 0x1000000;  // buffers lie below 16 MiB
static const UINT32 kMaxBuffers = 128;
static const INT64 kMaxSize = 128 * 1024;

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

// ---- shell commands ---------------------------------------------------------

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

static bool ReadLocal(const std::string& path, std::string& data) {
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0) data.append(buf, n);
    fclose(f);
    return true;
}

static bool WriteLocal(const std::string& path, const std::string& data) {
    FILE* f = fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    fwrite(data.data(), 1, data.size(), f);
    return fclose(f) == 0;
}

static int Insmod(const std::vector<std::string>& w) {
    std::string file = w.size() > 1 ? w[1] : "";
    std::string data;
    const char* result = "loaded";
    int status = 0;
    if (EmuKernel_ModuleLoaded()) {
        result = "busy";
        status = 1;
    } else if (!ReadLocal(file, data)) {
        result = "nofile";
        status = 1;
    } else if (EmuMachine_GetNum("insmod_fails", 0) != 0) {
        result = "refused";
        status = 1;
    } else if (data.compare(0, 4, "\x7f" "ELF") != 0) {
        result = "badformat";
        status = 1;
    }
    if (status == 0) {
        EmuKernel_SetModuleLoaded(true);
        EmuTrace("module insmod file=\"%s\" result=%s major=0x%x", file.c_str(), result, EmuKernel_DriverMajor());
    } else {
        EmuTrace("module insmod file=\"%s\" result=%s", file.c_str(), result);
    }
    return status;
}

static int Rmmod(const std::vector<std::string>& w) {
    std::string name = w.size() > 1 ? w[1] : "";
    bool present = name == "nuvfldrv_mod" && EmuKernel_ModuleLoaded();
    if (present) {
        if (EmuState_GetNum("driver_kb_locked", 0) != 0) EmuTrace("ioctl release kb=on");
        EmuKernel_SetModuleLoaded(false);
    }
    EmuTrace("module rmmod name=\"%s\" result=%s", name.c_str(), present ? "removed" : "absent");
    return present ? 0 : 1;
}

static std::string BuildDirectory() { return EmuMachine_Root(("/lib/modules/" + EmuKernel_Release() + "/build").c_str()); }

// The emulated make: the default target needs the five generated files here
// and a kernel tree with a Makefile; it leaves the core object and the module.
static int FakeMake(const std::vector<std::string>& w) {
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
    if (!missing.empty()) {
        fprintf(stderr, "make: *** No rule to make target '%s'.  Stop.\n", missing.c_str());
        EmuTrace("module make target=\"modules\" kernel=\"%s\" result=failed", kernel.c_str());
        return 2;
    }
    WriteLocal("nuvfldrv.o_shipped", "\x7f" "ELF emulated nuvfldrv core\n");
    WriteLocal("../nuvfldrv_mod", EmuKernel_FakeModule);
    EmuTrace("module make target=\"modules\" kernel=\"%s\" result=built", kernel.c_str());
    return 0;
}

bool EmuDriver_System(const char* command, int& status) {
    std::vector<std::string> w = Words(OsSeam_ShellText(command).c_str());
    if (w.empty()) return false;
    if (w[0] == "insmod") status = Insmod(w);
    else if (w[0] == "rmmod") status = Rmmod(w);
    else if (w[0] == "make" && EmuMachine_Get("driver_build", "real") == "fake") status = FakeMake(w);
    else return false;
    return true;
}

std::string EmuDriver_RealMakeText(const char* command) {
    std::vector<std::string> w = Words(command);
    std::string text = command;
    if (w.empty() || w[0] != "make" || text.find("KERNEL=") != std::string::npos) return text;
    size_t at = text.find("make") + 4;
    return text.substr(0, at) + " 'KERNEL=" + BuildDirectory() + "'" + text.substr(at);
}

FILE* EmuDriver_Popen(const char* command, const char* mode) {
    std::vector<std::string> w = Words(command);
    if (w.empty() || w[0] != "uname") return nullptr;
    std::string answer = w.size() > 1 && w[1] == "-m" ? "x86_64" : EmuKernel_Release();
    std::string quoted;
    for (char c : answer) {
        if (c == '\'') quoted += "'\\''";
        else quoted += c;
    }
    return popen(("printf '%s\\n' '" + quoted + "'").c_str(), mode);
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
    if (driverNode) return symlink(EmuMachine_Root("/dev/mem").c_str(), path);
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

static UINT64 KernelAddress(UINT64 phys) { return (kNativeWidth == 64 ? 0xFFFF888000000000ULL : 0xC0000000ULL) + phys; }

static int Fail(int error) {
    errno = error;
    return -1;
}

static int Alloc(void* arg) {
    if (arg == nullptr) {
        EmuTrace("ioctl req=0x4160 result=einval");
        return Fail(EINVAL);
    }
    UINT8* bytes = static_cast<UINT8*>(arg);
    EmuDrvAlloc r = EmuDriver_DecodeAlloc(bytes, kNativeWidth);
    std::vector<Buffer> list = LoadBuffers();
    if (list.size() >= kMaxBuffers || r.size <= 0 || r.size > kMaxSize) {
        EmuTrace("ioctl req=0x4160 size=0x%llx result=einval", static_cast<unsigned long long>(r.size));
        return Fail(EINVAL);
    }
    UINT64 len = (static_cast<UINT64>(r.size) + 0xFFF) & ~0xFFFULL;
    UINT64 phys = EmuMachine_GetNum("driver_alloc_base", 0x800000);
    for (const Buffer& b : list) {
        if (b.phys + b.len + 0x2000 > phys) phys = b.phys + b.len + 0x2000;
    }
    if (static_cast<UINT64>(r.size) > EmuMachine_GetNum("driver_alloc_limit", kMaxSize) || phys + len > kDmaLimit) {
        EmuTrace("ioctl req=0x4160 size=0x%llx result=enomem", static_cast<unsigned long long>(r.size));
        return Fail(ENOMEM);
    }
    std::vector<UINT32> words(len / 4);
    for (UINT32 i = 0; i < words.size(); ++i) words[i] = (0xAFD0u << 16) + i;
    EmuPhys_Write(phys, words.data(), static_cast<UINT32>(len));
    list.push_back({phys, len});
    SaveBuffers(list);
    r.kvirtadd = KernelAddress(phys);
    r.kphysadd = phys;
    EmuDriver_EncodeAlloc(r, kNativeWidth, bytes);
    EmuTrace("ioctl req=0x4160 size=0x%llx phys=0x%08llx result=ok", static_cast<unsigned long long>(r.size),
             static_cast<unsigned long long>(phys));
    return 0;
}

static int Free(void* arg) {
    if (arg == nullptr) {
        EmuTrace("ioctl req=0x4161 result=einval");
        return Fail(EINVAL);
    }
    EmuDrvAlloc r = EmuDriver_DecodeAlloc(static_cast<UINT8*>(arg), kNativeWidth);
    std::vector<Buffer> list = LoadBuffers();
    const char* result = "unknown";
    for (size_t i = 0; i < list.size(); ++i) {
        if (list[i].phys == r.kphysadd) {
            list[i] = list.back();
            list.pop_back();
            result = "freed";
            break;
        }
    }
    SaveBuffers(list);
    EmuTrace("ioctl req=0x4161 phys=0x%08llx result=%s", static_cast<unsigned long long>(r.kphysadd), result);
    return 0;
}

// The driver keeps one locked flag: it locks only when unlocked and unlocks
// only when locked, so the kernel's enable and disable stay balanced.
static int KeyboardLock(bool lock) {
    bool locked = EmuState_GetNum("driver_kb_locked", 0) != 0;
    const char* result = "unchanged";
    if (lock != locked) {
        EmuState_SetNum("driver_kb_locked", lock ? 1 : 0);
        result = lock ? "off" : "on";
    }
    EmuTrace("ioctl req=0x%x kb=%s", lock ? 0x4162 : 0x4163, result);
    return 0;
}

static int PortWrite(void* arg) {
    if (arg == nullptr) {
        EmuTrace("ioctl req=0x4166 result=einval");
        return Fail(EINVAL);
    }
    UINT8* bytes = static_cast<UINT8*>(arg);
    EmuDrvPortWrite r = EmuDriver_DecodePortWrite(bytes, kNativeWidth);
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

void EmuDriver_Close(int fd) {
    if (IsDriverDevice(fd)) {
        bool locked = EmuState_GetNum("driver_kb_locked", 0) != 0;
        if (locked) EmuState_SetNum("driver_kb_locked", 0);
        EmuTrace("ioctl release kb=%s", locked ? "on" : "unchanged");
    }
}
