// System ROM model: regions of the block table, non-critical block records,
// the run finder, the firmware identity, the hole census and "$ECB".
#include <gtest/gtest.h>
#include <cstring>
#include "CaptureOut.h"
#include "RomImageBuilder.h"
#include "RomInfo.h"
#include "RomModelKit.h"
#include "YozSysRom.h"

using namespace romimg;

namespace {

TEST(SysRomRegions, RunsOfOneTypeBecomeRegionsOnTheirLists) {
    // boot, main, main, NVRAM, main
    romkit::SetBlocks({{1, 0x10000, 0}, {2, 0x10000, 1}, {1, 0x10000, 2}, {1, 0x10000, 1}});
    ASSERT_EQ(YOZ_SysRom_GetRgNumber(), 4u);
    EXPECT_EQ(YOZ_SysRom_GetBlockType(0), 0);
    EXPECT_EQ(YOZ_SysRom_GetBlockSize(1), 0x20000u);
    EXPECT_EQ(YOZ_SysRom_GetBlockStartAddress(2), 0x30000u);
    EXPECT_EQ(YOZ_SysRom_GetMainBlockRgNumber(), 2u);
    EXPECT_EQ(YOZ_SysRom_GetMainBlockStartAddress(0), 0x10000u);
    EXPECT_EQ(YOZ_SysRom_GetMainBlockSize(0), 0x20000u);
    EXPECT_EQ(YOZ_SysRom_GetMBFirstBlockIndex(1), 4);
    EXPECT_EQ(YOZ_SysRom_GetNVRamBlockRgNumber(), 1u);
    EXPECT_EQ(YOZ_SysRom_GetNVFirstBlockIndex(0), 3);
    EXPECT_EQ(gYOZ_SysRom_RGList[1]->LastIndex, 2);
    // An index past the end answers for the last region.
    EXPECT_EQ(YOZ_SysRom_GetMainBlockStartAddress(7), 0x40000u);
    EXPECT_EQ(YOZ_SysRom_GetAllSize(), 0x50000u);
    EXPECT_EQ(YOZ_SysRom_GetECBlockRgNumber(), 0u);
    EXPECT_EQ(YOZ_SysRom_ECBlockSize(0), 0u);   // empty list: 0
    EXPECT_EQ(YOZ_SysRom_HaveECBlock(), 0);
}

TEST(SysRomRegions, NonCriticalRecordsFlagsAndTheRunFinder) {
    romkit::SetBlocks({{2, 0x1000, 0x80}, {1, 0x1000, 0x81}, {1, 0x1000, 1}, {1, 0x1000, 0x80},
                       {1, 0x1000, 3}, {1, 0x1000, 0x4A}, {2, 0x1000, 1}});
    YOZ_SysRom_GetBlockInfo();
    ASSERT_EQ(YOZ_SysRom_GetNCBNumber(), 3);
    EXPECT_EQ(YOZ_SysRom_GetNCBType(0), 0x80);
    EXPECT_EQ(YOZ_SysRom_GetNCBSize(0), 0x2000u);
    EXPECT_EQ(YOZ_SysRom_GetNCBType(1), 0x81);
    EXPECT_EQ(YOZ_SysRom_GetNCBOffset(2), 0x4000u);   // same type again, not adjacent: a new record
    EXPECT_EQ(YOZ_SysRom_HaveECBlock(), 1);
    EXPECT_EQ(YOZ_SysRom_HaveOAKeyBlock(), 1);
    EXPECT_EQ(YOZ_SysRom_GetOAKeyStartAddress(0), 0x6000u);

    UINT16 index = 0;
    UINT32 start = 0, size = 0;
    ASSERT_EQ(YOZ_SysRom_GetFVRang(1, &start, &size, &index), 1);
    EXPECT_EQ(start, 0x3000u);
    EXPECT_EQ(size, 0x1000u);
    EXPECT_EQ(index, 3);
    ++index;
    ASSERT_EQ(YOZ_SysRom_GetFVRang(1, &start, &size, &index), 1);
    EXPECT_EQ(start, 0x7000u);
    EXPECT_EQ(size, 0x2000u);
    EXPECT_EQ(index, 8);
    ++index;
    EXPECT_EQ(YOZ_SysRom_GetFVRang(1, &start, &size, &index), 0);
    EXPECT_EQ(index, 9);

    UINT32 ecStart = 0, ecSize = 0;
    EXPECT_EQ(YOZ_SysRom_GetShareECBlockInfo(ecStart, ecSize), 1);
    EXPECT_EQ(ecStart, 0x5000u);
    EXPECT_EQ(ecSize, 0x1000u);
}

TEST(SysRomRegions, SeventeenNonCriticalRunsAreCountedNotWritten) {
    std::vector<BlockRun> runs;
    for (uint32_t i = 0; i < 17; ++i) runs.push_back({1, 0x1000, 0x80 + i});
    runs.push_back({1, 0x1000, 1});
    romkit::SetBlocks(runs);
    YOZ_SysRom_GetBlockInfo();
    EXPECT_EQ(YOZ_SysNCBCnt, 17u);
    EXPECT_EQ(YOZ_SysRom_GetNCBType(15), 0x8F);
    EXPECT_EQ(YOZ_SysRom_GetNCBType(16), 0x8F);   // past the records: the last one
    // The census refuses more than 16 (holes + non-critical blocks).
    Rom r(0x12000);
    romkit::UseFlashCopy(r.bytes);
    EXPECT_EQ(YOZ_SysRom_SearchNCB(YOZ_pSystembuff), 0);
}

TEST(SysRomIdentity, OneRecordAnywhereOrTheOneInsideTheBootBlock) {
    romkit::SetBlocks(SampleBlocks());
    FidSpec a;
    a.projectId = "MAINPRJ1";
    FidSpec b;
    b.projectId = "BOOTPRJ2";
    b.fwGuid.b[0] = 0x42;
    Rom one = SampleRom({{FidFile(a)}, {}, 2});
    romkit::UseFlashCopy(one.bytes);
    EXPECT_EQ(YOZ_SysRom_GetRomID(YOZ_pSystembuff), eEID_NO_ERROR);
    EXPECT_STREQ(g_FwId, "MAINPRJ1");
    EXPECT_EQ(memcmp(g_FwGuid, a.fwGuid.b, 16), 0);

    Rom two = SampleRom({{FidFile(a)}, {FidFile(b)}, 2});
    romkit::UseFlashCopy(two.bytes);
    EXPECT_EQ(YOZ_SysRom_GetRomID(YOZ_pSystembuff), eEID_NO_ERROR);
    EXPECT_STREQ(g_FwId, "BOOTPRJ2");
    ASSERT_EQ(gROMIDCnt, 2u);
    EXPECT_EQ(RomIDDataList[0].Flag, 0xFF);
    EXPECT_EQ(RomIDDataList[1].Flag, 0);

    Rom twoOutside = SampleRom({{FidFile(a), FidFile(b)}, {}, 2});
    romkit::UseFlashCopy(twoOutside.bytes);
    EXPECT_EQ(YOZ_SysRom_GetRomID(YOZ_pSystembuff), eEID_INEXIST_SYSTEM_ROM_ID);

    Rom none = SampleRom({{PlainFile(1, 10)}, {}, 2});
    romkit::UseFlashCopy(none.bytes);
    EXPECT_EQ(YOZ_SysRom_GetRomID(YOZ_pSystembuff), eEID_INEXIST_SYSTEM_ROM_ID);
}

TEST(SysRomIdentity, Version4RecordIsOwnedAndVersion3EndsTheSearch) {
    romkit::SetBlocks(SampleBlocks());
    FidSpec v4;
    v4.oaKey = Pattern(20, 1);
    v4.padTo = 300;   // larger than the 120-byte quick read
    Rom r = SampleRom({{FidFile(v4)}, {}, 2});
    romkit::UseFlashCopy(r.bytes);
    UINT8* rec = YOZ_SysRom_GetVer4Fid(YOZ_pSystembuff);
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(YOZ_SysRom_GetVer4Fid(YOZ_pSystembuff), rec);   // the same copy for the whole run
    EXPECT_EQ(gYOZ_FidSystemOffset, r.File(kFidFile).offset + 44);
    Bytes want = FidRecord(v4);
    EXPECT_EQ(memcmp(rec, want.data(), 91), 0);
    EXPECT_EQ(YOZ_SysRom_CheckOAKeyInRom(), 1);

    romkit::ResetModels();
    FidSpec v3 = v4;
    v3.version = 3;
    Rom old = SampleRom({{FidFile(v3), FidFile(v4)}, {}, 2});
    romkit::UseFlashCopy(old.bytes);
    EXPECT_EQ(YOZ_SysRom_GetVer4Fid(YOZ_pSystembuff), nullptr);
    EXPECT_EQ(YOZ_SysRom_CheckOAKeyInRom(), 0);

    romkit::ResetModels();
    Rom big = SampleRom({{FidFile(v4)}, {}, 2});
    mut::FidSize(big, 1025);
    romkit::UseFlashCopy(big.bytes);
    EXPECT_EQ(YOZ_SysRom_GetVer4Fid(YOZ_pSystembuff), nullptr);
}

TEST(SysRomCensus, HolesSlpDmiAndTheOa31FlagOfTheFlash) {
    romkit::SetBlocks({{1, 0x10000, 2}, {1, 0x10000, 0x80}, {12, 0x10000, 1}, {2, 0x10000, 0}});
    Rom r = SampleRom({{RomHoleFile(2, 30), Oa31File(10), DmiFile(Pattern(8, 1))}, {SlpKeyFile(4), SlpMarkerFile(4)}, 2});
    romkit::UseFlashCopy(r.bytes);
    EXPECT_EQ(YOZ_SysRom_SearchNCB(YOZ_pSystembuff), 1);
    EXPECT_EQ(YOZ_SysRom_GetRomHoleNumber(), 1);
    EXPECT_EQ(YOZ_SysRom_GetRomHoleRomOffset(0), r.File(RomHoleGuid(2)).offset);
    EXPECT_EQ(YOZ_SysRom_GetRomHoleSize(0), r.File(RomHoleGuid(2)).size);
    EXPECT_EQ(memcmp(YOZ_SysRom_GetRomHoleGuid(0), RomHoleGuid(2).b, 16), 0);
    EXPECT_EQ(YOZ_SysRom_HaveSLP20(), 1);
    EXPECT_EQ(YOZ_SysRom_HaveOA31Guid(), 1);
    EXPECT_EQ(YOZ_SysRom_GetDMINumber(), 1u);
    EXPECT_EQ(YOZ_SysRom_GetDMIRomOffset(0), r.File(kDmiFile).offset);
    EXPECT_EQ(YOZ_SysRom_GetNCBNumber(), 1);

    // Nothing protected and no non-critical block: 0.
    romkit::SetBlocks(SampleBlocks());
    Rom empty = SampleRom({{PlainFile(1, 10)}, {}, 2});
    romkit::UseFlashCopy(empty.bytes);
    EXPECT_EQ(YOZ_SysRom_SearchNCB(YOZ_pSystembuff), 0);
}

static Bytes EcbSegment(uint8_t status, uint32_t at) {
    Bytes seg(0xFFFF, 0);
    memcpy(&seg[at], "$ECB", 4);
    seg[at + 4] = status;
    const char* msgs[4] = {"AC adapter missing", "Battery low", "EC busy", "Lid closed"};
    uint32_t text = 0x8000;
    for (int k = 0; k < 4; ++k) {
        Put16(seg, at + 23 + 2 * k, static_cast<uint16_t>(text));
        memcpy(&seg[text], msgs[k], strlen(msgs[k]) + 1);
        text += 0x40;
    }
    return seg;
}

TEST(SysRomEcb, FirstBlockingBitPrintsItsMessage) {
    romkit::ResetModels();
    {
        Bytes seg = EcbSegment(0x30, 0x100);
        unit::CapturedOut out;
        EXPECT_EQ(YOZ_SysRom_EC_ScanSegment(seg.data(), static_cast<UINT32>(seg.size())), 0);
        EXPECT_EQ(out.Text(), "AC adapter missing\n");
        ASSERT_NE(YOZ_pEcbHdr, nullptr);
        EXPECT_EQ(YOZ_pEcbHdr[4], 0x30);
    }
    {
        Bytes seg = EcbSegment(0x0F, 0x100);
        unit::CapturedOut out;
        EXPECT_EQ(YOZ_SysRom_EC_ScanSegment(seg.data(), static_cast<UINT32>(seg.size())), 1);
        EXPECT_EQ(out.Text(), "");
    }
    {
        // A message offset past the segment prints an empty line, no more.
        Bytes seg = EcbSegment(0x80, 0x100);
        Put16(seg, 0x100 + 29, 0xFFFF);
        unit::CapturedOut out;
        EXPECT_EQ(YOZ_SysRom_EC_ScanSegment(seg.data(), static_cast<UINT32>(seg.size())), 0);
        EXPECT_EQ(out.Text(), "\n");
    }
    {
        // A header cut by the end of the segment does not count; zero memory has none.
        Bytes seg(0xFFFF, 0);
        memcpy(&seg[0xFFF0], "$ECB", 4);
        seg[0xFFF4] = 0x10;
        EXPECT_EQ(YOZ_SysRom_EC_ScanSegment(seg.data(), static_cast<UINT32>(seg.size())), 1);
    }
}

}  // namespace

// The status read through physical memory of the emulated machine.
#include "EmuAcpi.h"
#include "EmuEcb.h"
#include "HuxPlatform.h"
#include "TKXAcpi.h"
#include "TKXPhysMem.h"
#include "UnitMachine.h"

namespace {

struct EcbMachine : ::testing::Test {
    TKXArgvList args;
    bool Start(const std::vector<std::string>& settings) {
        if (!unitmachine::Reset(settings)) return false;
        std::string error;
        bool ok = EmuAcpi_Layout(error) && EmuEcb_Layout(error);
        EXPECT_TRUE(ok) << error;
        return ok && TKX_RuntimeMemoryHoleLoader(args, 0) && InitMemMgr();
    }
    void TearDown() override {
        CleanMemMgr();
        TKX_AcpiForgetTables();
        romkit::ResetModels();
    }
};

TEST_F(EcbMachine, NoBlockByDefaultAndTheFirmwaresMessageWhenBlocked) {
    ASSERT_TRUE(Start({}));
    romkit::ResetModels();
    EXPECT_EQ(YOZ_SysRom_EC_CheckStatus(), 1);
    EXPECT_EQ(YOZ_SysRom_EC_ECBIDFlag(), 0);
    CleanMemMgr();

    ASSERT_TRUE(Start({"ecb=0x60", "ecb_msg20=Battery too low to flash."}));
    romkit::ResetModels();
    unit::CapturedOut out;
    EXPECT_EQ(YOZ_SysRom_EC_CheckStatus(), 0);
    EXPECT_EQ(out.Text(), "Battery too low to flash.\n");
    EXPECT_EQ(YOZ_SysRom_EC_ECBIDFlag(), 0x60);
    ASSERT_NE(YOZ_pEcbHdr, nullptr);
    EXPECT_EQ(memcmp(YOZ_pEcbHdr, "$ECB", 4), 0);
}

}  // namespace
