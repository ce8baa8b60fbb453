// The generated driver's core object (HuxCorePkgLnx/Driver/nuvfldrv.c) on
// the host, behind stub wrappers that play the kernel: which ports and
// values it writes, its buffer caps, table and fill, the free of a mapped
// buffer, the physical ranges it maps and with which protection, one opener,
// the balanced keyboard line, and the 32-bit records of a compat caller.
#include <gtest/gtest.h>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>
#include "EmuDriverCore.h"

namespace {

struct Range {
    unsigned long start, size;
};

// What the stub kernel offers and what the core asked of it.
struct StubKernel {
    unsigned long fadtPort = 0, asfPort = 0;
    int lockedDown = 0;
    int kmallocFails = 0;
    int remapFails = 0;
    unsigned long physLimit = (1UL << 36) - 1;
    std::vector<Range> ram, claimed;
    // Kernel areas get physical addresses of their own, below 4 GiB.
    std::map<unsigned long, unsigned long> physOf;
    unsigned long nextPhys = 0x01000000;
    std::set<void*> reserved;
    int kfrees = 0, kbdOff = 0, kbdOn = 0, unregistered = 0;
    unsigned long mapProt = 99, remapStart = 0, remapPhys = 0, remapSize = 0, tracked = 0;
};
StubKernel k;

bool Overlaps(const std::vector<Range>& list, unsigned long start, unsigned long size) {
    for (const Range& r : list) {
        if (start < r.start + r.size && r.start < start + size) return true;
    }
    return false;
}

}  // namespace

extern "C" {
unsigned long ulArg0, ulArg1, ulArg2;
void *pvArg0, *pvArg1;

int wrap_register_chrdev(void) {
    ulArg0 = 243;
    return 0;
}
void wrap_unregister_chrdev(void) { k.unregistered = static_cast<int>(ulArg0); }
void wrap_mem_map_reserve(void) { k.reserved.insert(pvArg0); }
void wrap_mem_map_unreserve(void) { k.reserved.erase(pvArg0); }
int wrap_remap_page_range(void) {
    k.remapStart = ulArg0;
    k.remapPhys = ulArg1;
    k.remapSize = ulArg2;
    return k.remapFails ? -1 : 0;
}
void wrap_track_vma(void) { k.tracked = ulArg0; }
void* wrap_virt_to_page(void) { return pvArg0; }
unsigned long wrap_virt_to_phys(void) {
    unsigned long area = reinterpret_cast<unsigned long>(pvArg0);
    if (k.physOf.count(area) == 0) {
        k.physOf[area] = k.nextPhys;
        k.nextPhys += 0x40000;
    }
    return k.physOf[area];
}
void* wrap_kmalloc(void) { return k.kmallocFails ? nullptr : calloc(1, ulArg0); }
void wrap_kfree(void) {
    free(pvArg0);
    ++k.kfrees;
}
void wrap_disable_kbd_irq(void) { ++k.kbdOff; }
void wrap_enable_kbd_irq(void) { ++k.kbdOn; }
unsigned long wrap_page_size(void) { return 0x1000; }
unsigned long wrap_phys_limit(void) { return k.physLimit; }
int wrap_range_is_ram(void) { return Overlaps(k.ram, ulArg0, ulArg1); }
int wrap_range_is_claimed(void) { return Overlaps(k.claimed, ulArg0, ulArg1); }
int wrap_locked_down(void) { return k.lockedDown; }
void wrap_map_prot(void) { k.mapProt = ulArg0; }
void wrap_smi_ports(void) {
    ulArg0 = k.fadtPort;
    ulArg1 = k.asfPort;
}
}

namespace {

struct DriverCore : ::testing::Test {
    void SetUp() override { Load(StubKernel()); }
    void TearDown() override {
        if (loaded) nuvfldrv_exit();
    }
    // The module loaded on a kernel like `kernel`.
    void Load(const StubKernel& kernel) {
        if (loaded) nuvfldrv_exit();
        k = kernel;
        ASSERT_EQ(nuvfldrv_init(), 0);
        loaded = true;
    }
    long Alloc(long size, NUVFLDRV_ALLOC* out = nullptr) {
        NUVFLDRV_ALLOC a = {};
        a.size = size;
        a.kvirtadd = &a;  // a caller's value is never taken
        long rc = nuvfldrv_ioctl(CMD_ALLOC, &a, 0);
        if (out != nullptr) *out = a;
        return rc;
    }
    long Free(unsigned long physical) {
        NUVFLDRV_ALLOC a = {};
        a.kphysadd = physical;
        return nuvfldrv_ioctl(CMD_FREE, &a, 0);
    }
    int Map(unsigned long physical, unsigned long size, unsigned long flags = NUV_MAP_WRITE | NUV_MAP_SHARED) {
        return nuvfldrv_mmap(&vma, 0x7f0000000000UL, 0x7f0000000000UL + size, physical / 0x1000, flags);
    }
    bool loaded = false;
    int vma = 0;
};

TEST_F(DriverCore, WritesOnlyThePortsAndValuesOfTheProgram) {
    const struct {
        const char* what;
        unsigned long fadt, asf;
        int locked;
        unsigned long port;
        unsigned value;
        bool allowed;
    } rows[] = {
        {"legacy SMI port", 0, 0, 0, 0xB2, 0x25, true},
        {"an SMI port nobody published", 0, 0, 0, 0xB0, 0x25, false},
        {"CMOS index", 0, 0, 0, 0x70, 0x0E, true},
        {"CMOS data", 0, 0, 0, 0x71, 0x00, true},
        {"POST code port", 0, 0, 0, 0x80, 0x11, false},
        {"PCI address port", 0, 0, 0, 0xCF8, 0x11, false},
        {"soft reset", 0, 0, 0, 0xCF9, 0x04, true},
        {"hard reset", 0, 0, 0, 0xCF9, 0x06, true},
        {"global reset", 0, 0, 0, 0xCF9, 0x0E, true},
        {"reset register, other value", 0, 0, 0, 0xCF9, 0x02, false},
        {"reset register, full reset bit alone", 0, 0, 0, 0xCF9, 0x08, false},
        {"the FADT's port", 0xB0, 0, 0, 0xB0, 0x25, true},
        {"legacy port beside the FADT's", 0xB0, 0, 0, 0xB2, 0x25, true},
        {"the \"$ASF\" port", 0, 0xB4, 0, 0xB4, 0x25, true},
        {"the \"$ASF\" port beside the FADT's", 0xB0, 0xB4, 0, 0xB4, 0x25, true},
        {"locked down: the FADT's port", 0xB0, 0xB4, 1, 0xB0, 0x25, true},
        {"locked down: the \"$ASF\" port beside the FADT's", 0xB0, 0xB4, 1, 0xB4, 0x25, false},
        {"locked down: legacy beside the FADT's", 0xB0, 0, 1, 0xB2, 0x25, false},
        {"locked down: the \"$ASF\" port without a FADT port", 0, 0xB4, 1, 0xB4, 0x25, true},
        {"locked down: legacy beside the \"$ASF\" port", 0, 0xB4, 1, 0xB2, 0x25, false},
        {"locked down: legacy alone", 0, 0, 1, 0xB2, 0x25, true},
        {"locked down: CMOS", 0, 0, 1, 0x70, 0x0E, false},
        {"locked down: reset", 0, 0, 1, 0xCF9, 0x06, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        StubKernel kernel;
        kernel.fadtPort = row.fadt;
        kernel.asfPort = row.asf;
        kernel.lockedDown = row.locked;
        Load(kernel);
        EXPECT_EQ(EmuDriverCore_PortAllowed(row.port, row.value) != 0, row.allowed);
        if (row.allowed) continue;
        // A refused write leaves the record as it came, in both layouts.
        NUVFLDRV_PORTWRITEBYTE p = {};
        p.Port = static_cast<unsigned short>(row.port);
        p.Value = static_cast<unsigned char>(row.value);
        p.Eax = 0x1234;
        EXPECT_EQ(nuvfldrv_ioctl(CMD_PORTWRITEBYTE, &p, 0), -NUV_EPERM);
        unsigned long eax = p.Eax;
        EXPECT_EQ(eax, 0x1234u);
        NUVFLDRV_PORTWRITEBYTE32 q = {};
        q.Port = static_cast<unsigned short>(row.port);
        q.Value = static_cast<unsigned char>(row.value);
        EXPECT_EQ(nuvfldrv_ioctl(CMD_PORTWRITEBYTE, &q, 1), -NUV_EPERM);
    }
}

TEST_F(DriverCore, BuffersAreCappedInSizeCountAndTogether) {
    const struct {
        const char* what;
        std::vector<long> held;  // allocated first, all granted
        long size;
        int kmallocFails;
        long rc;
    } rows[] = {
        {"no size", {}, 0, 0, -NUV_EINVAL},
        {"negative size", {}, -1, 0, -NUV_EINVAL},
        {"one byte past 128 KiB", {}, 0x20001, 0, -NUV_EINVAL},
        {"128 KiB", {}, 0x20000, 0, 0},
        {"512 KiB together", {0x20000, 0x20000, 0x20000}, 0x20000, 0, 0},
        {"one page past 512 KiB together", {0x20000, 0x20000, 0x20000, 0x20000}, 1, 0, -NUV_ENOMEM},
        {"rounded up to a page past 512 KiB", {0x20000, 0x20000, 0x20000, 0x1F001}, 0x1000, 0, -NUV_ENOMEM},
        {"the kernel has no memory", {}, 0x1000, 1, -NUV_ENOMEM},
        {"128 buffers", std::vector<long>(127, 0x1000), 0x1000, 0, 0},
        {"a 129th buffer", std::vector<long>(128, 0x1000), 0x1000, 0, -NUV_EINVAL},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Load(StubKernel());
        for (long size : row.held) ASSERT_EQ(Alloc(size), 0);
        k.kmallocFails = row.kmallocFails;
        int before = EmuDriverCore_BufferCount();
        EXPECT_EQ(Alloc(row.size), row.rc);
        EXPECT_EQ(EmuDriverCore_BufferCount(), before + (row.rc == 0 ? 1 : 0));
    }
}

TEST_F(DriverCore, BufferIsPageAlignedReservedFilledAndOnlyItsPhysicalAddressLeaves) {
    NUVFLDRV_ALLOC a = {};
    ASSERT_EQ(Alloc(0x1801, &a), 0);
    EXPECT_EQ(a.kvirtlen, 0x2000u) << "whole pages";
    EXPECT_EQ(a.kvirtadd, nullptr);
    EXPECT_EQ(a.kmallocptr, nullptr);
    EXPECT_EQ(a.kphysadd, 0x01000000u);
    unsigned long physical = 0, length = 0;
    void* area = nullptr;
    int mapped = 1;
    EmuDriverCore_Buffer(0, &physical, &length, &area, &mapped);
    EXPECT_EQ(reinterpret_cast<unsigned long>(area) % 0x1000, 0u);
    EXPECT_EQ(mapped, 0);
    const unsigned int* words = static_cast<const unsigned int*>(area);
    EXPECT_EQ(words[0], 0xAFD00000u);
    EXPECT_EQ(words[0x7FF], 0xAFD007FFu);
    EXPECT_EQ(k.reserved, (std::set<void*>{area, static_cast<char*>(area) + 0x1000}));

    // A 32-bit caller's record, converted both ways.
    NUVFLDRV_ALLOC32 c = {};
    c.size = 0x1000;
    c.kvirtadd = 0x1234;
    ASSERT_EQ(nuvfldrv_ioctl(CMD_ALLOC, &c, 1), 0);
    EXPECT_EQ(c.kphysadd, 0x01040000u);
    EXPECT_EQ(c.kvirtlen, 0x1000u);
    EXPECT_EQ(c.kvirtadd, 0u);
    NUVFLDRV_ALLOC32 f = {};
    f.kphysadd = c.kphysadd;
    EXPECT_EQ(nuvfldrv_ioctl(CMD_FREE, &f, 1), 0);
    EXPECT_EQ(EmuDriverCore_BufferCount(), 1);

    EXPECT_EQ(nuvfldrv_record_size(CMD_ALLOC, 0), 40u);
    EXPECT_EQ(nuvfldrv_record_size(CMD_FREE, 1), 20u);
    EXPECT_EQ(nuvfldrv_record_size(CMD_PORTWRITEBYTE, 0), 59u);
    EXPECT_EQ(nuvfldrv_record_size(CMD_PORTWRITEBYTE, 1), 31u);
    EXPECT_EQ(nuvfldrv_record_size(CMD_LOCK_KB, 0), 0u);
    EXPECT_EQ(nuvfldrv_ioctl(0x4164, nullptr, 0), -NUV_ENOTTY);
}

TEST_F(DriverCore, MappedBufferStaysUntilItsLastMappingGoesAndUnknownAddressesAreIgnored) {
    NUVFLDRV_ALLOC a = {}, b = {}, c = {};
    ASSERT_EQ(Alloc(0x1000, &a), 0);
    ASSERT_EQ(Alloc(0x1000, &b), 0);
    ASSERT_EQ(Alloc(0x1000, &c), 0);
    ASSERT_EQ(Map(a.kphysadd, 0x1000), 0);
    EXPECT_EQ(k.tracked, a.kphysadd) << "the mapping tells the core when it goes";
    nuvfldrv_vma_open(a.kphysadd);  // the mapping copied (fork)
    EXPECT_EQ(Free(a.kphysadd), -NUV_EBUSY);
    nuvfldrv_vma_close(a.kphysadd);
    EXPECT_EQ(Free(a.kphysadd), -NUV_EBUSY) << "one mapping is left";
    nuvfldrv_vma_close(a.kphysadd);
    int frees = k.kfrees;
    EXPECT_EQ(Free(0x12345000), 0);
    EXPECT_EQ(k.kfrees, frees) << "an unknown address frees nothing";
    EXPECT_EQ(Free(a.kphysadd), 0);
    EXPECT_EQ(k.kfrees, frees + 1);
    EXPECT_EQ(k.reserved.size(), 2u) << "the freed buffer's page is no longer reserved";
    // The last buffer takes the freed slot.
    unsigned long physical = 0, length = 0;
    void* area = nullptr;
    int mapped = 0;
    ASSERT_EQ(EmuDriverCore_BufferCount(), 2);
    EmuDriverCore_Buffer(0, &physical, &length, &area, &mapped);
    EXPECT_EQ(physical, c.kphysadd);
    EmuDriverCore_Buffer(1, &physical, &length, &area, &mapped);
    EXPECT_EQ(physical, b.kphysadd);
}

TEST_F(DriverCore, MapsOnlyWhatDevMemWouldAndTheOpenersBuffers) {
    const unsigned long shared = NUV_MAP_WRITE | NUV_MAP_SHARED;
    const struct {
        const char* what;
        int locked;
        unsigned long physical, size, flags;
        int rc;
        unsigned long prot;  // 1: firmware or device memory, 0: a buffer
    } rows[] = {
        {"firmware memory", 0, 0xF0000, 0x10000, shared, 0, 1},
        {"read-only private mapping", 0, 0xF0000, 0x1000, 0, 0, 1},
        {"writable private mapping", 0, 0xF0000, 0x1000, NUV_MAP_WRITE, -NUV_EINVAL, 99},
        {"nothing", 0, 0xF0000, 0, shared, -NUV_EINVAL, 99},
        {"System RAM", 0, 0x100000, 0x1000, shared, -NUV_EPERM, 99},
        {"a range reaching into System RAM", 0, 0xFF000, 0x2000, shared, -NUV_EPERM, 99},
        {"a range a driver claimed", 0, 0xFEC00000, 0x1000, shared, -NUV_EPERM, 99},
        {"the last page of the address width", 0, (1UL << 36) - 0x1000, 0x1000, shared, 0, 1},
        {"past the address width", 0, (1UL << 36) - 0x1000, 0x2000, shared, -NUV_EINVAL, 99},
        {"past the end of the address space", 0, ~0UL - 0xFFF, 0x2000, shared, -NUV_EINVAL, 99},
        {"the buffer", 0, 0x01000000, 0x2000, shared, 0, 0},
        {"locked down: the buffer", 1, 0x01000000, 0x1000, shared, 0, 0},
        {"locked down: firmware memory", 1, 0xF0000, 0x1000, shared, -NUV_EPERM, 99},
        {"locked down: past the buffer", 1, 0x01000000, 0x3000, shared, -NUV_EPERM, 99},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        StubKernel kernel;
        kernel.lockedDown = row.locked;
        kernel.ram = {{0x100000, 0x7FF00000}};
        kernel.claimed = {{0xFEC00000, 0x1000}};
        Load(kernel);
        NUVFLDRV_ALLOC a = {};
        ASSERT_EQ(Alloc(0x2000, &a), 0);
        ASSERT_EQ(a.kphysadd, 0x01000000u);
        k.tracked = 0;
        EXPECT_EQ(Map(row.physical, row.size, row.flags), row.rc);
        EXPECT_EQ(k.mapProt, row.prot);
        if (row.rc != 0) continue;
        EXPECT_EQ(k.remapPhys, row.physical);
        EXPECT_EQ(k.remapSize, row.size);
        EXPECT_EQ(k.tracked, row.prot == 0 ? a.kphysadd : 0u);
    }
    Load(StubKernel());
    k.remapFails = 1;
    EXPECT_EQ(Map(0xF0000, 0x1000), -NUV_ENXIO);
}

TEST_F(DriverCore, OneOpenerAndTheReleaseFreesItsBuffersAndTheKeyboardLine) {
    EXPECT_EQ(nuvfldrv_open(), 0);
    EXPECT_EQ(nuvfldrv_open(), -NUV_EBUSY);
    for (unsigned int cmd : {CMD_LOCK_KB, CMD_LOCK_KB, CMD_UNLOCK_KB, CMD_UNLOCK_KB, CMD_LOCK_KB}) {
        EXPECT_EQ(nuvfldrv_ioctl(cmd, nullptr, 0), 0);
    }
    EXPECT_EQ(k.kbdOff, 2);
    EXPECT_EQ(k.kbdOn, 1);
    ASSERT_EQ(Alloc(0x1000), 0);
    ASSERT_EQ(Alloc(0x3000), 0);
    nuvfldrv_release();
    EXPECT_EQ(k.kbdOn, 2) << "the line goes back on with the opener";
    EXPECT_EQ(EmuDriverCore_BufferCount(), 0);
    EXPECT_EQ(k.kfrees, 2);
    EXPECT_TRUE(k.reserved.empty());
    EXPECT_EQ(nuvfldrv_open(), 0);
    nuvfldrv_exit();
    loaded = false;
    EXPECT_EQ(k.unregistered, 243);
    EXPECT_EQ(k.kbdOn, 2) << "nothing to switch back on";
}

}  // namespace
