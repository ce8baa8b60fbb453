// The flash copy read once through the flash engine from the emulated part,
// with the firmware identity taken from it.
#include <gtest/gtest.h>
#include <cstring>
#include "CaptureOut.h"
#include "FlashRig.h"
#include "RomImageBuilder.h"
#include "RomInfo.h"
#include "RomModelKit.h"
#include "YozSysRom.h"

using namespace romimg;

namespace {

const char kLayout[] = "2x64K:nvram,12x64K:main,2x64K:boot";

TEST(SysRomFlashCopy, ReadOnceWithIdentityAndTheReadErrorKept) {
    FidSpec fid;
    fid.projectId = "EMUPRJ01";
    Rom r = SampleRom({{PlainFile(1, 100)}, {FidFile(fid)}, 2});
    std::string image(r.bytes.begin(), r.bytes.end());
    {
        unit::FlashRig rig(image, kLayout);
        ASSERT_TRUE(rig.Ok()) << rig.Error();
        romkit::ResetModels();
        ASSERT_EQ(gRomSize, kSampleSize);
        unit::CapturedOut out;
        UINT8* copy = YOZ_SysRom_GetBuffer();
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(YOZ_SysRom_LastError(), eEID_NO_ERROR);
        EXPECT_EQ(memcmp(copy, r.bytes.data(), kSampleSize), 0);
        EXPECT_STREQ(g_FwId, "EMUPRJ01");
        size_t reads = rig.Smis(0x21);
        EXPECT_GT(reads, 0u);
        EXPECT_EQ(YOZ_SysRom_GetBuffer(), copy);
        EXPECT_EQ(rig.Smis(0x21), reads);   // not read again
        romkit::ResetModels();
    }
    {
        unit::FlashRig rig(image, kLayout, {"flash_faults=read@0x30000:1"});
        ASSERT_TRUE(rig.Ok()) << rig.Error();
        romkit::ResetModels();
        unit::CapturedOut out;
        UINT8* copy = YOZ_SysRom_GetBuffer();
        EXPECT_NE(copy, nullptr);   // the buffer is returned in any case
        EXPECT_NE(YOZ_SysRom_LastError(), eEID_NO_ERROR);
        EXPECT_EQ(YOZ_SysRomLoadOK, 0);
        romkit::ResetModels();
    }
}

}  // namespace

namespace {

TEST(SysRomMeAnswer, IgnitionFirstThenTheEntireUpdate) {
    Rom r = SampleRom({{PlainFile(1, 100)}, {}, 2});
    std::string image(r.bytes.begin(), r.bytes.end());
    {
        unit::FlashRig rig(image, kLayout, {"me_ignition=1", "me_full=0"});
        ASSERT_TRUE(rig.Ok()) << rig.Error();
        EXPECT_EQ(YOZ_SysRom_CheckMESupport(), 1);
    }
    {
        unit::FlashRig rig(image, kLayout);
        ASSERT_TRUE(rig.Ok()) << rig.Error();
        EXPECT_EQ(YOZ_SysRom_CheckMESupport(), 1);
    }
    {
        unit::FlashRig rig(image, kLayout, {"me_support=0"});
        ASSERT_TRUE(rig.Ok()) << rig.Error();
        EXPECT_EQ(YOZ_SysRom_CheckMESupport(), 0);
    }
}

}  // namespace
