// The emulated driver's device in-process: the node maps emulated physical
// memory, buffers below 16 MiB with the driver's fill pattern, the argument
// and size checks, no freeing while mapped, the balanced keyboard lock, the
// release that frees, and the port write with registers to the program's
// ports only.
#include <gtest/gtest.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include "EmuKernel.h"
#include "EmuMachine.h"
#include "OsSeam.h"
#include "TKXDriver.h"
#include "UnitMachine.h"

using namespace unitmachine;

namespace {

struct EmuDevice : ::testing::Test {
    int fd = -1;
    void SetUp() override {
        ASSERT_TRUE(Reset({"driver_alloc_base=0x900000"}));
        ASSERT_EQ(mkdir(Root("/proc").c_str(), 0755) == 0 || errno == EEXIST, true);
        EmuKernel_SetModuleLoaded(true);
        std::string node = Root("/dev/nuvfl");
        ASSERT_EQ(OsSeam_Mknod(node.c_str(), S_IFCHR | 0600, makedev(243, 0)), 0);
        fd = open(node.c_str(), O_RDWR);
        ASSERT_GE(fd, 0);
    }
    void TearDown() override {
        if (fd >= 0) OsSeam_Close(fd);
    }
    std::vector<std::string> Ioctls() {
        std::vector<std::string> out;
        for (const std::string& l : Trace()) {
            if (l.compare(0, 6, "ioctl ") == 0) out.push_back(l);
        }
        return out;
    }
};

TEST_F(EmuDevice, AllocatedBufferIsFilledAndMappedThroughTheNode) {
    NUVFLDRV_ALLOC a = {};
    a.size = 0x1800;
    a.kvirtadd = &a;
    ASSERT_EQ(OsSeam_Ioctl(fd, CMD_ALLOC, &a), 0);
    EXPECT_EQ(a.kphysadd, 0x900000u);
    EXPECT_EQ(a.kvirtadd, nullptr) << "no kernel address leaves the driver";
    void* p = mmap(nullptr, 0x2000, PROT_READ | PROT_WRITE, MAP_SHARED, fd, static_cast<off_t>(a.kphysadd));
    ASSERT_NE(p, MAP_FAILED);
    const UINT32* words = static_cast<const UINT32*>(p);
    EXPECT_EQ(words[0], 0xAFD00000u);
    EXPECT_EQ(words[0x7FF], 0xAFD007FFu) << "the whole rounded-up length is filled";
    static_cast<UINT8*>(p)[5] = 0x5A;
    NUVFLDRV_ALLOC mapped = {};
    mapped.kphysadd = 0x900000;
    errno = 0;
    EXPECT_EQ(OsSeam_Ioctl(fd, CMD_FREE, &mapped), -1) << "its pages stay while they are mapped";
    EXPECT_EQ(errno, EBUSY);
    munmap(p, 0x2000);
    EXPECT_EQ(GetPhys(0x900005, 1), "\x5a");

    NUVFLDRV_ALLOC b = {};
    b.size = 0x1000;
    ASSERT_EQ(OsSeam_Ioctl(fd, CMD_ALLOC, &b), 0);
    EXPECT_EQ(b.kphysadd, 0x900000u + 0x2000 + 0x2000) << "after the first, two pages between";
    NUVFLDRV_ALLOC f = {};
    f.kphysadd = 0x900000;
    EXPECT_EQ(OsSeam_Ioctl(fd, CMD_FREE, &f), 0);
    f.kphysadd = 0x123000;
    EXPECT_EQ(OsSeam_Ioctl(fd, CMD_FREE, &f), 0) << "an unknown address is ignored";
    std::vector<std::string> lines = Ioctls();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "ioctl req=0x4160 size=0x1800 phys=0x00900000 result=ok");
    EXPECT_EQ(lines[1], "ioctl req=0x4161 phys=0x00900000 result=ebusy");
    EXPECT_EQ(lines[3], "ioctl req=0x4161 phys=0x00900000 result=freed");
    EXPECT_EQ(lines[4], "ioctl req=0x4161 phys=0x00123000 result=unknown");
}

TEST_F(EmuDevice, SizesOutsideOneTo128KibAndUnknownRequestsAreRefused) {
    for (long size : {0L, -1L, -0x11000L, 0x20001L}) {
        NUVFLDRV_ALLOC a = {};
        a.size = size;
        errno = 0;
        EXPECT_EQ(OsSeam_Ioctl(fd, CMD_ALLOC, &a), -1) << size;
        EXPECT_EQ(errno, EINVAL) << size;
    }
    // All buffers together stay within 512 KiB.
    for (int i = 0; i < 5; ++i) {
        NUVFLDRV_ALLOC a = {};
        a.size = 0x20000;
        errno = 0;
        EXPECT_EQ(OsSeam_Ioctl(fd, CMD_ALLOC, &a), i < 4 ? 0 : -1) << i;
        if (i == 4) {
            EXPECT_EQ(errno, ENOMEM);
        }
    }
    errno = 0;
    EXPECT_EQ(OsSeam_Ioctl(fd, CMD_ALLOC, nullptr), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(OsSeam_Ioctl(fd, 0x4164, nullptr), -1);
    EXPECT_EQ(errno, ENOTTY);
    int other = open(Root("/proc/devices").c_str(), O_RDONLY);
    ASSERT_GE(other, 0);
    EXPECT_EQ(OsSeam_Ioctl(other, CMD_LOCK_KB, nullptr), -1) << "not the driver's device";
    EXPECT_EQ(errno, ENOTTY);
    close(other);
}

TEST_F(EmuDevice, KeyboardLockStaysBalancedAndReleaseUnlocks) {
    for (unsigned long r : {CMD_LOCK_KB, CMD_LOCK_KB, CMD_UNLOCK_KB, CMD_UNLOCK_KB, CMD_LOCK_KB}) {
        EXPECT_EQ(OsSeam_Ioctl(fd, r, nullptr), 0);
    }
    OsSeam_Close(fd);
    fd = -1;
    EXPECT_EQ(Ioctls(), (std::vector<std::string>{"ioctl req=0x4162 kb=off", "ioctl req=0x4162 kb=unchanged",
                                                  "ioctl req=0x4163 kb=on", "ioctl req=0x4163 kb=unchanged",
                                                  "ioctl req=0x4162 kb=off", "ioctl release kb=on"}));
}

TEST_F(EmuDevice, PortWriteCarriesTheRecordsRegistersAndReturnsThemAll) {
    NUVFLDRV_PORTWRITEBYTE p = {};
    p.Port = 0x70;
    p.Value = 0x42;
    p.Ebx = 0x1234;
    p.Ecx = 7;
    p.Esi = 0x11000;
    p.Edi = 1;
    p.Eax = 0xDEAD;  // not read on input
    ASSERT_EQ(OsSeam_Ioctl(fd, CMD_PORTWRITEBYTE, &p), 0);
    // Packed fields are copied out before the checks bind them.
    unsigned long eax = p.Eax, edx = p.Edx, ebx = p.Ebx, ecx = p.Ecx, esi = p.Esi, edi = p.Edi;
    EXPECT_EQ(eax, 0x42u);
    EXPECT_EQ(edx, 0x70u);
    EXPECT_EQ(ebx, 0x1234u);
    EXPECT_EQ(ecx, 7u);
    EXPECT_EQ(esi, 0x11000u);
    EXPECT_EQ(edi, 1u);
    std::vector<std::string> t = Trace();
    ASSERT_GE(t.size(), 2u);
    EXPECT_EQ(t[t.size() - 2], "ioctl req=0x4166 port=0x70 value=0x42");
    EXPECT_EQ(t.back(), "port out=0x70 value=0x42");

    // Any port the program does not write is refused, registers untouched;
    // at the reset register only the resets the program asks for pass.
    const struct {
        UINT16 port;
        UINT8 value;
        bool allowed;
    } rows[] = {{0x80, 0x11, false},  {0x3F8, 0x11, false}, {0xCF8, 0x11, false}, {0xCF9, 0x02, false},
                {0xCF9, 0x08, false}, {0xCF9, 0x04, true},  {0xCF9, 0x06, true},  {0xCF9, 0x0E, true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.port) + " " + std::to_string(row.value));
        NUVFLDRV_PORTWRITEBYTE other = {};
        other.Port = row.port;
        other.Value = row.value;
        errno = 0;
        EXPECT_EQ(OsSeam_Ioctl(fd, CMD_PORTWRITEBYTE, &other), row.allowed ? 0 : -1);
        if (row.allowed) continue;
        EXPECT_EQ(errno, EPERM);
        unsigned long untouched = other.Eax;
        EXPECT_EQ(untouched, 0u);
        EXPECT_NE(Trace().back().find("result=eperm"), std::string::npos);
    }
}

// The "$ASF" port counts only from a whole record, the first of the BIOS
// area; under lockdown only the SMI port the program uses is written.
TEST_F(EmuDevice, PortsOfTheFirmwareCountOnlyFromWholeRecordsAndLockdownLeavesTheSmiPort) {
    auto record = [](UINT8 length) {
        std::string r(0x20, '\0');
        r.replace(0, 4, "$ASF");
        r[4] = static_cast<char>(length);
        r[12] = static_cast<char>(0xB0);
        return r;
    };
    auto writes = [this](UINT16 port) {
        NUVFLDRV_PORTWRITEBYTE p = {};
        p.Port = port;
        p.Value = 0x20;
        return OsSeam_Ioctl(fd, CMD_PORTWRITEBYTE, &p) == 0;
    };
    const struct {
        const char* what;
        std::vector<std::string> sets;
        UINT64 at;
        std::string bytes;
        bool asf, b2, cmos;
    } rows[] = {
        {"whole record", {"fadt_smi_cmd=0"}, 0xF8000, record(0x10), true, true, true},
        {"header without the port", {"fadt_smi_cmd=0"}, 0xF8000, record(0x0C), false, true, true},
        {"port inside the area, body past it", {"fadt_smi_cmd=0"}, 0xFFFF0, record(0x10), true, true, true},
        {"port past the area", {"fadt_smi_cmd=0"}, 0xFFFF4, record(0x10), false, true, true},
        {"a stray \"$ASF\" first", {"fadt_smi_cmd=0"}, 0xF7FF0, "$ASF" + std::string(12, '\0') + record(0x10), false,
         true, true},
        {"locked down, port from the record", {"fadt_smi_cmd=0", "lockdown=1"}, 0xF8000, record(0x10), true,
         false, false},
        {"locked down, no record", {"fadt_smi_cmd=0", "lockdown=1"}, 0xF8000, "", false, true, false},
        {"locked down, port from the FADT", {"fadt_smi_cmd=0xb0", "lockdown=1"}, 0xF8000, record(0x0C), true,
         false, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        PutPhys(0xF7FF0, std::string(0x10010, '\0'));
        if (!row.bytes.empty()) PutPhys(row.at, row.bytes.substr(0, static_cast<size_t>(0x100000 - row.at)));
        Settings(row.sets);
        EXPECT_EQ(writes(0xB0), row.asf);
        EXPECT_EQ(writes(0xB2), row.b2);
        EXPECT_EQ(writes(0x70), row.cmos);
    }
}

TEST_F(EmuDevice, ReleaseAndRemovingTheModuleFreeBuffersAndUnlock) {
    NUVFLDRV_ALLOC a = {};
    a.size = 0x1000;
    ASSERT_EQ(OsSeam_Ioctl(fd, CMD_ALLOC, &a), 0);
    OsSeam_Close(fd);
    fd = open(Root("/dev/nuvfl").c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(EmuState_Get("driver_buffers", "x"), "") << "the release frees the opener's buffers";
    EXPECT_EQ(Trace().back(), "ioctl release kb=unchanged freed");

    ASSERT_EQ(OsSeam_Ioctl(fd, CMD_ALLOC, &a), 0);
    ASSERT_EQ(OsSeam_Ioctl(fd, CMD_LOCK_KB, nullptr), 0);
    EXPECT_EQ(OsSeam_UnloadModule("nuvfldrv_mod"), 0);
    EXPECT_FALSE(EmuKernel_ModuleLoaded());
    EXPECT_EQ(EmuState_Get("driver_buffers", "x"), "");
    EXPECT_EQ(OsSeam_Ioctl(fd, CMD_UNLOCK_KB, nullptr), -1) << "the device is gone with its module";
    errno = 0;
    EXPECT_EQ(OsSeam_UnloadModule("nuvfldrv_mod"), -1);
    EXPECT_EQ(errno, ENOENT);
    std::vector<std::string> t = Trace();
    EXPECT_NE(std::find(t.begin(), t.end(), "module unload name=\"nuvfldrv_mod\" result=removed"), t.end());
    EXPECT_EQ(t.back(), "module unload name=\"nuvfldrv_mod\" result=absent");
}

}  // namespace
