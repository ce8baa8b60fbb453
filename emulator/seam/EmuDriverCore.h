// The generated kernel driver's core object (HuxCorePkgLnx/Driver/nuvfldrv.c)
// as a host process holds it: the emulated driver takes its rules from it,
// and the core's unit test drives it through its stub wrappers. The buffer
// table lives in the core; a caller that keeps the table elsewhere puts it
// back before a request and reads it out afterwards.
#pragma once
#ifdef __cplusplus
extern "C" {
#endif
#include "nuvwrap.h"
#include "nuvfldrv.h"

// Whether the core writes `value` to `port` (the ports come from
// wrap_smi_ports at nuvfldrv_init, the lockdown from wrap_locked_down).
int EmuDriverCore_PortAllowed(unsigned long port, unsigned int value);

// The buffer table: count, and buffer i's physical address, length,
// kernel area and whether a mapping of it exists.
int EmuDriverCore_BufferCount(void);
void EmuDriverCore_Buffer(int i, unsigned long* physical, unsigned long* length, void** area, int* mapped);
// Replaces the table by n buffers (no kernel area: the physical address
// stands for it; mapped[i] non-zero while a mapping of buffer i exists).
void EmuDriverCore_SetBuffers(int n, const unsigned long* physical, const unsigned long* length, const int* mapped);
// Frees buffer i's kernel allocation through the wrapper, keeping the
// buffer in the table (its contents were handed on; its physical address
// stands for its area from now on).
void EmuDriverCore_DropArea(int i);

int EmuDriverCore_KeyboardLocked(void);
void EmuDriverCore_SetKeyboardLocked(int locked);

#ifdef __cplusplus
}
#endif
