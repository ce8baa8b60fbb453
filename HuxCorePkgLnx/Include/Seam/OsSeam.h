// The OS seam: every operation that needs hardware or the host system. The
// shipped executables link the real Linux implementation; the test build
// links the emulator's implementation of the same functions.
#pragma once
#include <cstdio>
#include <string>
#include "HuxTypes.h"

// CPU.
int OsSeam_SetIoPrivilege(int level);                 // 0 on success
// Byte write to a port with the full register set loaded; the registers are
// read back into regs afterwards (the software SMI).
void OsSeam_OutByteRegs(UINT16 port, UINT8 value, TKX_GeneralPurposeRegisterBuffer& regs);
UINT8 OsSeam_InByte(UINT16 port);
UINT16 OsSeam_InWord(UINT16 port);
UINT32 OsSeam_InDword(UINT16 port);
void OsSeam_OutByte(UINT16 port, UINT8 value);
void OsSeam_OutWord(UINT16 port, UINT16 value);
void OsSeam_OutDword(UINT16 port, UINT32 value);
UINT64 OsSeam_Rdtsc();
void OsSeam_DelayUs(UINT32 us);

// Paths: turns a system path ("/dev/mem", "/sys/...", "/proc/...",
// "/boot/efi", "/lib/modules/...") into the one to open.
std::string OsSeam_Path(const char* systemPath);
// Rewrites the system paths inside shell command text.
std::string OsSeam_ShellText(const char* command);

// Kernel and driver device.
// The running kernel's release (uname(2)); empty when it cannot be read.
std::string OsSeam_KernelRelease();
// Loads the kernel module whose file is open at `fd` (finit_module): 0, or
// -1 with errno set. Nothing is run to do it.
int OsSeam_LoadModule(int fd);
// Unloads the module `name` without waiting for its users (delete_module):
// 0, or -1 with errno set (EWOULDBLOCK while it is in use, ENOENT when absent).
int OsSeam_UnloadModule(const char* name);
int OsSeam_Mknod(const char* path, unsigned int mode, unsigned long long dev);
// Opens the driver's node read-write and synchronous, closed on exec and
// never through a link, and makes sure it is the character device of `driverMajor`: the
// descriptor, or -1 with errno set (ENODEV for anything else at the path).
int OsSeam_OpenDriverNode(const char* path, int driverMajor);
int OsSeam_Ioctl(int fd, unsigned long request, void* arg);
// Closes a descriptor (the driver's release runs for its device).
int OsSeam_Close(int fd);
// File-system type (statfs f_type) of a directory, or 0 when it cannot be read.
UINT64 OsSeam_FsType(const char* path);

// Files the program writes: creates `path` new (exclusively, not through a
// link, owner-only, closed on exec) and opens it for update; null, with
// errno set, when that fails (EEXIST when the name is taken). The test build
// makes the files it creates on a full emulated partition fail their writes
// as a full disk does.
FILE* OsSeam_CreateFile(const char* path);

// Shell: "/bin/sh -c command" in a child with the fixed PATH and minimal
// environment of ShellChild.h, no I/O privilege and no blocked signal; the
// wait status (as system()), or -1 when no child could be started.
int OsSeam_System(const char* command);

// Called first thing in main: the test build checks its machine here.
void OsSeam_Start();
