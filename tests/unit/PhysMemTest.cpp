// The memory manager in-process against the emulated machine: the pool from
// the WSMT mailbox or the memory hole, the mailbox guard on later SMIs, the
// pool size fall-back, mappings, CMOS and the short-form port write.
#include <gtest/gtest.h>
#include <cstring>
#include <vector>
#include "EmuAcpi.h"
#include "HuxPlatform.h"
#include "TKXPhysMem.h"
#include "TKXPortIo.h"
#include "UnitMachine.h"
#include "TKXAcpi.h"

using namespace unitmachine;

namespace {

const UINT32 kHole = 0x7e000000;
const UINT32 kMailBox = 0x7e100000;
const UINT32 kMailBoxBuffer = 0x7e101000;

std::vector<UINT32> g_Tries;
UINT32 g_Largest = 0;
UINT8 g_Backing[0x11000];

// A buffer provider that can give at most g_Largest bytes.
UINT8 LimitedAlloc(UINT32 size, UINT32* physical, UINT8** virtualAddress) {
    g_Tries.push_back(size);
    if (size > g_Largest) return 0;
    *physical = 0x1000000;
    *virtualAddress = g_Backing;
    return 1;
}
UINT8 LimitedFree(UINT32, UINT32) { return 1; }

struct MemMgr : ::testing::Test {
    TKXArgvList args;
    void Start(const std::vector<std::string>& settings) {
        ASSERT_TRUE(Reset(settings));
        std::string error;
        ASSERT_TRUE(EmuAcpi_Layout(error)) << error;
    }
    void TearDown() override {
        CleanMemMgr();
        TKX_AcpiForgetTables();
        AllocPhyMemImpl = _AllocPhyMem;
        FreePhyMemImpl = _FreePhyMem;
        RuntimeMemoryHoleAddress = 0;
        gIntrBufPhyAddr = 0;
        g_Tries.clear();
    }
    std::string LastSmi() {
        std::vector<std::string> trace = Trace();
        for (size_t i = trace.size(); i-- > 0;) {
            if (trace[i].compare(0, 4, "smi ") == 0) return trace[i];
        }
        return "";
    }
    UINT32 Guard() {
        UINT32 v = 0;
        std::string s = GetPhys(kMailBox + 20, 4);
        if (s.size() == 4) memcpy(&v, s.data(), 4);
        return v;
    }
};

TEST_F(MemMgr, MailBoxOnTryTwoServesThePoolAndItsGuardIsKept) {
    Start({"mailbox=try2"});
    ASSERT_TRUE(TKX_RuntimeMemoryHoleLoader(args, 0));
    EXPECT_EQ(RuntimeMemoryHoleAddress, kHole);
    ASSERT_TRUE(InitMemMgr());
    EXPECT_EQ(TKX_GetWSMTisEnabled(), 1);
    EXPECT_EQ(CleanMemMgrHook, CleanMemMgr);

    UINT32 physical = 0;
    UINT8* buffer = nullptr;
    ASSERT_EQ(AllocPhyMem(0x11000, &physical, &buffer), 1);
    EXPECT_EQ(physical, kMailBoxBuffer);
    // The pool is the machine's memory: what the program writes the firmware reads.
    memcpy(buffer + 0x10FFC, "TAIL", 4);
    EXPECT_EQ(GetPhys(kMailBoxBuffer + 0x10FFC, 4), "TAIL");
    EXPECT_EQ(GetPhys(kMailBox, 24), std::string(24, '\0')) << "the live mailbox is zeroed when taken";

    gIntrBufPhyAddr = physical;
    OutPortByte(0xB2, 0x5A);
    EXPECT_EQ(LastSmi(), "smi cmd=0x5a port=0xb2 ebx=0x7e101000 mbox20=0x5a5a0001 unhandled");
    EXPECT_EQ(Guard(), ~0x5a5a0001u) << "the firmware changed it after the request";
    OutPortByte(0xB2, 0x5A);
    EXPECT_EQ(LastSmi(), "smi cmd=0x5a port=0xb2 ebx=0x7e101000 mbox20=0x5a5a0001 unhandled");
    EXPECT_EQ(GetPhys(kMailBox, 20), std::string(20, '\0')) << "only the guarded word is restored";

    // The direct three-argument write does not restore it.
    DMIAccessIOByte(0xB2, 0x5A, physical);
    EXPECT_EQ(LastSmi(), "smi cmd=0x5a port=0xb2 ebx=0x7e101000 mbox20=0xa5a5fffe unhandled");

    // Releasing puts the saved mailbox back and tells the firmware.
    CleanMemMgr();
    EXPECT_EQ(LastSmi(), "smi cmd=0xd9 port=0xb2 ebx=0x00000000 mbox20=0x5a5a0001 ecx=0xc0000002 edi=0x0 esi=0x0 "
                         "mailbox=released");
    EXPECT_EQ(GetPhys(kMailBox, 8), "WSMTMBOX");
    EXPECT_EQ(TKX_GetWSMTisEnabled(), 0);
}

TEST_F(MemMgr, MailBoxThatCannotBeMappedCountsAsRefused) {
    Start({"mailbox=try1", "mailbox_buffer_addr=0xffff8000"});
    ASSERT_TRUE(TKX_RuntimeMemoryHoleLoader(args, 0));
    ASSERT_TRUE(InitMemMgr());
    EXPECT_EQ(TKX_GetWSMTisEnabled(), 0);
    EXPECT_EQ(gSmiMailBoxAddress, 0u);
    UINT32 physical = 0;
    UINT8* buffer = nullptr;
    ASSERT_EQ(AllocPhyMem(0x11000, &physical, &buffer), 1);
    EXPECT_EQ(physical, kHole);
}

TEST_F(MemMgr, HoleLoaderAsksOnlyWhenNoEarlierLoaderSucceeded) {
    Start({});
    EXPECT_FALSE(TKX_RuntimeMemoryHoleLoader(args, 1));
    EXPECT_TRUE(Trace().empty());
    EXPECT_EQ(AllocPhyMemImpl, _AllocPhyMem);
}

TEST_F(MemMgr, PoolFallsBackInPagesAndIsNotHandedOutLarger) {
    Start({"mem_hole=0"});
    AllocPhyMemImpl = LimitedAlloc;
    FreePhyMemImpl = LimitedFree;
    g_Largest = 0x10000;
    ASSERT_TRUE(InitMemMgr());
    EXPECT_EQ(g_Tries, (std::vector<UINT32>{0x11000, 0x10000}));
    EXPECT_EQ(MemoryPoolSize, 0x10000u);
    UINT32 physical = 0;
    UINT8* buffer = nullptr;
    EXPECT_EQ(AllocPhyMem(0x11000, &physical, &buffer), 0) << "the interface buffer needs 0x11000 bytes";
    EXPECT_EQ(AllocPhyMem(0x10000, &physical, &buffer), 1);
    EXPECT_EQ(buffer, g_Backing);
}

TEST_F(MemMgr, NoPoolAfterSixteenSizes) {
    Start({"mem_hole=0"});
    AllocPhyMemImpl = LimitedAlloc;
    FreePhyMemImpl = LimitedFree;
    g_Largest = 0x1000;
    EXPECT_FALSE(InitMemMgr());
    ASSERT_EQ(g_Tries.size(), 16u);
    EXPECT_EQ(g_Tries.front(), 0x11000u);
    EXPECT_EQ(g_Tries.back(), 0x2000u);
    UINT32 physical = 0;
    UINT8* buffer = nullptr;
    EXPECT_EQ(AllocPhyMem(0x1000, &physical, &buffer), 0);
}

TEST_F(MemMgr, MappingsHandleUnalignedAddressesAndRefuseBeyondFourGiB) {
    Start({});
    EXPECT_EQ(MapPhyMem(0x1000, 16), nullptr) << "nothing open yet";
    ASSERT_TRUE(TKX_RuntimeMemoryHoleLoader(args, 0));
    ASSERT_TRUE(InitMemMgr());
    ASSERT_TRUE(PutPhys(0x12345, "unaligned"));
    UINT8* p = MapPhyMem(0x12345, 9);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(p), 9), "unaligned");
    memcpy(p, "UN", 2);
    EXPECT_EQ(UnMapPhyMem(p, 9), 1);
    EXPECT_EQ(GetPhys(0x12345, 9), "UNaligned");
    EXPECT_EQ(MapPhyMem(0xFFFFFFF0, 0x20), nullptr);
    EXPECT_EQ(MapPhyMem(0x1000, 0), nullptr);
}

TEST_F(MemMgr, CmosAndResetRegisterAreShortFormPortWrites) {
    Start({});
    gIntrBufPhyAddr = kHole;
    WriteCmos(0x10, 0xAB);
    EXPECT_EQ(ReadCmos(0x10), 0xAB);
    EXPECT_EQ(ReadCmos(0x90), 0xAB) << "bit 7 of the index is the NMI mask";
    EXPECT_EQ(ReadCmos(0x11), 0x00);
    OutPortByte(0xCF9, 0x0E);
    std::vector<std::string> trace = Trace();
    std::vector<std::string> expected = {"port out=0x70 value=0x10", "port out=0x71 value=0xab",
                                         "port out=0x70 value=0x10", "port in=0x71",
                                         "port out=0x70 value=0x90", "port in=0x71",
                                         "port out=0x70 value=0x11", "port in=0x71",
                                         "port out=0xcf9 value=0x0e"};
    EXPECT_EQ(trace, expected);
}

TEST(ProcessServices, BaseNameMustFitWithItsTerminator) {
    char path[] = "/a/b/c.rom";
    char out[256] = "unchanged";
    EXPECT_EQ(TKX_GetFileBaseName(path, out, sizeof(out)), 1);
    EXPECT_STREQ(out, "c.rom");
    std::string longName = "/d/" + std::string(256, 'n');
    std::vector<char> longPath(longName.begin(), longName.end());
    longPath.push_back('\0');
    strcpy(out, "unchanged");
    EXPECT_EQ(TKX_GetFileBaseName(longPath.data(), out, 256), 0);
    EXPECT_STREQ(out, "unchanged");
    char trailing[] = "/x/y/";
    EXPECT_EQ(TKX_GetFileBaseName(trailing, out, 2), 1);
    EXPECT_STREQ(out, "y");
}

TEST(ProcessServices, FullPathNamesAreCanonical) {
    char* full = TKX_GetFileFullPathName("/tmp/../tmp/.");
    ASSERT_NE(full, nullptr);
    EXPECT_STREQ(full, "/tmp");
    FreeMem(full);
    EXPECT_EQ(TKX_GetFileFullPathName("/no/such/dir/at/all"), nullptr);
    EXPECT_NE(TKX_GetExecFileFullName()[0], '\0');
}

}  // namespace
