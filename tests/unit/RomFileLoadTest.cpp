// Loading the image through the file hub or from the trailer, the file-name
// test, and the OEM activation key warning.
#include <gtest/gtest.h>
#include <cstring>
#include "CaptureOut.h"
#include "E2eHarness.h"
#include "RomImageBuilder.h"
#include "RomModelKit.h"
#include "TKXFile.h"
#include "YozOptionStore.h"
#include "YozRomFile.h"
#include "YozSysRom.h"

using namespace romimg;

namespace {

class RomFileLoad : public ::testing::Test {
protected:
    void SetUp() override {
        romkit::SetBlocks(SampleBlocks());
        CleanUpFileHub();
        InitializeFileHub();
        dir = e2e::TempDir("romfile");
    }
    void TearDown() override { CleanUpFileHub(); }
    std::string dir;
};

TEST_F(RomFileLoad, FileNamesAndTheEmbeddedImageWord) {
    std::string path = dir + "/bios.rom";
    e2e::WriteFile(path, "x");
    YOZ_RomFile_SetFileEnable(&path[0]);
    EXPECT_EQ(YOZ_RomFile_GetFileEnable(), 1);
    char embedded[] = "UCPIMG";
    YOZ_RomFile_SetFileEnable(embedded);
    EXPECT_EQ(YOZ_RomFile_GetFileEnable(), 1);
    char lower[] = "ucpimg";   // a whole, case-sensitive word
    YOZ_RomFile_SetFileEnable(lower);
    EXPECT_EQ(YOZ_RomFile_GetFileEnable(), 0);
    YOZ_RomFile_SetFileEnable(&dir[0]);   // a directory is no ROM file
    EXPECT_EQ(YOZ_RomFile_GetFileEnable(), 0);
    YOZ_RomFile_SetFileEnable(nullptr);
    EXPECT_EQ(YOZ_RomFile_GetFileEnable(), 0);
}

TEST_F(RomFileLoad, FromTheHubOnceAndFromTheTrailerImage) {
    Rom r = SampleRom({{PlainFile(1, 10)}, {}, 2});
    std::string path = dir + "/bios.rom";
    e2e::WriteFile(path, std::string(r.bytes.begin(), r.bytes.end()));
    YOZ_pFileName = &path[0];
    EXPECT_EQ(YOZ_RomFile_LoadToBuff(), eEID_NO_ERROR);
    EXPECT_EQ(YOZ_RomFile_IsLoad(), 1);
    ASSERT_EQ(YOZ_RomFile_Size(), r.size());
    EXPECT_EQ(memcmp(YOZ_RomFile_GetBuffer(), r.bytes.data(), r.size()), 0);
    UINT8* first = YOZ_RomFile_GetBuffer();
    EXPECT_EQ(YOZ_RomFile_LoadToBuff(), eEID_NO_ERROR);   // loaded once
    EXPECT_EQ(YOZ_RomFile_GetBuffer(), first);

    // No file: 0x30 without an embedded image.
    YOZ_RomFile_Init();
    std::string missing = dir + "/none.rom";
    YOZ_pFileName = &missing[0];
    EXPECT_EQ(YOZ_RomFile_LoadToBuff(), eEID_OPEN_IN_FILE);
    EXPECT_EQ(YOZ_RomFile_IsLoad(), 0);
    YOZ_pFileName = nullptr;
    EXPECT_EQ(YOZ_RomFile_LoadToBuff(), eEID_OPEN_IN_FILE);

    // The trailer's image stands in when no name is given, and after a
    // failed read of a named file (whose code is still reported).
    YOZ_pOpenFileBuff = r.bytes.data();
    YOZ_OpenFileSize = r.size();
    YOZ_bZOZLoadFileOK = 1;
    EXPECT_EQ(YOZ_RomFile_LoadToBuff(), eEID_NO_ERROR);
    EXPECT_EQ(YOZ_RomFile_GetBuffer(), r.bytes.data());
    YOZ_OpenFileOK = 0;
    YOZ_pFileName = &missing[0];
    EXPECT_EQ(YOZ_RomFile_LoadToBuff(), eEID_OPEN_IN_FILE);
    EXPECT_EQ(YOZ_RomFile_IsLoad(), 1);
    EXPECT_EQ(YOZ_RomFile_GetBuffer(), r.bytes.data());
    YOZ_RomFile_Init();
}

TEST_F(RomFileLoad, ActivationKeyWarningWhenOnlyTheSystemHasVersion4) {
    FidSpec v4;
    v4.oaKey = Pattern(16, 5);
    Rom flash = SampleRom({{FidFile(v4)}, {}, 2});
    FidSpec v3 = v4;
    v3.version = 3;
    Rom image = SampleRom({{FidFile(v3)}, {}, 2});
    romkit::UseFlashCopy(flash.bytes);
    ASSERT_NE(YOZ_SysRom_GetVer4Fid(YOZ_pSystembuff), nullptr);
    romkit::UseImage(image.bytes);
    const std::string warning =
        "WARNING !\nThis Image file doesn't match current System design!\n"
        "Force update it will destroy the System's Activation Key.\nWe do not recommend flashing your BIOS.\n"
        "  Press \"Y\" to force update BIOS.\n  Press \"N\" to quit flash.\n";
    {
        UINT8 on = 1;
        YOZ_SetDefAnsCmdIsEnable(&on);
        unit::CapturedOut out;
        EXPECT_EQ(YOZ_RomFile_CheckOAKey(), 1);
        EXPECT_EQ(out.Text(), warning + "- Please select one of the options: Yes\n");
        YOZ_SetDefAnsCmdIsEnable(nullptr);
    }
    {
        unit::CapturedOut out;
        unit::FedStdin keys("n");
        EXPECT_EQ(YOZ_RomFile_CheckOAKey(), 0);
        EXPECT_EQ(out.Text().substr(0, warning.size()), warning);
    }
    {
        // An image with a version-4 record gets no warning.
        romkit::UseImage(flash.bytes);
        unit::CapturedOut out;
        EXPECT_EQ(YOZ_RomFile_CheckOAKey(), 1);
        EXPECT_EQ(out.Text(), "");
    }
}

}  // namespace
