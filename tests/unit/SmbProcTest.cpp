// SMBIOS preservation processors in process: the "BSA_" area of the flash
// copy saved whole or by structure type and put into the image, the bounds
// of the area and of its structures, and the DMI file's checksum.
#include <gtest/gtest.h>
#include <cstring>
#include <numeric>
#include "CaptureOut.h"
#include "RomModelKit.h"
#include "TKXPhysMem.h"
#include "YozRomFile.h"
#include "YozSmbProc.h"
#include "YozSysRom.h"

namespace {

using romimg::Bytes;
using romimg::SmbiosStruct;

// The system's area: L = 0x54 with 4-byte headers.
std::vector<SmbiosStruct> SystemStructs() {
    return {{1, romimg::Pattern(0x10, 1)}, {2, romimg::Pattern(0x20, 2)}, {1, romimg::Pattern(0x08, 3)},
            {17, romimg::Pattern(0x0C, 4)}};
}
// The image's area: L = 0x80 with other bytes.
std::vector<SmbiosStruct> ImageStructs() {
    return {{1, romimg::Pattern(0x30, 5)}, {2, romimg::Pattern(0x20, 6)}, {4, romimg::Pattern(0x24, 7)}};
}

romimg::Rom WithDmiFile(const romimg::FileSpec& dmi) {
    romimg::SampleSpec s;
    s.mainFiles = {romimg::PlainFile(1, 0x100), dmi, romimg::PlainFile(2, 0x80)};
    s.bootFiles = {romimg::PlainFile(3, 0x80)};
    return romimg::SampleRom(s);
}

// A DMI file of the area with `after` pattern bytes behind it.
romimg::FileSpec AreaFile(const std::vector<SmbiosStruct>& structs, bool longHeaders, size_t after = 0x20) {
    romimg::FileSpec f = romimg::DmiAreaFile(structs, longHeaders);
    Bytes tail = romimg::Pattern(after, 9);
    f.body.insert(f.body.end(), tail.begin(), tail.end());
    return f;
}

// The data checksum of an FFS file holds (body sum plus checksum byte is 0).
bool FileSumHolds(const Bytes& b, const romimg::FileAt& f) {
    unsigned sum = b[f.offset + 17];
    for (uint32_t i = 24; i < f.size; ++i) sum += b[f.offset + i];
    return (sum & 0xFF) == 0;
}

class SmbProc : public ::testing::Test {
protected:
    romimg::Rom system{romimg::kSampleSize};
    romimg::Rom image{romimg::kSampleSize};
    _DMIDATA dmi{nullptr, SMB_DMI_EMPTY, 0, 0};
    TKXList<UINT8> types;

    void Use(const romimg::Rom& s, const romimg::Rom& i) {
        system = s;
        image = i;
        romkit::SetBlocks(romimg::SampleBlocks());
        romkit::UseFlashCopy(system.bytes);
        romkit::UseImage(image.bytes);
        YOZ_SysRom_SearchNCB(YOZ_SysRom_GetBuffer());
    }
    void Use(bool longHeaders) {
        Use(WithDmiFile(AreaFile(SystemStructs(), longHeaders)), WithDmiFile(AreaFile(ImageStructs(), longHeaders)));
    }
    void TearDown() override {
        SMB_Proc_FreeDmiData(&dmi);
        romkit::ResetModels();
    }
    UINT8* Sys() { return YOZ_SysRom_GetBuffer(); }
    uint32_t AreaAt(const romimg::Rom& r) { return r.File(romimg::kDmiFile).offset + 24; }
    Bytes Saved() const { return Bytes(dmi.pData, dmi.pData + dmi.Size); }
    Bytes ImageRange(uint32_t at, uint32_t size) const {
        return Bytes(image.bytes.begin() + at, image.bytes.begin() + at + size);
    }
    // Area bytes of one header form: "BSA_", L, then the structures.
    static Bytes Area(const std::vector<SmbiosStruct>& s, bool longHeaders) { return romimg::BsaArea(s, longHeaders); }
};

TEST_F(SmbProc, WholeAreaGoesIntoTheImageWithItsHeaderInBothHeaderForms) {
    for (bool longHeaders : {false, true}) {
        Use(longHeaders);
        Bytes area = Area(SystemStructs(), longHeaders);
        uint32_t l = romimg::Get32(area, 4);
        uint32_t at = AreaAt(image);
        Bytes before = image.bytes;
        ASSERT_EQ(SMB_Proc_StoreDmiData(Sys(), &dmi), 1);
        EXPECT_EQ(UINT32{dmi.Offset}, AreaAt(system));
        EXPECT_EQ(UINT32{dmi.Size}, l + 8);
        EXPECT_EQ(Saved(), area);
        ASSERT_EQ(SMB_Proc_ReStoreDmiData(image.bytes.data(), &dmi), 1);
        EXPECT_EQ(ImageRange(at, l + 8), area);
        // The image's bytes after the saved area stay; so does the rest.
        uint32_t end = image.File(romimg::kDmiFile).offset + image.File(romimg::kDmiFile).size;
        EXPECT_EQ(ImageRange(at + l + 8, end - at - l - 8), Bytes(before.begin() + at + l + 8, before.begin() + end));
        EXPECT_TRUE(std::equal(before.begin(), before.begin() + at - 24 + 17, image.bytes.begin()));
        EXPECT_TRUE(FileSumHolds(image.bytes, image.File(romimg::kDmiFile)));
        EXPECT_EQ(YOZ_RomFile_CheckSum(image.bytes.data(), image.size()), 1);
    }
}

TEST_F(SmbProc, ChosenTypesComeInListOrderOnceEachThenFF) {
    for (bool longHeaders : {false, true}) {
        Use(longHeaders);
        uint32_t at = AreaAt(image);
        std::vector<SmbiosStruct> all = SystemStructs();
        uint32_t l = romimg::Get32(Area(all, longHeaders), 4);
        uint32_t imageL = romimg::Get32(Area(ImageStructs(), longHeaders), 4);
        types.clear();
        for (UINT8 t : {17, 1, 3, 17}) types.push_back(t);  // 3: none in the system
        unit::CapturedOut out;
        ASSERT_EQ(SMBN_Proc_StoreDmiNData(Sys(), types, &dmi), 1);
        EXPECT_EQ(out.Text(), " - Warning: System doesn't have Type-3 structure to preserve\n");
        Bytes expected = Area({all[3], all[0], all[2]}, longHeaders);
        romimg::Put32(expected, 4, l);
        expected.resize(l + 8, 0xFF);
        EXPECT_EQ(UINT32{dmi.Size}, l + 8);
        EXPECT_EQ(Saved(), expected);

        Bytes imageHeader = ImageRange(at, 8);
        ASSERT_EQ(SMBN_Proc_ReStoreDmiData(image.bytes.data(), &dmi), 1);
        EXPECT_EQ(ImageRange(at, 8), imageHeader);  // the image keeps its own L
        EXPECT_EQ(ImageRange(at + 8, l), Bytes(expected.begin() + 8, expected.end()));
        EXPECT_EQ(ImageRange(at + 8 + l, imageL - l), Bytes(imageL - l, 0xFF));  // none of the image's left
        EXPECT_TRUE(FileSumHolds(image.bytes, image.File(romimg::kDmiFile)));
        SMB_Proc_FreeDmiData(&dmi);
    }
}

TEST_F(SmbProc, ImageAreaMissingOrShorterTakesNothing) {
    std::vector<SmbiosStruct> small = {{1, romimg::Pattern(0x20, 8)}};
    for (const romimg::Rom& other : {WithDmiFile(AreaFile(small, false)), WithDmiFile(romimg::PlainFile(7, 0x40))}) {
        Use(WithDmiFile(AreaFile(SystemStructs(), false)), other);
        Bytes before = image.bytes;
        ASSERT_EQ(SMB_Proc_StoreDmiData(Sys(), &dmi), 1);
        EXPECT_EQ(SMB_Proc_ReStoreDmiData(image.bytes.data(), &dmi), 0);
        types.clear();
        types.push_back(1);
        ASSERT_EQ(SMBN_Proc_StoreDmiNData(Sys(), types, &dmi), 1);
        EXPECT_EQ(SMBN_Proc_ReStoreDmiData(image.bytes.data(), &dmi), 0);
        EXPECT_EQ(image.bytes, before);
    }
    // Nothing stored: the restore does nothing.
    SMB_Proc_FreeDmiData(&dmi);
    EXPECT_EQ(SMB_Proc_ReStoreDmiData(image.bytes.data(), &dmi), 0);
    EXPECT_EQ(SMBN_Proc_ReStoreDmiData(image.bytes.data(), &dmi), 0);
}

// A DMI file holding `area` as it is, then 0x10 pattern bytes.
romimg::FileSpec RawDmi(const Bytes& area) {
    romimg::FileSpec f;
    f.name = romimg::kDmiFile;
    f.body = area;
    Bytes tail = romimg::Pattern(0x10, 9);
    f.body.insert(f.body.end(), tail.begin(), tail.end());
    return f;
}

TEST_F(SmbProc, AreaLengthMustStayInsideItsFile) {
    const romimg::Rom good = WithDmiFile(AreaFile(SystemStructs(), false));
    Bytes area = Area(SystemStructs(), false);
    UINT32 offset = 0, length = 0;
    // L just fits the file (its 0x10 trailing bytes), one byte more, and
    // one that L + 8 would wrap.
    for (uint32_t l : {0x64u, 0x65u, 0xFFFFFFF8u}) {
        const bool fits = l == 0x64;
        Bytes bent = area;
        romimg::Put32(bent, 4, l);
        Use(WithDmiFile(RawDmi(bent)), good);
        SMB_AREA_STATE state = SMB_Proc_FindArea(Sys(), 0, &offset, &length);
        EXPECT_EQ(state, fits ? SMB_AREA_FOUND : SMB_AREA_BAD) << l;
        EXPECT_EQ(SMB_Proc_StoreDmiData(Sys(), &dmi), fits ? 1 : 0) << l;
        types.clear();
        types.push_back(1);
        unit::CapturedOut out;
        EXPECT_EQ(SMBN_Proc_StoreDmiNData(Sys(), types, &dmi), fits ? 1 : 0) << l;

        // The same area in the image: nothing goes into it unless it fits.
        Use(good, WithDmiFile(RawDmi(bent)));
        Bytes before = image.bytes;
        EXPECT_EQ(SMB_Proc_FindArea(image.bytes.data(), 1, &offset, &length), state);
        ASSERT_EQ(SMB_Proc_StoreDmiData(Sys(), &dmi), 1);
        EXPECT_EQ(SMB_Proc_ReStoreDmiData(image.bytes.data(), &dmi), fits ? 1 : 0) << l;
        if (!fits) {
            EXPECT_EQ(image.bytes, before);
        }
    }
    // No DMI file, or no signature in it.
    Use(WithDmiFile(romimg::PlainFile(7, 0x40)), good);
    EXPECT_EQ(SMB_Proc_FindArea(Sys(), 0, &offset, &length), SMB_AREA_NONE);
    EXPECT_EQ(SMB_Proc_StoreDmiData(Sys(), &dmi), 0);
}

TEST_F(SmbProc, TypeWalkStopsAtTheFirstStructureThatLeavesL) {
    const romimg::Rom image0 = WithDmiFile(AreaFile(ImageStructs(), false));
    struct Case {
        const char* name;
        Bytes area;       // "BSA_", L, structures
        Bytes expected;   // the saved data for types 1 and 2
        const char* warning;
    };
    std::vector<SmbiosStruct> two = {{1, romimg::Pattern(0x08, 1)}, {2, romimg::Pattern(0x10, 2)}};
    Bytes across = Area(two, false);
    romimg::Put32(across, 4, 0x0C + 0x08);  // the type-2 structure runs past L
    Bytes first = Bytes(across.begin() + 8, across.begin() + 8 + 0x0C);
    first.resize(0x14, 0xFF);
    Bytes tiny = Area({}, false);
    tiny.insert(tiny.end(), {1, 0, 0});  // L = 3: below a header
    romimg::Put32(tiny, 4, 3);
    Bytes longAcross = Area(two, true);
    romimg::Put32(longAcross, 4, 9 + 0x08 + 4);  // 4 bytes of the second header
    Bytes longFirst = Bytes(longAcross.begin() + 8, longAcross.begin() + 8 + 9 + 0x08);
    longFirst.resize(9 + 0x08 + 4, 0xFF);
    const Case cases[] = {
        {"across L", across, first, " - Warning: System doesn't have Type-2 structure to preserve\n"},
        {"L below a header", tiny, Bytes(3, 0xFF),
         " - Warning: System doesn't have Type-1 structure to preserve\n"
         " - Warning: System doesn't have Type-2 structure to preserve\n"},
        {"header across L", longAcross, longFirst, " - Warning: System doesn't have Type-2 structure to preserve\n"},
    };
    for (const Case& c : cases) {
        Use(WithDmiFile(RawDmi(c.area)), image0);
        types.clear();
        types.push_back(1);
        types.push_back(2);
        unit::CapturedOut out;
        ASSERT_EQ(SMBN_Proc_StoreDmiNData(Sys(), types, &dmi), 1) << c.name;
        EXPECT_EQ(Bytes(dmi.pData + 8, dmi.pData + dmi.Size), c.expected) << c.name;
        EXPECT_EQ(out.Text(), c.warning) << c.name;
    }
}

TEST_F(SmbProc, FileDataKeepsItsChecksum) {
    romimg::FileSpec noSum = romimg::PlainFile(8, 0x40);
    noSum.attributes = 0;
    romimg::SampleSpec s;
    s.mainFiles = {romimg::PlainFile(7, 0x40), noSum};
    romimg::Rom r = romimg::SampleRom(s);
    const romimg::FileAt& summed = r.File(romimg::PlainGuid(7));
    const romimg::FileAt& plain = r.File(romimg::PlainGuid(8));
    Bytes data = romimg::Pattern(0x10, 0x33);
    Bytes b = r.bytes;
    UINT32 limit = static_cast<UINT32>(b.size());
    ASSERT_EQ(YOZ_RomFile_PutFileData(b.data(), limit, summed.offset, summed.offset + 0x30, data.data(), 0x10), 1);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), b.begin() + summed.offset + 0x30));
    EXPECT_TRUE(FileSumHolds(b, summed));
    // Without the checksum attribute the checksum byte is no sum: it stays.
    UINT8 mark = b[plain.offset + 17];
    ASSERT_EQ(YOZ_RomFile_PutFileData(b.data(), limit, plain.offset, plain.offset + 0x30, data.data(), 0x10), 1);
    EXPECT_EQ(b[plain.offset + 17], mark);
    EXPECT_EQ(YOZ_RomFile_CheckSum(b.data(), limit), 1);
    // Bytes that would leave the buffer are not written.
    Bytes kept = b;
    EXPECT_EQ(YOZ_RomFile_PutFileData(b.data(), limit, summed.offset, limit - 8, data.data(), 0x10), 0);
    EXPECT_EQ(b, kept);
    // A file of a revision-1 volume ends in a tail that follows its checksum byte.
    romimg::FileSpec tailed = romimg::PlainFile(9, 0x40);
    tailed.attributes = 0x41;
    s.mainFiles = {tailed};
    s.mainRevision = 1;
    romimg::Rom old = romimg::SampleRom(s);
    const romimg::FileAt& f = old.File(romimg::PlainGuid(9));
    ASSERT_EQ(YOZ_RomFile_PutFileData(old.bytes.data(), limit, f.offset, f.offset + 0x30, data.data(), 0x10), 1);
    EXPECT_EQ(YOZ_RomFile_CheckSum(old.bytes.data(), limit), 1);
}

}  // namespace
