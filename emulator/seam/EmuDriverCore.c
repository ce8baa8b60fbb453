/* The generated kernel driver's core, compiled for a host process. It is
 * included whole, so that the rules it keeps to itself (static there) can be
 * asked and its buffer table set; everything else is the core's own code. */
#include "nuvfldrv.c"
#include "EmuDriverCore.h"

int EmuDriverCore_PortAllowed(unsigned long port, unsigned int value)
{
    return nuv_port_allowed(port, value);
}

int EmuDriverCore_BufferCount(void)
{
    return nuv_buffer_count;
}

void EmuDriverCore_Buffer(int i, unsigned long *physical, unsigned long *length, void **area, int *mapped)
{
    *physical = nuv_buffers[i].a.kphysadd;
    *length = nuv_buffers[i].a.kvirtlen;
    *area = nuv_buffers[i].a.kvirtadd;
    *mapped = nuv_buffers[i].maps > 0;
}

void EmuDriverCore_SetBuffers(int n, const unsigned long *physical, const unsigned long *length, const int *mapped)
{
    int i;
    nuv_zero(nuv_buffers, sizeof(nuv_buffers));
    nuv_buffer_count = 0;
    nuv_held = 0;
    for (i = 0; i < n && i < NUVFLDRV_MAX_BUFFERS; i++) {
        nuv_buffers[i].a.size = (long)length[i];
        nuv_buffers[i].a.kvirtlen = length[i];
        nuv_buffers[i].a.kphysadd = physical[i];
        /* No kernel area of its own: its physical address stands for it. */
        nuv_buffers[i].a.kvirtadd = (void *)physical[i];
        nuv_buffers[i].maps = mapped[i] ? 1 : 0;
        nuv_held += length[i];
        nuv_buffer_count++;
    }
}

void EmuDriverCore_DropArea(int i)
{
    pvArg0 = nuv_buffers[i].a.kmallocptr;
    wrap_kfree();
    nuv_buffers[i].a.kmallocptr = 0;
    nuv_buffers[i].a.kvirtadd = (void *)nuv_buffers[i].a.kphysadd;
}

int EmuDriverCore_KeyboardLocked(void)
{
    return nuv_kb_locked;
}

void EmuDriverCore_SetKeyboardLocked(int locked)
{
    nuv_kb_locked = locked != 0;
}
