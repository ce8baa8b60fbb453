// The emulator's OS seam: the test build's program runs against the machine
// named by YOZ_EMU_MACHINE. Port writes are traced (SMI ports go to the
// emulated firmware), system paths resolve under the machine's root/, the
// emulated kernel loads and unloads the module, shell commands are traced and
// run with their paths rooted (as the shipped program runs them: fixed PATH,
// minimal environment), except host-wide ones and make when the machine's
// driver build is emulated.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>
#include "EmuDriver.h"
#include "EmuEsp.h"
#include "EmuMachine.h"
#include "EmuPorts.h"
#include "EmuSmi.h"
#include "EmuKernel.h"
#include "OsSeam.h"
#include "NewFileOpen.h"
#include "ShellChild.h"

static UINT64 s_VirtualClockUs = 0;

void OsSeam_Start() {
    const std::string& dir = EmuMachine_Dir();
    struct stat st;
    if (dir.empty()) {
        fprintf(stderr, "yozmfglnx_emu: YOZ_EMU_MACHINE is not set; it must name an emulated machine "
                        "directory made by 'yozemu init'.\n");
        exit(2);
    }
    if (stat(EmuMachine_File("machine.ini").c_str(), &st) != 0) {
        fprintf(stderr, "yozmfglnx_emu: %s is not an emulated machine (no machine.ini).\n", dir.c_str());
        exit(2);
    }
}

int OsSeam_SetIoPrivilege(int level) {
    if (level != 0 && (EmuMachine_GetNum("iopl_fails", 0) != 0 || EmuKernel_LockedDown())) {
        EmuTrace("iopl level=0x%x result=fail", level);
        return -1;
    }
    return 0;
}

void OsSeam_OutByteRegs(UINT16 port, UINT8 value, TKX_GeneralPurposeRegisterBuffer& regs) {
    regs.Eax = value;
    regs.Edx = port;
    if (EmuSmi_IsSmiPort(port)) {
        EmuSmi_Dispatch(port, value, regs);
        return;
    }
    OsSeam_OutByte(port, value);
}

UINT8 OsSeam_InByte(UINT16 port) { return EmuPorts_InByte(port); }
UINT16 OsSeam_InWord(UINT16 port) {
    EmuTrace("port in=0x%x", port);
    return 0xFFFF;
}
UINT32 OsSeam_InDword(UINT16 port) {
    EmuTrace("port in=0x%x", port);
    return 0xFFFFFFFF;
}
void OsSeam_OutByte(UINT16 port, UINT8 value) { EmuPorts_OutByte(port, value); }
void OsSeam_OutWord(UINT16 port, UINT16 value) { EmuTrace("port out=0x%x value=0x%04x", port, value); }
void OsSeam_OutDword(UINT16 port, UINT32 value) { EmuTrace("port out=0x%x value=0x%08x", port, value); }

UINT64 OsSeam_Rdtsc() { return s_VirtualClockUs * 1000; }

void OsSeam_DelayUs(UINT32 us) {
    s_VirtualClockUs += us;
    if (EmuMachine_GetNum("trace_delays", 0) != 0) EmuTrace("delay us=0x%x", us);
}

std::string OsSeam_Path(const char* systemPath) {
    if (systemPath == nullptr || systemPath[0] != '/') return systemPath == nullptr ? "" : systemPath;
    // The kernel in lockdown keeps /dev/mem closed: the program finds none.
    if (EmuKernel_LockedDown() && strcmp(systemPath, "/dev/mem") == 0) return EmuMachine_Root("/dev/mem (locked down)");
    return EmuMachine_Root(systemPath);
}

// System paths inside shell text begin with one of these at the start of a word.
static const char* const kRootedPrefixes[] = {"/dev/", "/sys/", "/proc/", "/boot/efi", "/lib/modules"};

std::string OsSeam_ShellText(const char* command) {
    std::string out;
    const char* p = command;
    while (*p != '\0') {
        bool atWordStart = (p == command) || strchr(" \t>\"'=<;|&(", p[-1]) != nullptr;
        bool rooted = false;
        if (atWordStart && *p == '/') {
            for (const char* prefix : kRootedPrefixes) {
                if (strncmp(p, prefix, strlen(prefix)) == 0) {
                    rooted = true;
                    break;
                }
            }
        }
        if (rooted) out += EmuMachine_Dir() + "/root";
        out += *p++;
    }
    return out;
}

std::string OsSeam_KernelRelease() { return EmuKernel_Release(); }
int OsSeam_LoadModule(int fd) { return EmuDriver_LoadModule(fd); }
int OsSeam_UnloadModule(const char* name) { return EmuDriver_UnloadModule(name); }

int OsSeam_Mknod(const char* path, unsigned int mode, unsigned long long dev) {
    return EmuDriver_Mknod(path, mode, dev);
}

int OsSeam_OpenDriverNode(const char* path, int) { return EmuDriver_OpenNode(path); }

int OsSeam_Ioctl(int fd, unsigned long request, void* arg) { return EmuDriver_Ioctl(fd, request, arg); }

int OsSeam_Close(int fd) {
    EmuDriver_Close(fd);
    return close(fd);
}

// The machine's efivarfs directory reports the efivarfs type when the
// machine has that interface (setting efi_vars), its EFI system partition
// the FAT type while it is mounted (setting esp).
UINT64 OsSeam_FsType(const char* path) {
    UINT64 espType = 0;
    if (EmuEsp_FsType(path, espType)) return espType;
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    std::string vars = EmuMachine_Get("efi_vars", "none");
    if (p == EmuMachine_Root("/sys/firmware/efi/efivars") && (vars == "efivars" || vars == "both")) {
        return 0xDE5E81E4;
    }
    struct statfs sfs;
    if (statfs(path, &sfs) != 0) return 0;
    return static_cast<UINT64>(sfs.f_type);
}

FILE* OsSeam_CreateFile(const char* path) {
    FILE* onFullPartition = nullptr;
    if (EmuEsp_CreateFullFile(path, onFullPartition)) return onFullPartition;
    return NewFileOpen_Exclusive(path);
}

static const char* SkipBlanks(const char* command) {
    while (*command == ' ') ++command;
    return command;
}

// Commands that act on the host as a whole are only recorded.
static bool IsHostWideCommand(const char* command) {
    command = SkipBlanks(command);
    return strncmp(command, "shutdown", 8) == 0 || strcmp(command, "sync") == 0;
}

int OsSeam_System(const char* command) {
    EmuTrace("shell \"%s\"", command);
    if (strncmp(SkipBlanks(command), "shutdown", 8) == 0) {
        return static_cast<int>(EmuMachine_GetNum("shutdown_status", 0) & 0xFF) << 8;
    }
    if (IsHostWideCommand(command)) return 0;
    int status = 0;
    if (EmuDriver_System(command, status)) return status << 8;
    return ShellChild_Run(OsSeam_ShellText(command).c_str(), nullptr);
}
