// The program's kernel driver as the platform layer sees it: the device
// descriptor, the request codes and records, the request call and the Secure
// Boot state that decides whether port writes go through the driver.
#pragma once
#include "HuxCore.h"

// Descriptor of the driver's open device node; -1 while the driver is not open.
extern int Fd;

// 1 when UEFI Secure Boot is on (port writes then go through the driver).
UINT8 TKX_Get_Linux_SecureBoot_Enable();

// The request codes (the ioctl request values as they are) and records are
// the driver's own: CMD_ALLOC / CMD_FREE take NUVFLDRV_ALLOC (natural
// alignment, pointer-width fields), CMD_PORTWRITEBYTE the packed
// NUVFLDRV_PORTWRITEBYTE (in: Port, Value, Edi, Esi, Ebx, Ecx; out: the six
// registers as they were after the write).
#include "../Driver/nuvfldrv.h"

// Sends one request with its record (or none) on Fd. 0 when the driver
// accepted it; -1 when the driver is not open or refused the request.
int TKX_DriverRequest(unsigned long request, void* record);

#if defined(__x86_64__)
static_assert(sizeof(NUVFLDRV_ALLOC) == 40, "NUVFLDRV_ALLOC is 40 bytes on x86-64");
static_assert(offsetof(NUVFLDRV_ALLOC, kvirtlen) == 8 && offsetof(NUVFLDRV_ALLOC, kmallocptr) == 16 &&
                  offsetof(NUVFLDRV_ALLOC, kvirtadd) == 24 && offsetof(NUVFLDRV_ALLOC, kphysadd) == 32,
              "NUVFLDRV_ALLOC offsets on x86-64");
static_assert(sizeof(NUVFLDRV_PORTWRITEBYTE) == 59, "NUVFLDRV_PORTWRITEBYTE is 59 bytes on x86-64");
static_assert(offsetof(NUVFLDRV_PORTWRITEBYTE, Value) == 2 && offsetof(NUVFLDRV_PORTWRITEBYTE, Edi) == 3 &&
                  offsetof(NUVFLDRV_PORTWRITEBYTE, Esi) == 11 && offsetof(NUVFLDRV_PORTWRITEBYTE, Ebp) == 19 &&
                  offsetof(NUVFLDRV_PORTWRITEBYTE, Ebx) == 27 && offsetof(NUVFLDRV_PORTWRITEBYTE, Edx) == 35 &&
                  offsetof(NUVFLDRV_PORTWRITEBYTE, Ecx) == 43 && offsetof(NUVFLDRV_PORTWRITEBYTE, Eax) == 51,
              "NUVFLDRV_PORTWRITEBYTE offsets on x86-64");
#else
static_assert(sizeof(NUVFLDRV_ALLOC) == 20, "NUVFLDRV_ALLOC is 20 bytes on i386");
static_assert(offsetof(NUVFLDRV_ALLOC, kvirtlen) == 4 && offsetof(NUVFLDRV_ALLOC, kmallocptr) == 8 &&
                  offsetof(NUVFLDRV_ALLOC, kvirtadd) == 12 && offsetof(NUVFLDRV_ALLOC, kphysadd) == 16,
              "NUVFLDRV_ALLOC offsets on i386");
static_assert(sizeof(NUVFLDRV_PORTWRITEBYTE) == 31, "NUVFLDRV_PORTWRITEBYTE is 31 bytes on i386");
static_assert(offsetof(NUVFLDRV_PORTWRITEBYTE, Value) == 2 && offsetof(NUVFLDRV_PORTWRITEBYTE, Edi) == 3 &&
                  offsetof(NUVFLDRV_PORTWRITEBYTE, Esi) == 7 && offsetof(NUVFLDRV_PORTWRITEBYTE, Ebp) == 11 &&
                  offsetof(NUVFLDRV_PORTWRITEBYTE, Ebx) == 15 && offsetof(NUVFLDRV_PORTWRITEBYTE, Edx) == 19 &&
                  offsetof(NUVFLDRV_PORTWRITEBYTE, Ecx) == 23 && offsetof(NUVFLDRV_PORTWRITEBYTE, Eax) == 27,
              "NUVFLDRV_PORTWRITEBYTE offsets on i386");
#endif

// 1 when this run loaded the driver and opened its device.
extern UINT8 DriverInstalled;
// Node path chosen for this run: "/dev/nuvfl", "nuvfl" or "/nuvfl".
extern char DrvNode[128];

// Loader and unloader of the driver-loader table.
BOOLEAN TKX_LinuxDriverLoader(TKXArgvList& args, UINT32 loadedSoFar);
void TKX_LinuxDriverUnloader(TKXArgvList& args);
// 0, eEID_DRIVER_NOT_KERNEL_SOURCE or eEID_DRIVER_LOAD.
ENUM_ERR_ID FLASH_LoadDriver();
void FLASH_UnloadDriver();
// Looks for the driver in /proc/devices; major receives its number.
UINT8 CheckNUVDevice(int& major, UINT8 verbose);

// Build of the module ("/makedrv", "/gendrv" and the loader's own build).
extern int generatedrv;
extern char gendir[128];
void TKX_LinuxMakeDrv(TKXArgvList& args, UINT8& IfConti);
void TKX_LinuxGenDrv(TKXArgvList& args, UINT8& IfConti);
UINT8 BuildNuvflDrv(TKXArgvList& args);
// Builds in a private directory of its own (root's, 0700, under /tmp);
// -1 when there is no usable kernel tree. A module that came out is the file
// "nuvfldrv_mod" of TKX_BuiltModuleDirectory() until TKX_RemoveBuildDirectory.
int CreateDriverSoueceFile(char* kernelArgument);
// The private directory of the last build, as the OS seam resolves it; empty
// when there is none.
const char* TKX_BuiltModuleDirectory();
void TKX_RemoveBuildDirectory();
// When the last build made no module: says so with the last lines make
// printed on its standard error, and returns 1; 0 (nothing said) otherwise.
UINT8 TKX_ReportBuildWithoutModule();
UINT8 GenerateDriverSoueceFile(char* kernelArgument);
UINT8 CheckKernelSource(char* kernelDirectory);
