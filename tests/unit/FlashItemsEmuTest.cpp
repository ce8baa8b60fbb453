// The address form against the emulated firmware: flash items at unaligned
// addresses, write-once items, the piece loops' reports and repeats, and
// compare-and-flash with none, one or all blocks differing.
#include <gtest/gtest.h>
#include "CaptureOut.h"
#include "FlashRig.h"
#include "TKXPhysMem.h"
#include "YozFlash.h"
#include "YozOptionStore.h"

using unit::CapturedOut;
using unit::FlashRig;
using unit::Pattern;

namespace {

const char kLayout[] = "4x4K:main";
const UINT32 kRom = 0x4000;
const std::string kDone = "done                \n";
const std::string kUpdate = " Updating RomHole Block ...... ";
const std::string kVerify = " Verifying RomHole Block ..... ";
const std::string kErase = " Erasing RomHole Block ....... ";

std::string Line(const std::string& text, UINT32 address, int percent) {
    char tail[64];
    snprintf(tail, sizeof(tail), "0x%08X (%d%%) \r", address, percent);
    return text + tail;
}

struct FlashItemsEmu : ::testing::Test {
    std::string system = Pattern(kRom, 2);
    std::string buffer;

    void SetUp() override {
        YOZ_Flash_Var_Init();
        YOZ_bCAFFlag = 0;
        system.replace(0x1100, 0x100, std::string(0x100, '\xFF'));
        buffer = system;
    }
    void TearDown() override {
        YOZ_Flash_Var_Init();
        YOZ_bCAFFlag = 0;
    }
    UINT8* Buf() { return reinterpret_cast<UINT8*>(&buffer[0]); }
    UINT8* Sys() { return reinterpret_cast<UINT8*>(&system[0]); }

    _FLASHITEM* Add(UINT32 addr, UINT32 size, UINT8 caf = 0) {
        _FLASHITEM* item = reinterpret_cast<_FLASHITEM*>(AllocMem(sizeof(_FLASHITEM)));
        item->FlashAddr = addr;
        item->ItemSize = size;
        item->WriteOnce = 1;
        item->CafEnabled = caf;
        YOZ_FlashItemList_Add(item);
        return item;
    }
    // The program's own address-form run: compare, size, erase, write and
    // verify, stopping at the first error.
    ENUM_ERR_ID RunItems(UINT8 set, UINT32 total) { return YOZ_FlashItemList_Run(Buf(), set, total); }
};

TEST_F(FlashItemsEmu, UnalignedItemOverBlankIsWrittenAndVerifiedWithoutErase) {
    FlashRig rig(system, kLayout);
    ASSERT_TRUE(rig.Ok()) << rig.Error();
    buffer.replace(0x1107, 49, Pattern(49, 77));
    Add(0x1107, 49);
    ASSERT_EQ(YOZ_FlashItemList_WriteOnce_Check(Sys()), 1);
    CapturedOut out;
    ASSERT_EQ(RunItems(YOZ_FLASH_MSG_ROMHOLE, 49), eEID_NO_ERROR);
    EXPECT_EQ(rig.SmiSequence(), "23 21 ");
    EXPECT_NE(rig.Trace()[0].find("addr=0x00001107 size=0x00000031"), std::string::npos) << rig.Trace()[0];
    // The 49 bytes count as 49, so both lines reach "done".
    EXPECT_EQ(out.Text(), Line(kUpdate, 0x1107, 0) + kUpdate + kDone + Line(kVerify, 0x1107, 0) + kVerify + kDone);
    EXPECT_EQ(rig.Flash(), buffer);
}

TEST_F(FlashItemsEmu, ShortVerifyByAddressEndsWithDone) {
    FlashRig rig(system, kLayout);
    ASSERT_TRUE(rig.Ok()) << rig.Error();
    CapturedOut out;
    YOZ_SetFlashMsg(YOZ_FLASH_MSG_ROMHOLE, 49);
    YOZ_FlashTotalSize = 49;
    YOZ_FlashAllreadySize = 0;
    ASSERT_EQ(YOZ_Flash_VerifyAddr(Buf(), 0x1107, 49, 0), eEID_NO_ERROR);
    EXPECT_EQ(out.Text(), Line(kVerify, 0x1107, 0) + kVerify + kDone);
    EXPECT_EQ(YOZ_FlashAllreadySize, 49u);
    EXPECT_EQ(YOZ_FlashWay, YOZ_FLASH_WAY_IDLE);
    EXPECT_EQ(rig.SmiSequence(), "21 ");
}

TEST_F(FlashItemsEmu, AlignedWholeBlockItemIsErasedWrittenAndVerified) {
    FlashRig rig(system, kLayout);
    ASSERT_TRUE(rig.Ok()) << rig.Error();
    buffer.replace(0x2000, 0x1000, Pattern(0x1000, 55));
    Add(0x2000, 0x1000);
    ASSERT_EQ(YOZ_FlashItemList_WriteOnce_Check(Sys()), 1);
    CapturedOut out;
    ASSERT_EQ(RunItems(YOZ_FLASH_MSG_OA, 0x1000), eEID_NO_ERROR);
    EXPECT_EQ(rig.SmiSequence(), "22 23 21 ");
    const std::string e = " Erasing OA Block ............ ", u = " Updating OA Block ........... ",
                      v = " Verifying OA Block .......... ";
    EXPECT_EQ(out.Text(), Line(e, 0x2000, 0) + e + kDone + Line(u, 0x2000, 0) + u + kDone + Line(v, 0x2000, 0) + v +
                              kDone);
    EXPECT_EQ(rig.Flash(), buffer);
}

TEST_F(FlashItemsEmu, ItemOverDataFailsTheCheckAndIsNeverTouched) {
    FlashRig rig(system, kLayout);
    ASSERT_TRUE(rig.Ok()) << rig.Error();
    buffer.replace(0x3007, 49, std::string(49, '\x11'));
    Add(0x3007, 49);
    EXPECT_EQ(YOZ_FlashItemList_WriteOnce_Check(Sys()), 0);
    CapturedOut out;
    ASSERT_EQ(RunItems(YOZ_FLASH_MSG_ROMHOLE, 49), eEID_NO_ERROR);
    EXPECT_EQ(rig.SmiSequence(), "");
    EXPECT_EQ(rig.Flash(), system);
}

TEST_F(FlashItemsEmu, WriteOnceVerifyRepairsByWritingAgainWithoutErase) {
    FlashRig rig(system, kLayout, {"flash_faults=read@0x1107#1:corrupt"});
    ASSERT_TRUE(rig.Ok()) << rig.Error();
    buffer.replace(0x1107, 49, Pattern(49, 77));
    Add(0x1107, 49);
    ASSERT_EQ(YOZ_FlashItemList_WriteOnce_Check(Sys()), 1);
    CapturedOut out;
    ASSERT_EQ(RunItems(YOZ_FLASH_MSG_ROMHOLE, 49), eEID_NO_ERROR);
    // Write; verify differs, the progress repeat reads again, the repair
    // writes and verifies.
    EXPECT_EQ(rig.SmiSequence(), "23 21 21 23 21 ");
    EXPECT_EQ(rig.Flash(), buffer);
}

TEST_F(FlashItemsEmu, FailedPieceIsRepeatedByTheProgressButTheLoopKeepsItsFirstStatus) {
    struct Case {
        const char* fault;
        const char* sequence;
    } cases[] = {
        {"flash_faults=write@0x2000#1:1", "22 23 23 "},            // the repeat succeeds
        {"flash_faults=write@0x2000:1", "22 23 23 23 23 23 23 "},  // one send and five repeats
    };
    for (const Case& c : cases) {
        FlashRig rig(system, kLayout, {c.fault});
        ASSERT_TRUE(rig.Ok()) << rig.Error();
        YOZ_Flash_Var_Init();
        buffer.replace(0x2000, 0x1000, Pattern(0x1000, 55));
        Add(0x2000, 0x1000);
        ASSERT_EQ(YOZ_FlashItemList_WriteOnce_Check(Sys()), 1);
        CapturedOut out;
        EXPECT_EQ(RunItems(YOZ_FLASH_MSG_OA, 0x1000), eEID_WRITE_FLASH) << c.fault;
        EXPECT_EQ(rig.SmiSequence(), c.sequence) << c.fault;
    }
}

TEST_F(FlashItemsEmu, CompareAndFlashWritesOnlyTheDifferingBlocks) {
    struct Case {
        std::vector<UINT32> differing;
        size_t reads, erases, writes;
    } cases[] = {
        {{}, 4, 0, 0},
        {{2}, 4 + 5 + 1, 1, 1},           // N + 5k reads to compare, k to verify
        {{0, 1, 2, 3}, 4 + 20 + 4, 4, 4},
    };
    for (const Case& c : cases) {
        FlashRig rig(system, kLayout);
        ASSERT_TRUE(rig.Ok()) << rig.Error();
        YOZ_Flash_Var_Init();
        YOZ_bCAFFlag = 1;
        buffer = system;
        for (UINT32 b : c.differing) buffer.replace(b * 0x1000, 0x1000, Pattern(0x1000, 40 + b));
        for (UINT32 b = 0; b < 4; ++b) Add(b * 0x1000, 0x1000, 1);
        ASSERT_EQ(YOZ_FlashItemList_WriteOnce_Check(Sys()), 1);
        CapturedOut out;
        ASSERT_EQ(RunItems(YOZ_FLASH_MSG_ROMHOLE, 0), eEID_NO_ERROR);
        EXPECT_EQ(rig.Smis(0x21), c.reads) << c.differing.size();
        EXPECT_EQ(rig.Smis(0x22), c.erases) << c.differing.size();
        EXPECT_EQ(rig.Smis(0x23), c.writes) << c.differing.size();
        EXPECT_EQ(rig.Flash(), buffer);
        EXPECT_EQ(out.Text(), "") << "a compare-and-flash region without a total is silent";
    }
}

TEST_F(FlashItemsEmu, CompareAndFlashItemIsWrittenWhenNoCompareRan) {
    FlashRig rig(system, kLayout);
    ASSERT_TRUE(rig.Ok()) << rig.Error();
    buffer.replace(0x2000, 0x1000, Pattern(0x1000, 55));
    Add(0x2000, 0x1000, 1);
    ASSERT_EQ(YOZ_FlashItemList_WriteOnce_Check(Sys()), 1);
    CapturedOut out;
    YOZ_SetFlashMsg(YOZ_FLASH_MSG_OA, 0x1000);
    YOZ_FlashItemList_CalculateSize();
    ASSERT_EQ(YOZ_FlashItemList_Erase(), eEID_NO_ERROR);
    ASSERT_EQ(YOZ_FlashItemList_Write(Buf()), eEID_NO_ERROR);
    ASSERT_EQ(YOZ_FlashItemList_Verify(Buf()), eEID_NO_ERROR);
    EXPECT_EQ(rig.SmiSequence(), "22 23 21 ");
    EXPECT_EQ(rig.Flash(), buffer);
}

TEST_F(FlashItemsEmu, ItemOverZeroedNorFlashFailsItsVerifyInsteadOfPassingSilently) {
    // All-0x00 counts as blank for the write-once check; NOR flash cannot
    // set those bits without an erase, so the write does not take and the
    // verify, after its repeats and repairs without erase, reports it.
    system.replace(0x3100, 0x100, std::string(0x100, '\0'));
    buffer = system;
    FlashRig rig(system, kLayout);
    ASSERT_TRUE(rig.Ok()) << rig.Error();
    buffer.replace(0x3107, 49, Pattern(49, 77));
    Add(0x3107, 49);
    ASSERT_EQ(YOZ_FlashItemList_WriteOnce_Check(Sys()), 1);
    CapturedOut out;
    EXPECT_EQ(RunItems(YOZ_FLASH_MSG_ROMHOLE, 49), eEID_VERIFY_FLASH);
    EXPECT_EQ(rig.Smis(0x22), 0u);
    EXPECT_EQ(rig.Smis(0x23), 1u + 5u);
    EXPECT_EQ(rig.Smis(0x21), 1u + 5u + 5u) << "compare, repeats of the progress line, repairs";
    EXPECT_EQ(rig.Flash(), system);
}

}  // namespace
