// The EC version compare of "/ECUF" in-process against the emulated flash:
// the bounds that keep every read inside its buffer, and what leaves the
// caller's flag alone. Which word decides is proved end to end.
#include <gtest/gtest.h>
#include <cstring>
#include "FlashRig.h"
#include "RomImageBuilder.h"
#include "YozEcProc.h"

namespace {

const UINT32 kEc = 0x10000;  // the EC block of the rig
const UINT32 kFlashSize = 0x40000;

void Word(std::string& b, UINT32 at, UINT32 value) { memcpy(&b[at], &value, 4); }

ECBHdr Header(UINT8 status, UINT32 start, UINT32 size, UINT16 offset, UINT32 mask) {
    ECBHdr h;
    memset(&h, 0, sizeof(h));
    memcpy(h.Signature, "$ECB", 4);
    h.Status = status;
    h.AreaStart = start;
    h.AreaSize = size;
    h.VersionOffset = offset;
    h.VersionMask = mask;
    return h;
}

TEST(EcVersion, AreasAndWordsOutsideTheirBuffersAreRefusedBeforeAnyRead) {
    std::string flash = unit::Pattern(kFlashSize, 9);
    std::string image = flash;
    Word(image, kEc + 0xFC, 0xFFFFFFFF);  // newer wherever the flash word is not all ones
    struct Row {
        ECBHdr header;
        UINT32 imageSize;
        ENUM_ERR_ID result;
        const char* smis;
    } rows[] = {
        {Header(0x01, kEc, 0x10000, 0xFC, 0xFFFFFFFF), kFlashSize, eEID_NO_ERROR, "21 "},
        {Header(0x01, kEc, 0x10001, 0xFC, 0xFFFFFFFF), kFlashSize, eEID_EC_FILE_ERROR, ""},   // above 64 KiB
        {Header(0x01, kFlashSize - 0x8000, 0x10000, 0, 1), kFlashSize, eEID_EC_FILE_ERROR, ""},  // past the flash
        {Header(0x01, 0xFFFFFF00, 0x200, 0, 1), kFlashSize, eEID_EC_FILE_ERROR, ""},            // wraps around
        {Header(0x01, kEc, 0x100, 0xFC, 0xFFFFFFFF), kFlashSize, eEID_NO_ERROR, "21 "},       // last word of the area
        {Header(0x01, kEc, 0x100, 0xFD, 0xFFFFFFFF), kFlashSize, eEID_EC_FILE_ERROR, ""},     // one byte past it
        {Header(0x01, kEc, 0x100, 0xFFFF, 1), kFlashSize, eEID_EC_FILE_ERROR, ""},
        {Header(0x01, kEc, 0x0, 0x0, 1), kFlashSize, eEID_EC_FILE_ERROR, ""},                 // empty area
        {Header(0x01, kEc, 0x100, 0xFC, 0xFFFFFFFF), kEc + 0x100, eEID_NO_ERROR, "21 "},      // image ends with the word
        {Header(0x01, kEc, 0x100, 0xFC, 0xFFFFFFFF), kEc + 0xFF, eEID_EC_FILE_ERROR, ""},     // image ends inside it
        {Header(0x00, kEc, 0x10001, 0xFFFF, 1), kFlashSize, eEID_NO_ERROR, ""},               // no compare, no read
    };
    for (const Row& row : rows) {
        UINT32 areaStart = row.header.AreaStart, areaSize = row.header.AreaSize;
        UINT16 versionOffset = row.header.VersionOffset;
        SCOPED_TRACE(testing::Message() << std::hex << areaStart << "+" << areaSize << " @" << versionOffset
                                        << " image " << row.imageSize);
        unit::FlashRig rig(flash, "1x64K:nvram,1x64K:ec,2x64K:main");
        ASSERT_TRUE(rig.Ok()) << rig.Error();
        std::string copy = image;
        UINT8 newer = 0;
        EXPECT_EQ(SECUF_EC_CheckBIOSVer(reinterpret_cast<UINT8*>(&copy[0]), row.imageSize, &row.header, newer),
                  row.result);
        EXPECT_EQ(newer, row.result == eEID_NO_ERROR && row.smis[0] != '\0' ? 1 : 0);
        EXPECT_EQ(rig.SmiSequence(), row.smis);
    }
}

TEST(EcVersion, NoEcBlockAReadFailureAndTheCallersFlag) {
    std::string flash = unit::Pattern(kFlashSize, 3);
    std::string image = flash;
    {
        unit::FlashRig rig(flash, "1x64K:nvram,3x64K:main");
        ASSERT_TRUE(rig.Ok()) << rig.Error();
        UINT8 newer = 0;
        EXPECT_EQ(SECUF_EC_CheckBIOSVer(reinterpret_cast<UINT8*>(&image[0]), kFlashSize, nullptr, newer), eEID_EC_STOP);
        EXPECT_EQ(SECUF_EC_CheckBIOSVer(nullptr, kFlashSize, nullptr, newer), eEID_MEM_ALLOC);
    }
    {
        unit::FlashRig rig(flash, "1x64K:nvram,1x64K:ec,2x64K:main",
                           {"ec_version_offset=0x10", "ec_version_mask=0xff", "flash_faults=read:1"});
        ASSERT_TRUE(rig.Ok()) << rig.Error();
        UINT8 newer = 1;  // a flag the caller set stays when nothing says newer
        EXPECT_EQ(SECUF_EC_CheckBIOSVer(reinterpret_cast<UINT8*>(&image[0]), kFlashSize, nullptr, newer),
                  eEID_READ_FLASH);
        EXPECT_EQ(newer, 1);
        ECBHdr off = Header(0x00, kEc, 0x100, 0, 0xFF);
        EXPECT_EQ(SECUF_EC_CheckBIOSVer(reinterpret_cast<UINT8*>(&image[0]), kFlashSize, &off, newer), eEID_NO_ERROR);
        EXPECT_EQ(newer, 1);
    }
}

}  // namespace
