// The flash engine against the emulated firmware: block-map runs with the
// retry and repair matrix of the fault script (exact request counts, exact
// progress bytes, flash contents afterwards), the SMI delay, the reads by
// block type and of the whole flash.
#include <gtest/gtest.h>
#include <cstdio>
#include "CaptureOut.h"
#include "FlashRig.h"
#include "YozFlash.h"
#include "YozOptionStore.h"

using unit::CapturedOut;
using unit::FlashRig;
using unit::Pattern;

namespace {

// Blocks: 0 nvram 4K at 0, 1 main 16K at 0x1000 (four chunks of the 4K
// block size), 2 main 4K at 0x5000, 3 boot 4K at 0x6000.
const char kLayout[] = "1x4K:nvram,1x16K:main,1x4K:main,1x4K:boot";
const UINT32 kRom = 0x7000;
const std::string kDone = "done                \n";

std::string Line(const std::string& text, UINT32 address, int percent) {
    char tail[64];
    snprintf(tail, sizeof(tail), "0x%08X (%d%%) \r", address, percent);
    return text + tail;
}

struct FlashEngineEmu : ::testing::Test {
    std::string oldFlash = Pattern(kRom, 1);
    std::string newImage = Pattern(kRom, 99);
    UINT8 map[4] = {0, 1, 1, 0};

    void SetUp() override {
        YOZ_Flash_Var_Init();
        YOZ_bCAFFlag = 0;
    }
    void TearDown() override {
        YOZ_Flash_Var_Init();
        YOZ_bCAFFlag = 0;
        FlashIfcDelay = 0;
    }
    // Runs the main-block map over the new image.
    ENUM_ERR_ID Run() {
        YOZ_pFlashMap = map;
        YOZ_SetFlashMsg(YOZ_FLASH_MSG_MAIN, 0x5000);
        return YOZ_Flash_Action(reinterpret_cast<UINT8*>(&newImage[0]));
    }
};

const std::string kErase = " Erasing Main Block .......... ";
const std::string kUpdate = " Updating Main Block ......... ";
const std::string kVerify = " Verifying Main Block ........ ";

// The lines of one clean chunked step over blocks 1 and 2 (20 units).
std::string ChunkedLines(const std::string& text) {
    return Line(text, 0x1000, 20) + Line(text, 0x2000, 40) + Line(text, 0x3000, 60) + Line(text, 0x4000, 80) +
           Line(text, 0x5000, 100) + text + kDone;
}
std::string EraseLines() { return Line(kErase, 0x1000, 80) + Line(kErase, 0x5000, 100) + kErase + kDone; }

// Blocks of growing and shrinking sizes in one run (4K, 16K, 4K, 4K): each
// is written and verified from its own bytes.
TEST_F(FlashEngineEmu, BlocksOfEverySizeAreWrittenFromTheirOwnBytes) {
    FlashRig rig(oldFlash, kLayout);
    ASSERT_TRUE(rig.Ok()) << rig.Error();
    for (UINT8& m : map) m = 1;
    CapturedOut out;
    ASSERT_EQ(Run(), eEID_NO_ERROR);
    EXPECT_EQ(rig.Flash(), newImage);
    EXPECT_EQ(rig.SmiSequence().substr(0, 12), "22 22 22 22 ");
}

TEST_F(FlashEngineEmu, CleanRunWritesOnlyTheMarkedBlocks) {
    FlashRig rig(oldFlash, kLayout);
    ASSERT_TRUE(rig.Ok()) << rig.Error();
    CapturedOut out;
    ASSERT_EQ(Run(), eEID_NO_ERROR);
    EXPECT_EQ(out.Text(), EraseLines() + ChunkedLines(kUpdate) + ChunkedLines(kVerify));
    EXPECT_EQ(rig.SmiSequence(), "22 22 23 23 23 23 23 21 21 21 21 21 ");
    std::string flash = rig.Flash();
    EXPECT_EQ(flash.substr(0, 0x1000), oldFlash.substr(0, 0x1000));
    EXPECT_EQ(flash.substr(0x1000, 0x5000), newImage.substr(0x1000, 0x5000));
    EXPECT_EQ(flash.substr(0x6000), oldFlash.substr(0x6000));
    EXPECT_EQ(YOZ_FlashWay, YOZ_FLASH_WAY_IDLE);
}

TEST_F(FlashEngineEmu, EmptyMapPrintsOnlyTheClosingLinesAndSilentUnderCompareAndFlash) {
    FlashRig rig(oldFlash, kLayout);
    ASSERT_TRUE(rig.Ok()) << rig.Error();
    map[1] = map[2] = 0;
    {
        CapturedOut out;
        ASSERT_EQ(Run(), eEID_NO_ERROR);
        EXPECT_EQ(out.Text(), kErase + kDone + kUpdate + kDone + kVerify + kDone);
    }
    {
        CapturedOut out;
        YOZ_bCAFFlag = 1;
        YOZ_pFlashMap = map;
        YOZ_SetFlashMsg(YOZ_FLASH_MSG_MAIN, 0);
        ASSERT_EQ(YOZ_Flash_Action(reinterpret_cast<UINT8*>(&newImage[0])), eEID_NO_ERROR);
        EXPECT_EQ(out.Text(), "");
    }
    {
        CapturedOut out;
        EXPECT_EQ(YOZ_Flash_Action(nullptr), eEID_MEM_ALLOC);
        EXPECT_EQ(out.Text(), "\n");
    }
    EXPECT_EQ(rig.SmiSequence(), "");
    EXPECT_EQ(rig.Flash(), oldFlash);
}

TEST_F(FlashEngineEmu, EraseFailingOnceCostsThreeRequestsAndMovesTheLineOnce) {
    FlashRig rig(oldFlash, kLayout, {"flash_faults=erase@0x1000#1:1"});
    ASSERT_TRUE(rig.Ok()) << rig.Error();
    CapturedOut out;
    YOZ_FlashStep = YOZ_FLASH_STEP_ERASE;
    ASSERT_EQ(Run(), eEID_NO_ERROR);
    EXPECT_EQ(out.Text(), EraseLines());
    // Fail, repair, success and its read-back (four chunks); then block 2 and
    // its read-back: an erase-only run reads each erased block back.
    EXPECT_EQ(rig.SmiSequence(), "22 22 22 21 21 21 21 22 21 ");
    EXPECT_EQ(rig.Flash().substr(0x1000, 0x5000), std::string(0x5000, '\xFF'));
}

TEST_F(FlashEngineEmu, EraseAlwaysFailingGivesUpAfterTheTriesWithRepairs) {
    for (UINT8 tries : {5, 2}) {
        FlashRig rig(oldFlash, kLayout, {"flash_faults=erase@0x1000:1"});
        ASSERT_TRUE(rig.Ok()) << rig.Error();
        CapturedOut out;
        YOZ_Flash_Var_Init();  // a failed run leaves its count behind
        YOZ_SetFlashRetryCnt(tries);
        ASSERT_EQ(Run(), eEID_ERASE_FLASH);
        EXPECT_EQ(rig.Smis(0x22), 2u * tries) << "a repair follows the last try too";
        EXPECT_EQ(rig.Smis(0x23) + rig.Smis(0x21), 0u);
        for (const std::string& line : rig.Trace()) EXPECT_EQ(line.find("addr=0x00005000"), std::string::npos);
        EXPECT_EQ(out.Text(), Line(kErase, 0x1000, 80) + "\n");
        EXPECT_EQ(rig.Flash(), oldFlash);
    }
}

TEST_F(FlashEngineEmu, StepStopsAtTheFailingBlockAndEarlierBlocksStayErased) {
    FlashRig rig(oldFlash, kLayout, {"flash_faults=erase@0x5000:1"});
    ASSERT_TRUE(rig.Ok()) << rig.Error();
    CapturedOut out;
    ASSERT_EQ(Run(), eEID_ERASE_FLASH);
    EXPECT_EQ(rig.SmiSequence(), "22 22 22 22 22 22 22 22 22 22 22 ");
    std::string flash = rig.Flash();
    EXPECT_EQ(flash.substr(0x1000, 0x4000), std::string(0x4000, '\xFF'));
    EXPECT_EQ(flash.substr(0x5000, 0x1000), oldFlash.substr(0x5000, 0x1000));
    EXPECT_EQ(out.Text(), Line(kErase, 0x1000, 80) + Line(kErase, 0x5000, 100) + "\n");
}

TEST_F(FlashEngineEmu, UnansweredEraseIsResentFiveTimesPerRequestAndThoseResendsMoveTheLine) {
    FlashRig rig(oldFlash, kLayout, {"flash_faults=erase@0x1000:keep"});
    ASSERT_TRUE(rig.Ok()) << rig.Error();
    CapturedOut out;
    ASSERT_EQ(Run(), eEID_ERASE_FLASH);
    EXPECT_EQ(rig.Smis(0x22), 10u * 5);
    // Only the first request of the first try carries the callback; its five
    // sends each count the block.
    EXPECT_EQ(out.Text(), Line(kErase, 0x1000, 80) + Line(kErase, 0x1000, 160) + Line(kErase, 0x1000, 240) +
                              Line(kErase, 0x1000, 320) + Line(kErase, 0x1000, 400) + "\n");
}

TEST_F(FlashEngineEmu, WriteFailingAtAChunkIsRepairedAndRestartsAtChunkZero) {
    FlashRig rig(oldFlash, kLayout, {"flash_faults=write@0x3000#1:1"});
    ASSERT_TRUE(rig.Ok()) << rig.Error();
    CapturedOut out;
    ASSERT_EQ(Run(), eEID_NO_ERROR);
    std::string sequence = rig.SmiSequence();
    // Erase step, then: chunks 0..2 (2 fails), repair erase, four chunks, block 2.
    EXPECT_EQ(sequence.substr(0, 6 + 3 * 9), "22 22 23 23 23 22 23 23 23 23 23 ");
    EXPECT_EQ(out.Text(), EraseLines() + Line(kUpdate, 0x1000, 20) + Line(kUpdate, 0x2000, 40) +
                              Line(kUpdate, 0x3000, 60) + Line(kUpdate, 0x5000, 80) + kUpdate + kDone +
                              ChunkedLines(kVerify));
    EXPECT_EQ(rig.Flash().substr(0x1000, 0x5000), newImage.substr(0x1000, 0x5000));
}

TEST_F(FlashEngineEmu, WriteAlwaysFailingLeavesTheBlockBlank) {
    FlashRig rig(oldFlash, kLayout, {"flash_faults=write@0x1000:1"});
    ASSERT_TRUE(rig.Ok()) << rig.Error();
    CapturedOut out;
    ASSERT_EQ(Run(), eEID_WRITE_FLASH);
    EXPECT_EQ(rig.Smis(0x23), 5u) << "each try fails at chunk 0";
    EXPECT_EQ(rig.Smis(0x22), 2u + 5u) << "the erase step, then a repair after every try";
    EXPECT_EQ(rig.Smis(0x21), 0u);
    EXPECT_EQ(rig.Flash().substr(0x1000, 0x4000), std::string(0x4000, '\xFF'));
    EXPECT_EQ(out.Text(), EraseLines() + Line(kUpdate, 0x1000, 20) + "\n");
}

TEST_F(FlashEngineEmu, VerifyMismatchOnceIsRepairedByEraseAndWrite) {
    // flash_nor=0: the run leaves out the erase step to isolate the verify's
    // repair, so the write step must store its bytes over the old contents.
    FlashRig rig(oldFlash, kLayout, {"flash_faults=read@0x1000#1:corrupt", "flash_nor=0"});
    ASSERT_TRUE(rig.Ok()) << rig.Error();
    CapturedOut out;
    YOZ_FlashStep = YOZ_FLASH_STEP_WRITE | YOZ_FLASH_STEP_VERIFY;
    ASSERT_EQ(Run(), eEID_NO_ERROR);
    // Write step (5 chunks); verify: chunk 0 differs, erase, write, four chunks, block 2.
    EXPECT_EQ(rig.SmiSequence(), "23 23 23 23 23 21 22 23 23 23 23 21 21 21 21 21 ");
    EXPECT_EQ(out.Text(), ChunkedLines(kUpdate) + Line(kVerify, 0x1000, 20) + Line(kVerify, 0x5000, 40) + kVerify +
                              kDone);
    EXPECT_EQ(rig.Flash().substr(0x1000, 0x5000), newImage.substr(0x1000, 0x5000));
}

TEST_F(FlashEngineEmu, PersistentVerifyFailureGivesUpAfterTheTries) {
    struct Case {
        const char* fault;
        std::string out;  // a read answered 1 reaches no callback; a differing one does
    } cases[] = {{"flash_faults=read@0x1000:corrupt", Line(kVerify, 0x1000, 20) + "\n"},
                 {"flash_faults=read@0x1000:1", "\n"}};
    for (const Case& c : cases) {
        FlashRig rig(oldFlash, kLayout, {c.fault});
        ASSERT_TRUE(rig.Ok()) << rig.Error();
        CapturedOut out;
        YOZ_FlashStep = YOZ_FLASH_STEP_VERIFY;
        ASSERT_EQ(Run(), eEID_VERIFY_FLASH) << c.fault;
        EXPECT_EQ(rig.Smis(0x21), 5u) << c.fault;
        EXPECT_EQ(rig.Smis(0x22), 5u) << c.fault;
        EXPECT_EQ(rig.Smis(0x23), 5u * 4) << c.fault << ": each repair writes the four chunks";
        for (const std::string& line : rig.Trace()) EXPECT_EQ(line.find("addr=0x00005000"), std::string::npos);
        EXPECT_EQ(out.Text(), c.out) << c.fault;
    }
}

TEST_F(FlashEngineEmu, DelayAppliesToBlocksWhoseIndexIsAMultipleOfThePeriod) {
    FlashRig rig(Pattern(0x4000, 3), "4x4K:main", {"trace_delays=1"});
    ASSERT_TRUE(rig.Ok()) << rig.Error();
    CapturedOut out;
    SetSMI_IFC_DelayTime_Linux();
    YOZ_SetFlashDelayBlockCnt(2);
    YOZ_FlashStep = YOZ_FLASH_STEP_ERASE;
    UINT8 all[4] = {1, 1, 1, 1};
    YOZ_pFlashMap = all;
    YOZ_SetFlashMsg(YOZ_FLASH_MSG_MAIN, 0x4000);
    std::string image(0x4000, '\0');
    ASSERT_EQ(YOZ_Flash_Action(reinterpret_cast<UINT8*>(&image[0])), eEID_NO_ERROR);
    // Each block is erased and read back; blocks 0 and 2 wait before both.
    std::vector<std::string> trace = rig.Trace();
    ASSERT_EQ(trace.size(), 12u);
    EXPECT_EQ(trace[0], "delay us=0x64");
    EXPECT_EQ(trace[1].substr(0, 12), "smi cmd=0x22");
    EXPECT_EQ(trace[2], "delay us=0x64");
    EXPECT_EQ(trace[3].substr(0, 12), "smi cmd=0x21");
    EXPECT_EQ(trace[4].substr(0, 12), "smi cmd=0x22");
    EXPECT_EQ(trace[5].substr(0, 12), "smi cmd=0x21");
    EXPECT_EQ(trace[6], "delay us=0x64");
    EXPECT_EQ(DelayIsRun, 0) << "keeps the last block's value";
    // Without a period every flash SMI waits.
    rig.ClearTrace();
    YOZ_SetFlashDelayBlockCnt(0);
    SetSMI_IFC_DelayIsRun(1);
    ASSERT_EQ(YOZ_Flash_Action(reinterpret_cast<UINT8*>(&image[0])), eEID_NO_ERROR);
    EXPECT_EQ(rig.Trace().size(), 16u);
}

TEST_F(FlashEngineEmu, TypeReadPlacesBlocksOfOneTypeAtTheirPositions) {
    std::string flash = Pattern(0x4000, 5);
    FlashRig rig(flash, "2x4K:main,1x4K:nvram,1x4K:main", {"flash_faults=read@0x3000#2:1"});
    ASSERT_TRUE(rig.Ok()) << rig.Error();
    CapturedOut out;
    std::string buffer(0x4000, '\xEE');
    ASSERT_EQ(YOZ_Flash_TypeFvRead(reinterpret_cast<UINT8*>(&buffer[0]), 1), eEID_NO_ERROR);
    EXPECT_EQ(buffer.substr(0, 0x2000), flash.substr(0, 0x2000));
    EXPECT_EQ(buffer.substr(0x2000, 0x1000), std::string(0x1000, '\xEE'));
    EXPECT_EQ(buffer.substr(0x3000), flash.substr(0x3000));
    EXPECT_EQ(rig.SmiSequence(), "21 21 21 ");
    EXPECT_EQ(out.Text(), "");
    // The second read of the last main block fails: 0x42, that block's bytes untouched.
    std::string again(0x4000, '\xEE');
    EXPECT_EQ(YOZ_Flash_TypeFvRead(reinterpret_cast<UINT8*>(&again[0]), 1), eEID_READ_FLASH);
    EXPECT_EQ(again.substr(0x3000), std::string(0x1000, '\xEE'));
    EXPECT_EQ(YOZ_Flash_TypeFvRead(nullptr, 1), eEID_MEM_ALLOC);
}

TEST_F(FlashEngineEmu, WholeFlashReadEndsWithDoneEveryTime) {
    FlashRig rig(oldFlash, kLayout);
    ASSERT_TRUE(rig.Ok()) << rig.Error();
    const std::string t = " Reading flash ............... ";
    std::string expected = Line(t, 0x0000, 0) + Line(t, 0x1000, 14) + Line(t, 0x2000, 28) + Line(t, 0x3000, 42) +
                           Line(t, 0x4000, 57) + Line(t, 0x5000, 71) + Line(t, 0x6000, 85) + t + kDone;
    for (int pass = 0; pass < 2; ++pass) {
        CapturedOut out;
        std::string buffer(kRom, '\0');
        YOZ_SetFlashMsg(YOZ_FLASH_MSG_NONE, kRom);
        ASSERT_EQ(YOZ_Flash_Read(reinterpret_cast<UINT8*>(&buffer[0])), eEID_NO_ERROR);
        EXPECT_EQ(buffer, oldFlash);
        EXPECT_EQ(out.Text(), expected) << "pass " << pass;
    }
    EXPECT_EQ(rig.Smis(0x21), 14u);
}

// What the main-block processor does under compare-and-flash before the
// run: every marked block is compared up to five times; equal blocks leave
// the map. Returns the bytes still marked.
UINT32 DropUnchangedBlocks(UINT8* image, UINT8* map) {
    UINT32 left = 0;
    for (UINT32 i = 0; i < gpFlashInfo->BlockCount; ++i) {
        if (map[i] == 0) continue;
        UINT32 start = gpFlashInfo->Blocks[i].StartAddress, size = gpFlashInfo->Blocks[i].BlockSize;
        std::string copy(reinterpret_cast<char*>(image + start), size);
        map[i] = 2;
        for (int t = 0; t < 5 && map[i] != 0; ++t) {
            if (VerifyBlk(start, size, reinterpret_cast<UINT8*>(&copy[0]), nullptr) != 0) map[i] = 0;
        }
        left += map[i] != 0 ? size : 0;
    }
    return left;
}

TEST_F(FlashEngineEmu, CompareAndFlashRunTouchesOnlyTheDifferingBlocks) {
    struct Case {
        std::vector<UINT32> differing;
    } cases[] = {{{}}, {{2}}, {{0, 1, 2, 3}}};
    for (const Case& c : cases) {
        const size_t n = 4, k = c.differing.size();
        std::string flash = Pattern(0x4000, 8);
        FlashRig rig(flash, "4x4K:main");
        ASSERT_TRUE(rig.Ok()) << rig.Error();
        YOZ_Flash_Var_Init();
        YOZ_bCAFFlag = 1;
        std::string image = flash;
        for (UINT32 b : c.differing) image.replace(b * 0x1000, 0x1000, Pattern(0x1000, 60 + b));
        UINT8 all[4] = {1, 1, 1, 1};
        UINT32 left = DropUnchangedBlocks(reinterpret_cast<UINT8*>(&image[0]), all);
        EXPECT_EQ(left, k * 0x1000);
        CapturedOut out;
        YOZ_pFlashMap = all;
        YOZ_SetFlashMsg(YOZ_FLASH_MSG_MAIN, left);
        ASSERT_EQ(YOZ_Flash_Action(reinterpret_cast<UINT8*>(&image[0])), eEID_NO_ERROR);
        EXPECT_EQ(rig.Smis(0x21), (n - k) + 5 * k + k) << k;
        EXPECT_EQ(rig.Smis(0x22), k) << k;
        EXPECT_EQ(rig.Smis(0x23), k) << k;
        EXPECT_EQ(rig.Flash(), image) << k;
        if (k == 0) {
            EXPECT_EQ(out.Text(), "") << "nothing to write prints nothing";
        }
        if (k == 1) {
            EXPECT_EQ(out.Text(), Line(kErase, 0x2000, 100) + kErase + kDone + Line(kUpdate, 0x2000, 100) + kUpdate +
                                      kDone + Line(kVerify, 0x2000, 100) + kVerify + kDone);
        }
    }
}

}  // namespace
