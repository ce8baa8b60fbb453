// The main- and boot-block processors in-process: the OEM activation key
// carried into the image with its FFS file checksum, the SLP emptiness test
// and preservation, and the two forms of the hole merge and restore.
#include <gtest/gtest.h>
#include <algorithm>
#include <cstring>
#include "RomModelKit.h"
#include "SecureFlash.h"
#include "YozOptionStore.h"
#include "YozRegionProc.h"
#include "YozRomFile.h"
#include "YozSysRom.h"

namespace {

using namespace romimg;

const UINT32 kKeyInFile = 44 + 0x47;  // "$FID" record at +44 of its file, key at +0x47

TEST(RegionProcOaKey, SystemKeyReplacesTheImagesAndTheFileSumStaysRight) {
    struct Row {
        size_t systemKey, imageKey;
        uint8_t attributes;  // 0x40: the file's data is summed
        UINT8 result;
    } rows[] = {
        {16, 16, 0x40, 1},
        {16, 32, 0x40, 1},  // a longer image key: the system's bytes go over its start
        {16, 16, 0x00, 1},  // no data sum: the checksum byte is left alone
        {32, 16, 0x40, 0},  // the system's key does not fit: nothing changes
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.systemKey << "/" << row.imageKey << " attr " << int(row.attributes));
        romkit::SetBlocks(SampleBlocks());
        FidSpec sysFid, imgFid;
        sysFid.oaKey = Pattern(row.systemKey, 0x0A);
        imgFid.oaKey = Pattern(row.imageKey, 0x0B);
        FileSpec imgFile = FidFile(imgFid);
        imgFile.attributes = row.attributes;
        Rom system = SampleRom({{PlainFile(1, 0x300), FidFile(sysFid)}, {}, 2});
        Rom img = SampleRom({{PlainFile(2, 0x200), imgFile}, {}, 2});
        romkit::UseFlashCopy(system.bytes);
        ASSERT_NE(YOZ_SysRom_GetVer4Fid(YOZ_pSystembuff), nullptr);
        Bytes image = img.bytes;
        romkit::UseImage(image);
        ASSERT_EQ(YOZ_RomFile_CheckSum(image.data(), img.size()), 1);

        EXPECT_EQ(MB_Proc_UpdateOemActKey(YOZ_pSystembuff, image.data()), row.result);
        uint32_t file = img.File(kFidFile).offset;
        uint32_t key = file + kKeyInFile;
        Bytes expected = img.bytes;
        if (row.result == 1) {
            uint32_t from = system.File(kFidFile).offset + kKeyInFile;
            std::copy(system.bytes.begin() + from, system.bytes.begin() + from + row.systemKey,
                      expected.begin() + key);
            if (row.attributes & 0x40) expected[file + 0x11] = image[file + 0x11];
        }
        EXPECT_TRUE(image == expected);
        EXPECT_EQ(YOZ_RomFile_CheckSum(image.data(), img.size()), 1);
    }
    romkit::ResetModels();
}

// System SLP records at 0x1000 and 0x2000, image records at 0x8000 and
// 0x9000; record i has the GUID i + 1.
struct Slp : ::testing::Test {
    Bytes image;
    void SetUp() override {
        romkit::SetBlocks(SampleBlocks());
        image = Pattern(gRomSize, 0x33);
        YOZ_SysSLPCnt = YOZ_RomFileSLPCnt = YOZ_MAX_SLP;
        for (UINT32 i = 0; i < YOZ_MAX_SLP; ++i) {
            YOZ_SysSLPRHRECList[i] = _ROMHOLEREC{};
            YOZ_SysSLPRHRECList[i].Guid.Data1 = i + 1;
            YOZ_SysSLPRHRECList[i].RomOffset = 0x1000 + i * 0x1000;
            YOZ_SysSLPRHRECList[i].Size = 0x80;
            YOZ_RomFileSLPRHRECList[i] = YOZ_SysSLPRHRECList[i];
            YOZ_RomFileSLPRHRECList[i].RomOffset = 0x8000 + i * 0x1000;
        }
    }
    void TearDown() override { romkit::ResetModels(); }
};

TEST_F(Slp, NothingToKeepWhenNoSystemRecordHoldsKeyData) {
    const int P = -1;  // pattern bytes
    struct Row {
        UINT8 count;
        UINT32 size0;
        int fill0, fill1;
        UINT8 empty;
    } rows[] = {
        {2, 0x80, P, P, 0},    {2, 0x80, 0xFF, P, 0},    {2, 0x80, 0xFF, 0x00, 1},
        {2, 0x1C, P, 0xFF, 1}, {1, 0x80, 0x00, P, 1},   {0, 0x80, P, P, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << int(row.count) << std::hex << " " << row.size0 << " " << row.fill0 << " "
                                        << row.fill1);
        SetUp();
        YOZ_SysSLPCnt = row.count;
        YOZ_SysSLPRHRECList[0].Size = row.size0;
        int fills[2] = {row.fill0, row.fill1};
        for (UINT32 i = 0; i < 2; ++i)
            if (fills[i] != P) memset(image.data() + YOZ_SysSLPRHRECList[i].RomOffset + 0x1C, fills[i], 0x80 - 0x1C);
        EXPECT_EQ(MB_Proc_CheckSLPDataisNull(image.data()), row.empty);
    }
    // Key data that would run past the end of the flash is not read.
    SetUp();
    YOZ_SysSLPCnt = 1;
    YOZ_SysSLPRHRECList[0].RomOffset = gRomSize - 0x40;
    EXPECT_EQ(BB_Proc_CheckSLPDataisNull(image.data()), 1);
}

TEST_F(Slp, KeptAtTheImagesFileOfItsGuidAndSize) {
    struct Row {
        const char* what;
        UINT32 imageSize;
        bool otherName, swapped, blank;
        bool kept;
    } rows[] = {
        {"same name and size", 0x80, false, false, false, true},
        {"other size", 0xA0, false, false, false, false},
        {"other name", 0x80, true, false, false, false},
        {"image records in the other order", 0x80, false, true, false, true},
        {"no key data in the system", 0x80, false, false, true, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        SetUp();
        YOZ_RomFileSLPRHRECList[0].Size = row.imageSize;
        if (row.otherName) YOZ_RomFileSLPRHRECList[0].Guid.Data1 = 0x1234;
        if (row.swapped) std::swap(YOZ_RomFileSLPRHRECList[0].Guid, YOZ_RomFileSLPRHRECList[1].Guid);
        if (row.blank) memset(image.data() + 0x1000 + 0x1C, 0xFF, 0x80 - 0x1C);
        UINT32 target = row.swapped ? 0x9000 : 0x8000;  // the image's place of record 0's GUID
        Bytes out(gRomSize, 0xEE);
        EXPECT_EQ(MB_Proc_Preserve_SLPData(out.data(), image.data()), 1);
        Bytes at(out.begin() + target, out.begin() + target + row.imageSize);
        Bytes want = row.kept ? Bytes(image.begin() + 0x1000, image.begin() + 0x1000 + row.imageSize)
                              : Bytes(row.imageSize, 0xEE);
        EXPECT_TRUE(at == want);
        UINT32 other = row.swapped ? 0x8000 : 0x9000;  // record 1 always agrees
        EXPECT_TRUE(Bytes(out.begin() + other, out.begin() + other + 0x80) ==
                    Bytes(image.begin() + 0x2000, image.begin() + 0x2080));
    }
}

// One system hole (old place 0x30000) and one image hole (new place 0x31000):
// a hole goes to the image's hole of its GUID and size, under both forms;
// one without such a hole is not restored anywhere.
TEST(RegionProcHoles, PairedByGuidAndWhereTheOldHoleGoes) {
    enum Form { MAIN, BOOT };
    struct Row {
        Form form;
        UINT8 layoutChanged;
        bool sameName;
        UINT32 imageSize;
        UINT32 restoredAt;  // 0: nothing restored
    } rows[] = {
        {MAIN, 0, true, 0x40, 0x31000},
        {MAIN, 0, false, 0x40, 0},  // another hole
        {MAIN, 0, true, 0x50, 0},   // a hole of another size
        {MAIN, 1, false, 0x50, 0x31000},
        {BOOT, 0, true, 0x40, 0x31000},
        {BOOT, 0, false, 0x40, 0},  // never pasted over the image's other hole
        {BOOT, 0, true, 0x50, 0},
    };
    Bytes system = Pattern(0x100000, 0x44);
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.form << " " << int(row.layoutChanged) << " " << row.sameName << " "
                                        << std::hex << row.imageSize);
        romkit::SetBlocks(SampleBlocks());
        YOZ_SysRHCnt = 1;
        YOZ_FileRHCnt = 1;
        YOZ_SysRHRECList[0] = _ROMHOLEREC{};
        YOZ_SysRHRECList[0].RomOffset = 0x30000;
        YOZ_SysRHRECList[0].Size = 0x40;
        YOZ_RomFileRHRECList[0] = YOZ_SysRHRECList[0];
        YOZ_RomFileRHRECList[0].RomOffset = 0x31000;
        YOZ_RomFileRHRECList[0].Size = row.imageSize;
        if (!row.sameName) YOZ_RomFileRHRECList[0].Guid.Data1 = 7;
        YOZ_SetLayOutChang(row.layoutChanged);
        UINT8 merged = row.form == MAIN ? MB_Proc_MergeRHList(YOZ_SysRHRECList, YOZ_RomFileRHRECList)
                                        : BB_Proc_MergeRHList(YOZ_SysRHRECList, YOZ_RomFileRHRECList);
        EXPECT_EQ(merged, 1);
        Bytes out(gRomSize, 0xEE);
        if (row.form == MAIN) MB_Proc_FileLoadOldRHToFlashBuff(out.data(), system.data(), gRomSize, YOZ_SysRHRECList);
        else BB_Proc_FileLoadOldRHToFlashBuff(out.data(), system.data(), gRomSize, YOZ_SysRHRECList);
        Bytes want(gRomSize, 0xEE);
        UINT32 from = YOZ_SysRHRECList[0].RomOffset;
        if (row.restoredAt != 0)
            std::copy(system.begin() + from, system.begin() + from + YOZ_SysRHRECList[0].Size,
                      want.begin() + row.restoredAt);
        EXPECT_TRUE(out == want);
    }
    YOZ_SetLayOutChang(0);
    romkit::ResetModels();
}

TEST(RegionProcHoles, SlashLAndHoleNumbersKeepTheImagesDataWithAndWithoutSecureFlash) {
    romkit::SetBlocks(SampleBlocks());
    YOZ_SysRHCnt = YOZ_FileRHCnt = 2;
    for (UINT32 i = 0; i < 2; ++i) {
        YOZ_SysRHRECList[i] = _ROMHOLEREC{};
        YOZ_SysRHRECList[i].RomOffset = YOZ_SysRHRECList[i].FileOffset = 0x30000 + i * 0x1000;
        YOZ_SysRHRECList[i].Size = 0x40;
    }
    Bytes system = Pattern(gRomSize, 0x45);
    UINT8 numbers[16] = {0, 1};  // "/L" with hole number 1
    UINT8 all = 0;
    YOZ_SetRHFullCmdIsEnable(&all);
    struct Row {
        UINT8 slashL;
        UINT8* numbers;
        bool restored[2];
    } rows[] = {{0, nullptr, {true, true}}, {0, numbers, {true, false}}, {1, nullptr, {false, false}}};
    for (UINT8 secure : {1, 0})
    for (const Row& row : rows) {
        FLASH_SetSecureFlashSupported(secure);
        all = row.slashL;
        YOZ_pInputLnList = row.numbers;
        Bytes out(gRomSize, 0xEE), want(gRomSize, 0xEE);
        for (UINT32 i = 0; i < 2; ++i)
            if (row.restored[i]) std::copy_n(system.begin() + 0x30000 + i * 0x1000, 0x40, want.begin() + 0x30000 + i * 0x1000);
        EXPECT_EQ(MB_Proc_FileLoadOldRHToFlashBuff(out.data(), system.data(), gRomSize, YOZ_SysRHRECList), 1);
        EXPECT_TRUE(out == want) << int(row.slashL) << " " << (row.numbers != nullptr) << " secure " << int(secure);
    }
    FLASH_SetSecureFlashSupported(0);
    YOZ_pInputLnList = nullptr;
    YOZ_SetRHFullCmdIsEnable(nullptr);
    romkit::ResetModels();
}

}  // namespace
