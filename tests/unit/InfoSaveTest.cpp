// The "/U" search for the image's firmware-ID record (backwards from the
// end, bounded by the image on every read) and the "/O" progress count.
#include <gtest/gtest.h>
#include <cstring>
#include "CaptureOut.h"
#include "GuardedBuffer.h"
#include "InfoCommands.h"
#include "RomImageBuilder.h"
#include "RomInfo.h"

using namespace romimg;

namespace {

struct Placed {
    uint32_t at;  // offset of the file from the end of the image
    std::string id;
};

// A 0x1000-byte image, erased, with firmware-ID files placed `at` bytes
// before its end, in a buffer whose next byte faults.
std::string Image(const std::vector<Placed>& files) {
    Bytes img(0x1000, 0xFF);
    for (const Placed& p : files) {
        FidSpec fid;
        fid.projectId = p.id;
        Bytes file = FileBytes(FidFile(fid), 2);
        size_t from = img.size() - p.at;
        for (size_t i = 0; i < file.size() && from + i < img.size(); ++i) img[from + i] = file[i];
    }
    return std::string(img.begin(), img.end());
}

TEST(RomFileId, HighestRecordWithinTheTestedOffsetsIsTaken) {
    struct Case {
        std::vector<Placed> files;
        ENUM_ERR_ID status;
        const char* id;
    } cases[] = {
        {{{0x83, "LASTTEST"}}, eEID_NO_ERROR, "LASTTEST"},           // the highest offset tested
        {{{0x82, "TOOLATE1"}}, eEID_INEXIST_ROM_FILE_ID, ""},        // starts in the last 0x82 bytes
        {{{0x800, "LOWER001"}, {0x300, "UPPER001"}}, eEID_NO_ERROR, "UPPER001"},
        {{{0xE00, "LOWWINDW"}}, eEID_NO_ERROR, "LOWWINDW"},          // in the lowest window
        {{}, eEID_INEXIST_ROM_FILE_ID, ""},
    };
    for (const Case& c : cases) {
        GuardedBuffer image(Image(c.files));
        char id[9];
        UINT8 guid[16];
        EXPECT_EQ(YOZ_FindRomFileId(image.data(), image.size(), id, guid), c.status) << c.id;
        EXPECT_STREQ(id, c.id);
        if (c.status == eEID_NO_ERROR) {
            EXPECT_EQ(memcmp(guid, FidSpec().fwGuid.b, 16), 0);
        }
    }
}

TEST(RomFileId, RecordRunningPastTheEndIsNotRead) {
    // File and section GUIDs at the highest tested offset, "$FID" 0x70 bytes
    // further: its ID and GUID would lie past the end of the image.
    Bytes img(0x400, 0xFF);
    size_t at = img.size() - 0x83;
    Bytes file = GuidBytes(kFidFile), section = GuidBytes(kFidSection);
    std::copy(file.begin(), file.end(), img.begin() + at);
    std::copy(section.begin(), section.end(), img.begin() + at + 0x1C);
    memcpy(&img[at + 0x70], "$FID", 4);
    GuardedBuffer image(std::string(img.begin(), img.end()));
    char id[9];
    UINT8 guid[16];
    EXPECT_EQ(YOZ_FindRomFileId(image.data(), image.size(), id, guid), eEID_INEXIST_ROM_FILE_ID);
    // Shorter than one window: nothing is searched.
    GuardedBuffer small(std::string(0x3FF, '\xFF'));
    EXPECT_EQ(YOZ_FindRomFileId(small.data(), small.size(), id, guid), eEID_INEXIST_ROM_FILE_ID);
}

TEST(SaveRomProgress, PercentageOfALargeFlashIsCountedIn64Bits) {
    // 43 of 44 MiB read: 97%, where a 32-bit product would wrap to 4%.
    UINT32 saved = gRomSize;
    gRomSize = 44u << 20;
    unit::CapturedOut out;
    SaveRomCallBack(43u << 20, 1u << 20, 0);  // a chunk inside the block: the count stays
    SaveRomCallBack(43u << 20, 43u << 20, 0);
    SaveRomCallBack(1u << 20, 1u << 20, 0);
    EXPECT_EQ(out.Text(), " Reading flash ............... 0x00000000 (0%) \r"
                          " Reading flash ............... 0x02B00000 (97%) \r"
                          " Reading flash ............... done                \n");
    gRomSize = saved;
}

}  // namespace
