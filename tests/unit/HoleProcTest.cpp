// ROM-hole processors in process: the merges, the hole do-it lists, the
// search by GUID, the SLP key rewrite, the firmware's choice and the hole
// written to a file.
#include <gtest/gtest.h>
#include <cstring>
#include "E2eHarness.h"
#include "RomModelKit.h"
#include "SampleUpdate.h"
#include "TKXFile.h"
#include "YozFlash.h"
#include "YozHoleProc.h"
#include "YozOptionStore.h"
#include "YozRomFile.h"
#include "YozSysRom.h"
#include "ZoktCfgCmd.h"

namespace {

using romimg::Bytes;

class HoleProc : public ::testing::Test {
protected:
    romimg::SampleUpdate u = romimg::MakeSampleUpdate();
    UINT8 map[16] = {0};
    // System and image of the sample update, both walked for their holes.
    void SetUp() override { Use(u.system.bytes, u.image.bytes); }
    void TearDown() override {
        YOZ_FlashItemList_Release();
        romkit::ResetModels();
    }
    void Use(const Bytes& system, Bytes& image) {
        romkit::SetBlocks(romimg::SampleBlocks());
        romkit::UseFlashCopy(system);
        romkit::UseImage(image);
        YOZ_SysRom_SearchNCB(YOZ_SysRom_GetBuffer());
        YOZ_RomFile_SearchNCB(YOZ_pOpenFileBuff);
        YOZ_FlashItemList_Release();
    }
};

TEST_F(HoleProc, TwoHolesInOneBlockMarkItOnceAndAChosenMissingHoleMarksNothing) {
    ASSERT_EQ(YOZ_SysRom_GetRomHoleNumber(), 2);
    EXPECT_EQ(RHF_Proc_MakeDoItList(map), 0x10000u);
    for (int b = 0; b < 16; ++b) EXPECT_EQ(map[b], b == 2 ? 1 : 0) << b;
    EXPECT_EQ(gRHFF_FV_MainEnable, 1);
    EXPECT_EQ(gRHFF_FV_BootEnable, 0);

    UINT8 chosen[16] = {0};
    chosen[1] = 1;
    EXPECT_EQ(RHN_Proc_MakeDoItList(map, chosen), 0x10000u);
    chosen[5] = 1;  // the image has no hole 5
    EXPECT_EQ(RHN_Proc_MakeDoItList(map, chosen), 0u);
}

// The plain hole stage pairs each system hole with the image's of its GUID,
// to be written at the system's place; a hole of a region the run flashes
// from the image is left to that flash; a GUID held twice, or a hole the
// image lacks or resized, stops it.
TEST_F(HoleProc, PlainHoleStagePairsByGuidAndSettlesItsRefusals) {
    using romimg::ProtectedLayout;
    const romimg::Guid h0 = romimg::RomHoleGuid(0), h1 = romimg::RomHoleGuid(1);
    const ProtectedLayout plain;
    UINT8 no = 0, yes = 1, one[16] = {0, 1};
    struct Row {
        const char* what;
        ProtectedLayout system, image;
        UINT8* chosen;
        UINT8* mainWritten;  // "/P"
        ENUM_ERR_ID status;
        UINT8 write0, write1;
    } rows[] = {
        {"same layout", plain, plain, nullptr, &no, eEID_NO_ERROR, 1, 1},
        {"the image swaps the holes", plain, ProtectedLayout(plain).Swap(h0, h1), nullptr, &no, eEID_NO_ERROR, 1, 1},
        {"only the chosen one", plain, plain, one, &no, eEID_NO_ERROR, 0, 1},
        {"the main blocks are flashed from the image", plain, plain, nullptr, &yes, eEID_NO_ERROR, 0, 0},
        {"the image lacks a hole", plain, ProtectedLayout(plain).Drop(h0), nullptr, &no, eEID_NOT_MATCH_NCB, 0, 0},
        {"the image lacks the chosen hole", plain, ProtectedLayout(plain).Drop(h1), one, &no, eEID_ROMHOLE_NOT_EXIST, 0, 0},
        {"the image resized a hole", plain, ProtectedLayout(plain).Resize(h1, 0x70), nullptr, &no, eEID_NOT_MATCH_NCB, 0, 0},
        {"the image holds a hole twice", plain, ProtectedLayout(plain).AddMain(0, romimg::RomHoleFile(1, 0x60)), nullptr,
         &no, eEID_EXIST_SAME_HOLE_GUID, 0, 0},
        {"the system holds a hole twice", ProtectedLayout(plain).AddMain(0, romimg::RomHoleFile(1, 0x60)), plain,
         nullptr, &no, eEID_EXIST_SAME_HOLE_GUID, 0, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        romimg::SampleUpdate pair = romimg::MakeSampleUpdate(r.system, r.image);
        Use(pair.system.bytes, pair.image.bytes);
        YOZ_SetPCmdIsEnable(r.mainWritten);
        UINT8 write[16];
        EXPECT_EQ(RHP_PairHoles(YOZ_SysRHRECList, YOZ_RomFileRHRECList, r.chosen, write), r.status);
        if (r.status != eEID_NO_ERROR) continue;
        EXPECT_EQ(write[0], r.write0);
        EXPECT_EQ(write[1], r.write1);
        for (UINT32 i = 0; i < 2; ++i) {
            if (!write[i]) continue;
            // The source is the image's file of the hole's GUID.
            UINT32 source = YOZ_SysRHRECList[i].FileOffset;
            EXPECT_EQ(memcmp(pair.image.bytes.data() + source, &YOZ_SysRHRECList[i].Guid, 16), 0) << i;
        }
    }
    YOZ_SetPCmdIsEnable(nullptr);
}

TEST_F(HoleProc, StrictMergePairsEveryImageHole) {
    EXPECT_EQ(RHF_Proc_MergeRHList(YOZ_SysRHRECList, YOZ_RomFileRHRECList), 1);
    UINT32 placed = YOZ_SysRHRECList[1].FileOffset;
    EXPECT_EQ(placed, u.hole1.offset);
    // An image hole the system lacks has no place to go.
    YOZ_SysRHRECList[1] = _ROMHOLEREC{};
    YOZ_SysRHCnt = 1;
    EXPECT_EQ(RHF_Proc_MergeRHList(YOZ_SysRHRECList, YOZ_RomFileRHRECList), 0);
    Use(u.system.bytes, u.image.bytes);
    YOZ_SysRHRECList[0].Size += 8;
    EXPECT_EQ(RHN_Proc_MergeRHList(YOZ_SysRHRECList, YOZ_RomFileRHRECList), 0);
}

TEST_F(HoleProc, SecureMergeReadsTheImageWhereItHoldsTheHole) {
    YOZ_RomFileRHRECList[1].RomOffset += 0x100;  // moved in the image
    EXPECT_EQ(RHF_Proc_SecureMergeRHList(YOZ_SysRHRECList, YOZ_RomFileRHRECList), eEID_NO_ERROR);
    UINT32 placed0 = YOZ_SysRHRECList[0].FileOffset, placed1 = YOZ_SysRHRECList[1].FileOffset;
    EXPECT_EQ(placed0, u.hole0.offset);
    EXPECT_EQ(placed1, u.hole1.offset + 0x100);
    YOZ_RomFileRHRECList[0].Size = 0x30;
    EXPECT_EQ(RHN_Proc_SecureMergeRHList(YOZ_SysRHRECList, YOZ_RomFileRHRECList), eEID_INVALID_HOLE_LAYOUT);
}

TEST_F(HoleProc, FindByGuidRefusesATwiceNamedHoleAndNeverMatchesAnEmptyPlace) {
    _ROMHOLEREC list[16] = {};
    list[3] = YOZ_SysRHRECList[1];
    EXPECT_EQ(RH_Proc_CompRHREC(&list[3].Guid, list), &list[3]);
    EFI_GUID zero = {};
    EXPECT_EQ(RHO_Proc_CompRHREC(&zero, list), nullptr);
    list[9] = list[3];
    gRHF_RomHole_TheSame = 0;
    EXPECT_EQ(RH_Proc_CompRHREC(&list[3].Guid, list), nullptr);
    EXPECT_EQ(gRHF_RomHole_TheSame, 1);
    EXPECT_EQ(RHO_Proc_CompOtherRHREC(&list[3].Guid, list, 16), &list[3]);  // no duplicate test
}

TEST_F(HoleProc, SlpKeyGoesOnlyIntoABlankAreaAndKeepsTheFileChecksum) {
    const UINT32 key = 0x40;
    romimg::FileSpec blank = romimg::SlpKeyFile(4 + key);
    blank.body.assign(4 + key, 0xFF);
    romimg::SampleSpec spec;
    spec.mainFiles = {romimg::PlainFile(1, 0x300), romimg::FidFile(romimg::FidSpec()), romimg::RomHoleFile(0, 0x40),
                      blank, romimg::SlpMarkerFile(0x20)};
    spec.bootFiles = {romimg::PlainFile(3, 0x80)};
    romimg::Rom system = romimg::SampleRom(spec);
    Use(system.bytes, u.image.bytes);
    Bytes file = romimg::Pattern(key, 9);
    _ROMHOLEREC* slp = RH_Proc_CompOtherRHREC(const_cast<EFI_GUID*>(&YOZ_SysSLPRHRECList[0].Guid), YOZ_SysSLPRHRECList, 2);
    ASSERT_NE(slp, nullptr);
    UINT8* copy = YOZ_SysRom_GetBuffer();
    ASSERT_EQ(RH_Proc_FileRHToFlashBuff(copy, file.data(), key, slp), eEID_NO_ERROR);
    const UINT8* ffs = copy + slp->RomOffset;
    EXPECT_EQ(ffs[24] | ffs[25] << 8 | ffs[26] << 16, static_cast<int>(key + 4));
    EXPECT_EQ(ffs[27], 0x19);
    EXPECT_EQ(memcmp(ffs + 28, file.data(), key), 0);
    EXPECT_EQ(static_cast<UINT8>(YOZ_CalCheckSum8(ffs + 24, slp->Size - 24) + ffs[0x11]), 0);
    EXPECT_EQ(slp->RomOffset, system.File(romimg::kSlpKey).offset) << "the system's record stays as found";

    // The sample's SLP key area holds a key already; one byte too many does not fit.
    Use(u.system.bytes, u.image.bytes);
    EXPECT_EQ(RH_Proc_FileRHToFlashBuff(YOZ_SysRom_GetBuffer(), file.data(), key, &YOZ_SysSLPRHRECList[0]),
              static_cast<ENUM_ERR_ID>(0x4B));
    EXPECT_EQ(RH_Proc_FileRHToFlashBuff(YOZ_SysRom_GetBuffer(), file.data(), u.slpKey.size - 27, &YOZ_SysSLPRHRECList[0]),
              eEID_NOT_MATCH_HOLE);
}

TEST_F(HoleProc, FirmwareWordsChooseTheirXor) {
    UINT8 flags[16];
    memset(&ZOKT_CfgExtData, 0, sizeof(ZOKT_CfgExtData));
    EXPECT_EQ(RHNF_BitDataToLnValue(flags), 0);
    ZOKT_CfgExtData.Ln = ZOKT_DC_EXT_ENTRY{ZOKT_TC_CFG_LN, 0x0005, 0x0001};
    EXPECT_EQ(RHNF_BitDataToLnValue(flags), 1);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(flags[i], i == 2 ? 1 : 0) << i;
    ZOKT_CfgExtData.Ln.Mask = 0x0005;
    EXPECT_EQ(RHNF_BitDataToLnValue(flags), 0);
    memset(&ZOKT_CfgExtData, 0, sizeof(ZOKT_CfgExtData));
}

TEST_F(HoleProc, LargeHoleGoesToItsFileWhole) {
    Bytes flash = romimg::Pattern(0x100000, 5);
    _ROMHOLEREC hole = {};
    hole.RomOffset = 0x40000;
    hole.Size = 0x30018;
    std::string path = e2e::TempDir("holeout") + "/hole.bin";
    EXPECT_EQ(RHO_Proc_RomHoleWriteToFile(TKX_CreateNewFile(path.c_str()), flash.data(), &hole), eEID_NO_ERROR);
    std::string saved = e2e::ReadFile(path);
    ASSERT_EQ(saved.size(), 0x30000u);
    EXPECT_EQ(memcmp(saved.data(), flash.data() + 0x40018, saved.size()), 0);
    hole.RomOffset = 0xF0000;  // runs past the flash: the saved file stays
    EXPECT_EQ(RHO_Proc_RomHoleWriteToFile(TKX_CreateNewFile(path.c_str()), flash.data(), &hole), eEID_NOT_MATCH_NCB);
    EXPECT_EQ(e2e::ReadFile(path), saved);
}

}  // namespace
