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

struct Slp : ::testing::Test {
    Bytes image;
    void SetUp() override {
        romkit::SetBlocks(SampleBlocks());
        image = Pattern(gRomSize, 0x33);
        for (UINT32 i = 0; i < YOZ_MAX_SLP; ++i) {
            YOZ_SysSLPRHRECList[i] = _ROMHOLEREC{};
            YOZ_RomFileSLPRHRECList[i] = _ROMHOLEREC{};
            YOZ_SysSLPRHRECList[i].RomOffset = 0x1000 + i * 0x1000;
            YOZ_SysSLPRHRECList[i].Size = YOZ_RomFileSLPRHRECList[i].Size = 0x80;
            YOZ_RomFileSLPRHRECList[i].RomOffset = 0x8000 + i * 0x1000;
        }
    }
    void TearDown() override { romkit::ResetModels(); }
};

TEST_F(Slp, EmptyWhenARecordIsMissingTooShortOrHoldsOnlyErasedOrZeroBytes) {
    const int P = -1;  // pattern bytes
    struct Row {
        UINT32 size0, size1;
        int fill0, fill1;
        UINT8 empty;
    } rows[] = {
        {0x80, 0x80, P, P, 0},     {0, 0x80, P, P, 1},       {0x80, 0x1B, P, P, 1},
        {0x80, 0x1C, P, P, 1},     {0x80, 0x80, 0xFF, P, 1}, {0x80, 0x80, P, 0x00, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << std::hex << row.size0 << " " << row.size1 << " " << row.fill0 << " "
                                        << row.fill1);
        SetUp();
        UINT32 sizes[2] = {row.size0, row.size1};
        int fills[2] = {row.fill0, row.fill1};
        for (UINT32 i = 0; i < 2; ++i) {
            YOZ_RomFileSLPRHRECList[i].Size = sizes[i];
            if (fills[i] != P)
                memset(image.data() + YOZ_SysSLPRHRECList[i].RomOffset + 0x1C, fills[i], 0x80 - 0x1C);
        }
        EXPECT_EQ(MB_Proc_CheckSLPDataisNull(image.data()), row.empty);
    }
    // Key data that would run past the end of the flash is not read.
    SetUp();
    YOZ_SysSLPRHRECList[1].RomOffset = gRomSize - 0x40;
    EXPECT_EQ(BB_Proc_CheckSLPDataisNull(image.data()), 1);
}

TEST_F(Slp, KeptOnlyWhereNameAndSizeAgree) {
    struct Row {
        UINT32 imageSize;
        bool sameName;
        bool kept;
    } rows[] = {{0x80, true, true}, {0xA0, true, false}, {0x80, false, false}};
    for (const Row& row : rows) {
        SetUp();
        YOZ_RomFileSLPRHRECList[0].Size = row.imageSize;
        if (!row.sameName) YOZ_RomFileSLPRHRECList[0].Guid.Data1 = 0x1234;
        Bytes out(gRomSize, 0xEE);
        EXPECT_EQ(MB_Proc_Preserve_SLPData(out.data(), image.data()), 1);
        Bytes at(out.begin() + 0x8000, out.begin() + 0x8000 + row.imageSize);
        Bytes want = row.kept ? Bytes(image.begin() + 0x1000, image.begin() + 0x1000 + row.imageSize)
                              : Bytes(row.imageSize, 0xEE);
        EXPECT_TRUE(at == want) << row.imageSize << " " << row.sameName;
        EXPECT_TRUE(Bytes(out.begin() + 0x9000, out.begin() + 0x9080) ==
                    Bytes(image.begin() + 0x2000, image.begin() + 0x2080));  // record 1 always agrees
    }
}

// One system hole (old place 0x30000) paired with one image hole (new place 0x31000).
TEST(RegionProcHoles, MergeFormsAndWhereTheOldHoleGoes) {
    enum Form { MAIN, BOOT };
    struct Row {
        Form form;
        UINT8 layoutChanged;
        bool sameName;
        UINT32 imageSize;
        UINT8 merged;
        UINT32 restoredAt;  // 0: nothing restored
    } rows[] = {
        {MAIN, 0, true, 0x40, 1, 0x31000},
        {MAIN, 0, false, 0x40, 0, 0},  // another hole under an unchanged layout
        {MAIN, 0, true, 0x50, 0, 0},   // a hole of another size
        {MAIN, 1, false, 0x50, 1, 0x31000},
        {BOOT, 0, true, 0x40, 1, 0x31000},
        {BOOT, 0, false, 0x40, 1, 0x30000},  // left as it is: back at its own place
        {BOOT, 0, true, 0x50, 0, 0},
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
        EXPECT_EQ(merged, row.merged);
        if (!merged) continue;
        Bytes out(gRomSize, 0xEE);
        if (row.form == MAIN) MB_Proc_FileLoadOldRHToFlashBuff(out.data(), system.data(), gRomSize, YOZ_SysRHRECList);
        else BB_Proc_FileLoadOldRHToFlashBuff(out.data(), system.data(), gRomSize, YOZ_SysRHRECList);
        Bytes want(gRomSize, 0xEE);
        UINT32 from = YOZ_SysRHRECList[0].RomOffset;
        std::copy(system.begin() + from, system.begin() + from + YOZ_SysRHRECList[0].Size,
                  want.begin() + row.restoredAt);
        EXPECT_TRUE(out == want);
    }
    YOZ_SetLayOutChang(0);
    romkit::ResetModels();
}

TEST(RegionProcHoles, UnderSecureFlashSlashLAndHoleNumbersKeepTheImagesData) {
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
    FLASH_SetSecureFlashSupported(1);
    struct Row {
        UINT8 slashL;
        UINT8* numbers;
        bool restored[2];
    } rows[] = {{0, nullptr, {true, true}}, {0, numbers, {true, false}}, {1, nullptr, {false, false}}};
    for (const Row& row : rows) {
        all = row.slashL;
        YOZ_pInputLnList = row.numbers;
        Bytes out(gRomSize, 0xEE), want(gRomSize, 0xEE);
        for (UINT32 i = 0; i < 2; ++i)
            if (row.restored[i]) std::copy_n(system.begin() + 0x30000 + i * 0x1000, 0x40, want.begin() + 0x30000 + i * 0x1000);
        EXPECT_EQ(MB_Proc_FileLoadOldRHToFlashBuff(out.data(), system.data(), gRomSize, YOZ_SysRHRECList), 1);
        EXPECT_TRUE(out == want) << int(row.slashL) << " " << (row.numbers != nullptr);
    }
    FLASH_SetSecureFlashSupported(0);
    YOZ_pInputLnList = nullptr;
    YOZ_SetRHFullCmdIsEnable(nullptr);
    romkit::ResetModels();
}

}  // namespace
