// The emulated kernel's view of the driver module and of the firmware's
// variable store, shared by the program's seam and by "yozemu init".
#pragma once
#include <string>
#include "HuxTypes.h"

// Release that "uname -r" prints (setting "release").
std::string EmuKernel_Release();
// Major number the emulated kernel gives the driver (setting "driver_major").
UINT32 EmuKernel_DriverMajor();

// Module state: whether "nuvfldrv_mod" is loaded (state file "modules").
bool EmuKernel_ModuleLoaded();
// Loads or removes the module: /proc/devices gains or loses its line and the
// driver's buffers and keyboard lock start afresh.
void EmuKernel_SetModuleLoaded(bool loaded);
// Writes root/proc/devices for the current module state.
bool EmuKernel_WriteProcDevices();

// Whether the kernel is in lockdown (setting "lockdown"): no iopl, no
// /dev/mem, no unsigned module.
bool EmuKernel_LockedDown();

// Content of a module file that the emulated make produces.
extern const char EmuKernel_FakeModule[];
