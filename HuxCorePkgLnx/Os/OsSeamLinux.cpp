// The real OS seam of the shipped executables: port instructions, real
// system calls and the real shell. System paths are used as they are.
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/io.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/utsname.h>
#include <sys/vfs.h>
#include <unistd.h>
#include "OsSeam.h"
#include "NewFileOpen.h"
#include "ShellChild.h"

void OsSeam_Start() {}

int OsSeam_SetIoPrivilege(int level) { return iopl(level); }

void OsSeam_OutByteRegs(UINT16 port, UINT8 value, TKX_GeneralPurposeRegisterBuffer& regs) {
    UINT32 a = value;
    UINT32 b = regs.Ebx;
    UINT32 c = regs.Ecx;
    UINT32 d = port;
    UINT32 si = regs.Esi;
    UINT32 di = regs.Edi;
    __asm__ __volatile__("outb %%al, %%dx"
                         : "+a"(a), "+b"(b), "+c"(c), "+d"(d), "+S"(si), "+D"(di)
                         :
                         : "memory");
    regs.Eax = a;
    regs.Ebx = b;
    regs.Ecx = c;
    regs.Edx = d;
    regs.Esi = si;
    regs.Edi = di;
}

UINT8 OsSeam_InByte(UINT16 port) { return inb(port); }
UINT16 OsSeam_InWord(UINT16 port) { return inw(port); }
UINT32 OsSeam_InDword(UINT16 port) { return inl(port); }
void OsSeam_OutByte(UINT16 port, UINT8 value) { outb(value, port); }
void OsSeam_OutWord(UINT16 port, UINT16 value) { outw(value, port); }
void OsSeam_OutDword(UINT16 port, UINT32 value) { outl(value, port); }

UINT64 OsSeam_Rdtsc() {
    UINT32 a = 0, b, c = 0, d;
    __asm__ __volatile__("cpuid" : "+a"(a), "=b"(b), "+c"(c), "=d"(d));
    UINT32 lo, hi;
    __asm__ __volatile__("rdtsc" : "=a"(lo), "=d"(hi));
    return (static_cast<UINT64>(hi) << 32) | lo;
}

void OsSeam_DelayUs(UINT32 us) { usleep(us); }

std::string OsSeam_Path(const char* systemPath) { return systemPath; }
std::string OsSeam_ShellText(const char* command) { return command; }

std::string OsSeam_KernelRelease() {
    struct utsname names;
    return uname(&names) == 0 ? names.release : "";
}

int OsSeam_LoadModule(int fd) { return static_cast<int>(syscall(SYS_finit_module, fd, "", 0)); }

int OsSeam_UnloadModule(const char* name) {
    return static_cast<int>(syscall(SYS_delete_module, name, O_NONBLOCK));
}

int OsSeam_Mknod(const char* path, unsigned int mode, unsigned long long dev) {
    return mknod(path, mode, static_cast<dev_t>(dev));
}

int OsSeam_OpenDriverNode(const char* path, int driverMajor) {
    // Synchronous as "/dev/mem" is opened: the driver then maps firmware
    // memory uncached, as "/dev/mem" does.
    int fd = open(path, O_RDWR | O_SYNC | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || static_cast<int>(major(st.st_rdev)) != driverMajor) {
        close(fd);
        errno = ENODEV;
        return -1;
    }
    return fd;
}

int OsSeam_Ioctl(int fd, unsigned long request, void* arg) { return ioctl(fd, request, arg); }
int OsSeam_Close(int fd) { return close(fd); }

UINT64 OsSeam_FsType(const char* path) {
    struct statfs sfs;
    if (statfs(path, &sfs) != 0) return 0;
    // File-system magics are 32-bit values; the i386 f_type is a signed int,
    // which would sign-extend 0xDE5E81E4 (efivarfs) into another number.
    return static_cast<UINT32>(sfs.f_type);
}

FILE* OsSeam_CreateFile(const char* path) { return NewFileOpen_Exclusive(path); }

// A child gets no port access: the privilege level is inherited across exec.
static void DropIoPrivilege() { iopl(0); }

int OsSeam_System(const char* command) { return ShellChild_Run(command, DropIoPrivilege); }
