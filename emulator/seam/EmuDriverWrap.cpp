// The wrappers of the generated driver as the emulated kernel answers them:
// the core object (EmuDriverCore.c) calls these where the real module calls
// into the kernel. Only what the emulated driver asks the core for is
// modelled: the SMI ports the firmware publishes, the lockdown, the
// allocation of a buffer at the physical address the emulated kernel gives
// it, and the keyboard line; mapping is left to the node (see EmuDriver.cpp).
#include <cstdlib>
#include <cstring>
#include "EmuAcpi.h"
#include "EmuDriverCore.h"
#include "EmuDriverWrap.h"
#include "EmuKernel.h"
#include "EmuMachine.h"

static const UINT64 kDmaLimit = 0x1000000;  // buffers lie below 16 MiB
static const unsigned long kPage = 0x1000;

static EMU_DRIVER_ALLOCATION s_Allocation;
static int s_KeyboardChanges = 0;

void EmuDriverWrap_PlanAllocation(const EMU_DRIVER_ALLOCATION& allocation) { s_Allocation = allocation; }
int EmuDriverWrap_KeyboardChanges() { return s_KeyboardChanges; }

extern "C" {

unsigned long ulArg0;
unsigned long ulArg1;
unsigned long ulArg2;
void* pvArg0;
void* pvArg1;

int wrap_register_chrdev(void) {
    ulArg0 = EmuKernel_DriverMajor();
    return 0;
}
void wrap_unregister_chrdev(void) {}
void wrap_mem_map_reserve(void) {}
void wrap_mem_map_unreserve(void) {}
int wrap_remap_page_range(void) { return 0; }
void wrap_track_vma(void) {}
void* wrap_virt_to_page(void) { return pvArg0; }
unsigned long wrap_virt_to_phys(void) { return static_cast<unsigned long>(s_Allocation.Physical); }

// The emulated kernel's DMA allocation: none past 16 MiB, none larger than
// the machine grants (setting driver_alloc_limit).
void* wrap_kmalloc(void) {
    unsigned long length = ulArg0 - 2 * kPage;
    if (s_Allocation.Requested > s_Allocation.Limit || s_Allocation.Physical + length > kDmaLimit) return nullptr;
    return calloc(1, ulArg0);
}
void wrap_kfree(void) { free(pvArg0); }
void wrap_disable_kbd_irq(void) { ++s_KeyboardChanges; }
void wrap_enable_kbd_irq(void) { ++s_KeyboardChanges; }
unsigned long wrap_page_size(void) { return kPage; }
unsigned long wrap_phys_limit(void) { return ~0UL; }
int wrap_range_is_ram(void) { return 0; }
int wrap_range_is_claimed(void) { return 0; }
int wrap_locked_down(void) { return EmuKernel_LockedDown() ? 1 : 0; }
void wrap_map_prot(void) {}
void wrap_smi_ports(void) {
    ulArg0 = EmuAcpi_FadtSmiPort();
    ulArg1 = EmuAsf_DriverPort();
}

}  // extern "C"
