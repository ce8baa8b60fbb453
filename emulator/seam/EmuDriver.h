// The emulated kernel driver: module insertion and removal, the emulated
// build, the driver's device node and its requests, answered over the
// machine's physical memory as the generated driver would answer them.
#pragma once
#include <cstdio>
#include <string>
#include "HuxTypes.h"

// Request records in the layout of a process of `width` bits (64 or 32).
struct EmuDrvAlloc {
    INT64 size;
    UINT64 kvirtlen;
    UINT64 kmallocptr;
    UINT64 kvirtadd;
    UINT64 kphysadd;
};
struct EmuDrvPortWrite {
    UINT16 Port;
    UINT8 Value;
    UINT64 Edi, Esi, Ebp, Ebx, Edx, Ecx, Eax;
};
UINT32 EmuDriver_AllocSize(UINT32 width);      // 40 or 20
UINT32 EmuDriver_PortWriteSize(UINT32 width);  // 59 or 31
EmuDrvAlloc EmuDriver_DecodeAlloc(const UINT8* bytes, UINT32 width);
void EmuDriver_EncodeAlloc(const EmuDrvAlloc& record, UINT32 width, UINT8* bytes);
EmuDrvPortWrite EmuDriver_DecodePortWrite(const UINT8* bytes, UINT32 width);
void EmuDriver_EncodePortWrite(const EmuDrvPortWrite& record, UINT32 width, UINT8* bytes);

// Shell commands the emulated kernel answers (insmod, rmmod, and make when
// the build is emulated); false when the command is not one of them.
bool EmuDriver_System(const char* command, int& status);
// "uname" answered from the machine; nullptr when the command is not uname.
FILE* EmuDriver_Popen(const char* command, const char* mode);
// Rewrites a real make command to build against the machine's kernel tree.
std::string EmuDriver_RealMakeText(const char* command);

int EmuDriver_Mknod(const char* path, unsigned int mode, unsigned long long dev);
int EmuDriver_Ioctl(int fd, unsigned long request, void* arg);
// Release of the device when its descriptor is closed.
void EmuDriver_Close(int fd);
