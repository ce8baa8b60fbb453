// Progress lines of the flash engine, byte for byte: units, percentages,
// the closing forms, the compare-and-flash silence rule, the message sets,
// and the engine's small setters.
#include <gtest/gtest.h>
#include "CaptureOut.h"
#include "YozFlash.h"
#include "YozOptionStore.h"

using unit::CapturedOut;

namespace {

struct FlashProgress : ::testing::Test {
    void SetUp() override {
        YOZ_Flash_Var_Init();
        YOZ_bCAFFlag = 0;
    }
    void TearDown() override {
        YOZ_Flash_Var_Init();
        YOZ_bCAFFlag = 0;
    }
};

const std::string kMain = " Erasing Main Block .......... ";
const std::string kDone = "done                \n";

TEST_F(FlashProgress, UnitsCountThousandsAboveNineHundredNinetyNine) {
    EXPECT_EQ(YOZ_ProgressUnits(0), 0u);
    EXPECT_EQ(YOZ_ProgressUnits(999), 999u);
    EXPECT_EQ(YOZ_ProgressUnits(1000), 1u);
    EXPECT_EQ(YOZ_ProgressUnits(65536), 65u);
    EXPECT_EQ(YOZ_ProgressUnits(2500000), 2500u);
}

TEST_F(FlashProgress, BlockMapLineAdvancesByUnitsAndEndsWithDone) {
    CapturedOut out;
    YOZ_SetFlashMsg(YOZ_FLASH_MSG_MAIN, 2500000);
    YOZ_CallBack_Erase(0x10000, 0x2000000, 65536);
    EXPECT_EQ(out.Text(), kMain + "0x00010000 (2%) \r");
    out.Clear();
    YOZ_CallBack_Erase(0xABCDEF00, 0, 2500000 - 65536);
    // 65 + 2434 units of 2500.
    EXPECT_EQ(out.Text(), kMain + "0xABCDEF00 (99%) \r");
    EXPECT_EQ(doneRegion, 2499u);
    out.Clear();
    YOZ_CallBack_Erase(YOZ_PROGRESS_CLOSE, 0, 0);
    EXPECT_EQ(out.Text(), kMain + kDone);
    EXPECT_EQ(doneRegion, 0u);
}

TEST_F(FlashProgress, RepeatedRequestsShowMoreThanAHundredPercent) {
    CapturedOut out;
    YOZ_SetFlashMsg(YOZ_FLASH_MSG_BOOT, 0x10000);
    for (int i = 0; i < 3; ++i) YOZ_CallBack_Update(0, 0, 0x10000);
    const std::string t = " Updating Boot Block ......... ";
    EXPECT_EQ(out.Text(), t + "0x00000000 (100%) \r" + t + "0x00000000 (200%) \r" + t + "0x00000000 (300%) \r");
}

TEST_F(FlashProgress, ClosingFormsRestartEndOrFinishTheLine) {
    CapturedOut out;
    YOZ_SetFlashMsg(YOZ_FLASH_MSG_EC, 1000);
    YOZ_CallBack_Verify(0, 0, 500);
    EXPECT_EQ(doneRegion, 500u);
    out.Clear();
    const std::string t = " Verifying EC Block .......... ";
    YOZ_CallBack_Verify(YOZ_PROGRESS_CLOSE, 0, YOZ_PROGRESS_CLOSE);  // a new attempt
    EXPECT_EQ(out.Text(), t + "\r");
    EXPECT_EQ(doneRegion, 0u);
    YOZ_CallBack_Verify(0, 0, 500);
    out.Clear();
    YOZ_CallBack_Verify(YOZ_PROGRESS_CLOSE, YOZ_PROGRESS_CLOSE, YOZ_PROGRESS_CLOSE);  // given up
    EXPECT_EQ(out.Text(), t + "\n");
    EXPECT_EQ(doneRegion, 500u) << "the bare new line keeps the count";
}

TEST_F(FlashProgress, WithoutRegionTotalTheTextIsPrintedBare) {
    CapturedOut out;
    YOZ_SetFlashMsg(YOZ_FLASH_MSG_MAIN, 0);
    YOZ_CallBack_Erase(0x1000, 0, 0x1000);
    EXPECT_EQ(out.Text(), kMain);
    EXPECT_EQ(doneRegion, 0u);
}

TEST_F(FlashProgress, CompareAndFlashRegionWithNothingToWriteIsSilent) {
    CapturedOut out;
    YOZ_bCAFFlag = 1;
    YOZ_SetFlashMsg(YOZ_FLASH_MSG_MAIN, 0);
    YOZ_CallBack_Erase(0x1000, 0, 0x1000);
    YOZ_CallBack_Update(YOZ_PROGRESS_CLOSE, 0, 0);
    YOZ_CallBack_Verify(YOZ_PROGRESS_CLOSE, 0, 0);
    YOZ_FlashTotalSize = 10;
    YOZ_CallBack_FlashLib_Erase(0, 0, 0);
    YOZ_CallBack_FlashLib_Update(10, 0, 0);
    YOZ_CallBack_FlashLib_Verify(10, 0, 0);
    EXPECT_EQ(out.Text(), "");
    // The read line has no silence rule; a region with a total is not silent.
    YOZ_CallBack_FlashLib_Read(10, 0, 0);
    EXPECT_EQ(out.Text(), " Reading flash ............... " + kDone);
    out.Clear();
    YOZ_SetFlashMsg(YOZ_FLASH_MSG_MAIN, 0x1000);
    YOZ_CallBack_Erase(0x1000, 0, 0x1000);
    EXPECT_EQ(out.Text(), kMain + "0x00001000 (100%) \r");
}

TEST_F(FlashProgress, EveryMessageSetIsExact) {
    const char* expected[][3] = {
        {" Erasing Boot Block .......... ", " Updating Boot Block ......... ", " Verifying Boot Block ........ "},
        {" Erasing Main Block .......... ", " Updating Main Block ......... ", " Verifying Main Block ........ "},
        {" Erasing NVRAM Block ......... ", " Updating NVRAM Block ........ ", " Verifying NVRAM Block ....... "},
        {" Erasing EC Block ............ ", " Updating EC Block ........... ", " Verifying EC Block .......... "},
        {" Erasing NCB Block ........... ", " Updating NCB Block .......... ", " Verifying NCB Block ......... "},
        {" Erasing RomHole Block ....... ", " Updating RomHole Block ...... ", " Verifying RomHole Block ..... "},
        {" Erasing ME Block ............ ", " Updating ME Block ........... ", " Verifying ME Block .......... "},
        {" Erasing ECX Block ........... ", " Updating ECX Block .......... ", " Verifying ECX Block ......... "},
        {" Erasing OA Block ............ ", " Updating OA Block ........... ", " Verifying OA Block .......... "},
        {" Erasing All Block ........... ", " Updating All Block .......... ", " Verifying All Block ......... "},
        {" Erasing AplFt Block ......... ", " Updating AplFt Block ........ ", " Verifying AplFt Block ....... "},
    };
    CallBackFn_T callbacks[3] = {YOZ_CallBack_Erase, YOZ_CallBack_Update, YOZ_CallBack_Verify};
    CapturedOut out;
    for (UINT8 set = 0; set < 11; ++set) {
        for (int k = 0; k < 3; ++k) {
            YOZ_SetFlashMsg(set, 1);
            out.Clear();
            callbacks[k](YOZ_PROGRESS_CLOSE, 0, 0);
            EXPECT_EQ(out.Text(), std::string(expected[set][k]) + kDone) << int(set) << "/" << k;
        }
    }
}

TEST_F(FlashProgress, SetOutsideTheTableHasAnEmptyText) {
    CapturedOut out;
    YOZ_SetFlashMsg(YOZ_FLASH_MSG_NONE, 0x20000);
    YOZ_CallBack_Erase(0x10000, 0, 0x10000);
    YOZ_CallBack_Erase(YOZ_PROGRESS_CLOSE, 0, 0);
    // 65 of 131 units.
    EXPECT_EQ(out.Text(), "0x00010000 (49%) \r" + kDone);
    out.Clear();
    YOZ_SetFlashMsg(11, 0);
    YOZ_CallBack_FlashLib_Update(0, 0, 0);
    EXPECT_EQ(out.Text(), kDone) << "a zero total with a zero count is complete";
}

TEST_F(FlashProgress, SaveLinePrintsOnlyWithARegionTotal) {
    CapturedOut out;
    YOZ_SetFlashMsg(YOZ_FLASH_MSG_ROMHOLE, 0);
    YOZ_CallBack_Save(0x100, 0, 0x100);
    YOZ_CallBack_Save(YOZ_PROGRESS_CLOSE, 0, 0);
    EXPECT_EQ(out.Text(), "");
    YOZ_SetFlashMsg(YOZ_FLASH_MSG_ROMHOLE, 0x200);
    YOZ_CallBack_Save(0x100, 0, 0x100);
    YOZ_CallBack_Save(YOZ_PROGRESS_CLOSE, 0, 0);
    const std::string t = " Saveing RomHole Block ....... ";
    EXPECT_EQ(out.Text(), t + "0x00000100 (50%) \r" + t + kDone);
}

TEST_F(FlashProgress, AddressFormLineCountsAgainstTheRunTotal) {
    CapturedOut out;
    YOZ_SetFlashMsg(YOZ_FLASH_MSG_OA, 0x31);
    YOZ_FlashTotalSize = 2500000;
    YOZ_CallBack_FlashLib_Update(65536, 0x20000, 0);
    const std::string t = " Updating OA Block ........... ";
    EXPECT_EQ(out.Text(), t + "0x00020000 (2%) \r");
    out.Clear();
    YOZ_CallBack_FlashLib_Update(2500000, 0x30000, 0);
    EXPECT_EQ(out.Text(), t + kDone);
    out.Clear();
    // A zero total never divides: the percentage reads 0.
    YOZ_FlashTotalSize = 0;
    YOZ_CallBack_FlashLib_Update(49, 0x40, 0);
    EXPECT_EQ(out.Text(), t + "0x00000040 (0%) \r");
}

TEST_F(FlashProgress, SmiDelaySettingsAndRetryFloor) {
    CapturedOut out;
    SetSMI_IFC_DelayTime(5);
    EXPECT_EQ(out.Text(), " SMI Delay Time : 5\n For Platform SMI Delay Time : 50\n");
    EXPECT_EQ(FlashIfcDelay, 50u);
    SetSMI_IFC_DelayTime_Linux();
    EXPECT_EQ(FlashIfcDelay, 100u);
    YOZ_SetFlashRetryCnt(0);
    EXPECT_EQ(YOZ_GetFlashRetryCnt(), 1);
    YOZ_SetFlashRetryCnt(9);
    EXPECT_EQ(YOZ_GetFlashRetryCnt(), 9);
    YOZ_SetFlashDelayBlockCnt(4);
    EXPECT_EQ(YOZ_GetFlashDelayBlockCnt(), 4u);
    YOZ_Flash_Var_Init();
    EXPECT_EQ(YOZ_GetFlashRetryCnt(), 5);
    EXPECT_EQ(YOZ_GetFlashDelayBlockCnt(), 0u);
    EXPECT_EQ(YOZ_FlashStep, 7);
    EXPECT_EQ(YOZ_FlashFvType, 0xFF);
    EXPECT_EQ(DelayIsRun, 1);
}

}  // namespace
