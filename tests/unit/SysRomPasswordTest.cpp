// The firmware password dialogue and the firmware's ROM-ID verdict against
// the emulated firmware.
#include <gtest/gtest.h>
#include <cstring>
#include "CaptureOut.h"
#include "FlashRig.h"
#include "HuxCore.h"
#include "RomImageBuilder.h"
#include "RomModelKit.h"
#include "TKXOutput.h"
#include "YozOptionStore.h"
#include "YozRomFile.h"
#include "YozSysRom.h"
#include "ZoktFormat.h"

using namespace romimg;

namespace {

const char kLayout[] = "2x64K:nvram,12x64K:main,2x64K:boot";

std::string SampleFlash() {
    Rom r = SampleRom({{PlainFile(1, 100)}, {}, 2});
    return std::string(r.bytes.begin(), r.bytes.end());
}

struct Dialogue : ::testing::Test {
    // Each case is a run of its own.
    void SetUp() override { YOZ_SysRom_Var_Init(); }
    void TearDown() override {
        YOZ_SysRom_PassWord(nullptr, 0);
        ErrorOut = TKXErrorPrintf;
        WriteOut = TKXPrintf;
    }
};

const char kAsk[] = " - Please enter password and then press enter.\n";

TEST_F(Dialogue, NoPasswordAndAPasswordFileOfTheRightLength) {
    {
        unit::FlashRig rig(SampleFlash(), kLayout);
        ASSERT_TRUE(rig.Ok()) << rig.Error();
        unit::CapturedOut out;
        EXPECT_EQ(YOZ_SysRom_CheckPW(), eEID_NO_ERROR);
        EXPECT_EQ(out.Text(), "");
    }
    YOZ_SysRom_Var_Init();
    {
        unit::FlashRig rig(SampleFlash(), kLayout, {"password=secret"});
        ASSERT_TRUE(rig.Ok()) << rig.Error();
        UINT8 file[] = "secret\n";   // the line end is not printable and not counted
        YOZ_SysRom_PassWord(file, 7);
        unit::CapturedOut out;
        EXPECT_EQ(YOZ_SysRom_CheckPW(), eEID_NO_ERROR);
        EXPECT_EQ(out.Text(), std::string(kAsk) + " - Password: Input File Mode.\n");
        // Asked once a run: a module that asked ahead of the pipeline leaves it nothing to ask.
        EXPECT_EQ(YOZ_SysRom_CheckPW(), eEID_NO_ERROR);
        EXPECT_EQ(out.Text(), std::string(kAsk) + " - Password: Input File Mode.\n");
    }
}

TEST_F(Dialogue, AFileWithANonPrintableByteIsNotThePassword) {
    unit::FlashRig rig(SampleFlash(), kLayout, {"password=secret"});
    ASSERT_TRUE(rig.Ok()) << rig.Error();
    UINT8 file[] = "secr\x01t";   // five printable bytes of six
    YOZ_SysRom_PassWord(file, 6);
    unit::CapturedOut out;
    EXPECT_EQ(YOZ_SysRom_CheckPW(), eEID_PASSWORD_ERROR);
    // Zeros are sent once: a refused file password is not sent again.
    EXPECT_EQ(out.Text(), std::string(kAsk) + " - Password: Input File Mode.\n");
}

TEST_F(Dialogue, KeyboardEntryAndTheFirmwaresPromptWord) {
    unit::FlashRig rig(SampleFlash(), kLayout, {"password=abc", "password_text=PIN"});
    ASSERT_TRUE(rig.Ok()) << rig.Error();
    UINT8 quiet = 1;
    YOZ_SetQuietCmdIsEnable(&quiet);   // the dialogue still prints
    unit::FedStdin keys("abc\n");
    testing::internal::CaptureStdout();
    ENUM_ERR_ID result = YOZ_SysRom_CheckPW();
    std::string printed = testing::internal::GetCapturedStdout();
    YOZ_SetQuietCmdIsEnable(nullptr);
    EXPECT_EQ(result, eEID_NO_ERROR);
    EXPECT_NE(printed.find(std::string(kAsk) + " - PIN: "), std::string::npos) << printed;
}

TEST_F(Dialogue, NoAttemptLeftGivesNoPrompt) {
    unit::FlashRig rig(SampleFlash(), kLayout, {"password=abc", "password_tries=0"});
    ASSERT_TRUE(rig.Ok()) << rig.Error();
    unit::CapturedOut out;
    EXPECT_EQ(YOZ_SysRom_CheckPW(), eEID_PASSWORD_ERROR);
    EXPECT_EQ(out.Text(), "");
}

TEST(RomIdVerdict, MismatchWithTheFirmwaresTextAndOk) {
    Rom r = SampleRom({{PlainFile(1, 100)}, {}, 2});
    std::string image(r.bytes.begin(), r.bytes.end());
    {
        unit::FlashRig rig(image, kLayout, {"romid_answer=3", "romid_verdict=mismatch", "romid_text=Wrong board."});
        ASSERT_TRUE(rig.Ok()) << rig.Error();
        romkit::UseImage(r.bytes);
        ASSERT_NE(Zokt_GetVer(), 0);   // the handshake of the registration
        unit::CapturedOut out;
        EXPECT_EQ(YOZ_RomFile_ZOKT_CheckRomID(r.bytes.data()), eEID_ROM_ID_MISMATCH);
        EXPECT_EQ(out.Text(), " - Wrong board. \n");
        EXPECT_EQ(ErrorOut, YOZ_OEM_ErrorPrintf);
        ErrorOut = TKXErrorPrintf;
    }
    {
        unit::FlashRig rig(image, kLayout, {"romid_answer=3", "romid_verdict=ok"});
        ASSERT_TRUE(rig.Ok()) << rig.Error();
        romkit::UseImage(r.bytes);
        ASSERT_NE(Zokt_GetVer(), 0);   // the handshake of the registration
        EXPECT_EQ(YOZ_RomFile_ZOKT_CheckRomID(r.bytes.data()), eEID_NO_ERROR);
    }
}

}  // namespace
