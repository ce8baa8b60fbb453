// Layout comparison of the layout-check and whole-ROM modules, and the
// length of the layout data handed to the firmware.
#include <gtest/gtest.h>
#include "CaptureOut.h"
#include "RomImageBuilder.h"
#include "YozAllRom.h"
#include "YozOptionStore.h"
#include "YozRomFile.h"
#include "YozRomLayoutCheck.h"

using namespace romimg;

namespace {

TEST(RomLayoutCompare, TablesOfOneSizeAreComparedAndOneSidedDataIsSkipped) {
    Bytes system = FileBytes(LayoutFile(Pattern(0x20, 1)), 2);
    Bytes same = system, other = FileBytes(LayoutFile(Pattern(0x20, 2)), 2), none(system.size(), 0xFF);
    unit::CapturedOut out;
    YOZ_Com_SetRomLayoutChange(1);
    YOZ_RomLayout_Compare(system.data(), static_cast<UINT32>(system.size()), same.data(), static_cast<UINT32>(same.size()));
    EXPECT_EQ(out.Text(), " - Check RomLayout ......... Ok.\n");
    EXPECT_EQ(YOZ_Com_GetRomLayoutChange(), 0);
    out.Clear();
    YOZ_RomLayout_Compare(system.data(), static_cast<UINT32>(system.size()), other.data(), static_cast<UINT32>(other.size()));
    EXPECT_EQ(out.Text(), " - Check RomLayout ......... Changed.\n");
    EXPECT_EQ(YOZ_Com_GetRomLayoutChange(), 1);
    out.Clear();
    YOZ_RomLayout_Compare(system.data(), static_cast<UINT32>(system.size()), none.data(), static_cast<UINT32>(none.size()));
    EXPECT_EQ(out.Text(), "");
    EXPECT_EQ(YOZ_Com_GetRomLayoutChange(), 1) << "left as it was";
    YOZ_Com_SetRomLayoutChange(0);
}

TEST(RomLayoutCompare, LayoutDataStopsAtTheImageEnd) {
    // The data runs from the "ROML" header to the layout file's end, in a
    // larger image as in one that the file ends.
    Bytes file = FileBytes(LayoutFile(Pattern(0x30, 3)), 2);
    UINT32 size = static_cast<UINT32>(file.size());
    Bytes roomy = file;
    roomy.resize(file.size() + 16, 0xFF);
    ASSERT_EQ(YOZ_RomFile_CheckRomLayoutData(roomy.data(), static_cast<UINT32>(roomy.size())), 1);
    EXPECT_EQ(AllROM_LayoutDataLength(roomy.data(), static_cast<UINT32>(roomy.size())), size - 44);
    ASSERT_EQ(YOZ_RomFile_CheckRomLayoutData(file.data(), size), 1);
    EXPECT_EQ(AllROM_LayoutDataLength(file.data(), size), size - 44);
    YOZ_RomLayout_Clear(&YOZ_RomFileLayout);
    EXPECT_EQ(AllROM_LayoutDataLength(file.data(), size), 0u);
}

}  // namespace
