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

// The emulated make when the machine's build is emulated; false for any
// other command (or a real build).
bool EmuDriver_System(const char* command, int& status);
// The module read from a descriptor (finit_module) and removed by name
// (delete_module): 0, or -1 with errno set.
int EmuDriver_LoadModule(int fd);
int EmuDriver_UnloadModule(const char* name);

int EmuDriver_Mknod(const char* path, unsigned int mode, unsigned long long dev);
// The driver's node opened as the program opens it; ENODEV for anything
// that is not the driver's device.
int EmuDriver_OpenNode(const char* path);
int EmuDriver_Ioctl(int fd, unsigned long request, void* arg);
// Release of the device when its descriptor is closed.
void EmuDriver_Close(int fd);
