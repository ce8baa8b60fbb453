// Module state of the emulated kernel and its /proc/devices.
#include "EmuKernel.h"
#include <cstdio>
#include "EmuMachine.h"

const char EmuKernel_FakeModule[] = "\x7f" "ELF emulated nuvfldrv_mod\n";

std::string EmuKernel_Release() { return EmuMachine_Get("release", "6.1.0-emu-amd64"); }

UINT32 EmuKernel_DriverMajor() { return static_cast<UINT32>(EmuMachine_GetNum("driver_major", 243)); }

bool EmuKernel_LockedDown() { return EmuMachine_GetNum("lockdown", 0) != 0; }

bool EmuKernel_ModuleLoaded() { return EmuState_Get("modules", "") == "nuvfldrv_mod\n"; }

bool EmuKernel_WriteProcDevices() {
    FILE* f = fopen(EmuMachine_Root("/proc/devices").c_str(), "w");
    if (f == nullptr) return false;
    fputs("Character devices:\n  1 mem\n  4 /dev/vc/0\n  4 tty\n  5 /dev/tty\n 10 misc\n", f);
    if (EmuKernel_ModuleLoaded()) fprintf(f, "%3u nuvfldrv\n", EmuKernel_DriverMajor());
    fputs("\nBlock devices:\n  8 sd\n", f);
    return fclose(f) == 0;
}

void EmuKernel_SetModuleLoaded(bool loaded) {
    EmuState_Set("modules", loaded ? "nuvfldrv_mod\n" : "");
    EmuState_Set("driver_buffers", "");
    EmuState_SetNum("driver_kb_locked", 0);
    EmuKernel_WriteProcDevices();
}
