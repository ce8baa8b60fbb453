// The emulator's OS seam: the test build's program runs against the machine
// named by YOZ_EMU_MACHINE. Port writes are traced (SMI ports go to the
// emulated firmware), system paths resolve under the machine's root/, shell
// commands are traced and run with their paths rooted, except shutdown.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <sys/vfs.h>
#include "EmuMachine.h"
#include "EmuPorts.h"
#include "EmuSmi.h"
#include "OsSeam.h"

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
    if (level != 0 && EmuMachine_GetNum("iopl_fails", 0) != 0) {
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

int OsSeam_Mknod(const char* path, unsigned int mode, unsigned long long dev) {
    EmuTrace("mknod path=\"%s\" mode=0x%x dev=0x%llx", path, mode, dev);
    // The node stands in as a plain file of the machine.
    FILE* f = fopen(path, "a");
    if (f == nullptr) return -1;
    fclose(f);
    return 0;
}

int OsSeam_Ioctl(int fd, unsigned long request, void*) {
    EmuTrace("ioctl fd=%d req=0x%lx unhandled", fd, request);
    return -1;
}

UINT64 OsSeam_FsType(const char* path) {
    struct statfs sfs;
    if (statfs(path, &sfs) != 0) return 0;
    return static_cast<UINT64>(sfs.f_type);
}

// Commands that act on the host as a whole are only recorded.
static bool IsHostWideCommand(const char* command) {
    while (*command == ' ') ++command;
    return strncmp(command, "shutdown", 8) == 0 || strcmp(command, "sync") == 0;
}

int OsSeam_System(const char* command) {
    EmuTrace("shell \"%s\"", command);
    if (IsHostWideCommand(command)) return 0;
    fflush(nullptr);
    return system(OsSeam_ShellText(command).c_str());
}

FILE* OsSeam_Popen(const char* command, const char* mode) {
    EmuTrace("shell \"%s\"", command);
    if (IsHostWideCommand(command)) return popen("true", mode);
    fflush(nullptr);
    return popen(OsSeam_ShellText(command).c_str(), mode);
}

int OsSeam_Pclose(FILE* f) { return pclose(f); }
