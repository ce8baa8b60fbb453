// Protected files, firmware ID, capsule forms, ME volume, EC header and
// layout data of built images.
#include <gtest/gtest.h>
#include <cstring>
#include "CaptureOut.h"
#include "GuardedBuffer.h"
#include "RomImageBuilder.h"
#include "RomInfo.h"
#include "RomModelKit.h"
#include "SecureFlash.h"
#include "TKXPhysMem.h"
#include "YozRomFile.h"
#include "YozSysRom.h"

using namespace romimg;

namespace {

class ImageModel : public ::testing::Test {
protected:
    void SetUp() override { romkit::SetBlocks(SampleBlocks()); }
};

TEST_F(ImageModel, HolesSlpAndDmiRecordsInOrderWithOffsetsAndSizes) {
    SampleSpec s;
    s.mainFiles = {RomHoleFile(3, 100), PlainFile(1, 50), SlpMarkerFile(10), DmiFile(Pattern(30, 1)),
                   RomHoleFile(0, 200)};
    s.bootFiles = {RomHoleFile(15, 8), SlpKeyFile(12), DmiAreaFile({{1, Pattern(20, 3)}, {0x7F, Bytes()}})};
    Rom r = SampleRom(s);
    romkit::UseImage(r.bytes);
    EXPECT_EQ(YOZ_RomFile_SearchNCB(r.bytes.data()), 1);
    // Main-block runs first, then the boot block; files in volume order.
    ASSERT_EQ(YOZ_RomFile_GetRomHoleNumber(), 3);
    const Guid expect[3] = {RomHoleGuid(3), RomHoleGuid(0), RomHoleGuid(15)};
    for (int i = 0; i < 3; ++i) {
        const FileAt& f = r.File(expect[i]);
        EXPECT_EQ(memcmp(&YOZ_RomFileRHRECList[i].Guid, expect[i].b, 16), 0) << i;
        EXPECT_EQ(UINT32{YOZ_RomFileRHRECList[i].RomOffset}, f.offset) << i;
        EXPECT_EQ(UINT32{YOZ_RomFileRHRECList[i].Size}, f.size) << i;
        EXPECT_EQ(UINT32{YOZ_RomFileRHRECList[i].Type}, 1u) << i;
    }
    EXPECT_EQ(UINT32{YOZ_RomFileSLPRHRECList[0].RomOffset}, r.File(kSlpMarker).offset);
    EXPECT_EQ(UINT32{YOZ_RomFileSLPRHRECList[1].RomOffset}, r.File(kSlpKey).offset);
    EXPECT_EQ(UINT32{YOZ_RomFileSLPRHRECList[1].Type}, 2u);
    EXPECT_EQ(YOZ_RomFile_HaveSLP20(), 1);
    ASSERT_EQ(YOZ_RomFile_GetDMINumber(), 2u);
    EXPECT_EQ(YOZ_RomFile_GetDMIRomOffset(0), r.File(kDmiFile, 0).offset);
    EXPECT_EQ(YOZ_RomFile_GetDMISize(1), r.File(kDmiFile, 1).size);
    // The "BSA_" area sits right behind the second DMI file's header.
    const UINT8* bsa = r.bytes.data() + YOZ_RomFile_GetDMIRomOffset(1) + 24;
    EXPECT_EQ(memcmp(bsa, "BSA_", 4), 0);
    EXPECT_EQ(Get32(r.bytes, YOZ_RomFile_GetDMIRomOffset(1) + 28), 4u + 20u + 4u);
    // A repeated search starts afresh: no doubled DMI records.
    EXPECT_EQ(YOZ_RomFile_SearchNCB(r.bytes.data()), 1);
    EXPECT_EQ(YOZ_RomFile_GetDMINumber(), 2u);
    // The OEM activation 3.1 flag belongs to the system walk only.
    EXPECT_EQ(gYOZ_SysRom_bOA31GUIDInFind, 0);
}

TEST_F(ImageModel, SixteenHolesPassTheSeventeenthFailsWithoutOverflow) {
    SampleSpec s;
    for (uint32_t n = 0; n < 16; ++n) s.mainFiles.push_back(RomHoleFile(n, 16));
    Rom r16 = SampleRom(s);
    romkit::UseImage(r16.bytes);
    EXPECT_EQ(YOZ_RomFile_SearchNCB(r16.bytes.data()), 1);
    EXPECT_EQ(YOZ_RomFile_GetRomHoleNumber(), 16);

    _ROMHOLEREC guard = YOZ_RomFileSLPRHRECList[0];
    s.bootFiles.push_back(RomHoleFile(0, 16));   // a 17th hole
    s.bootFiles.push_back(SlpKeyFile(4));
    s.bootFiles.push_back(SlpMarkerFile(4));
    s.bootFiles.push_back(SlpKeyFile(6));        // a third SLP file
    Rom r17 = SampleRom(s);
    romkit::UseImage(r17.bytes);
    EXPECT_EQ(YOZ_RomFile_SearchNCB(r17.bytes.data()), 0);
    EXPECT_EQ(YOZ_RomFile_GetRomHoleNumber(), 17);
    // The list keeps its 16 records; the SLP list its first two.
    EXPECT_EQ(UINT32{YOZ_RomFileRHRECList[15].RomOffset}, r17.File(RomHoleGuid(15)).offset);
    EXPECT_EQ(UINT32{YOZ_RomFileSLPRHRECList[0].RomOffset}, r17.File(kSlpKey, 0).offset);
    EXPECT_EQ(UINT32{YOZ_RomFileSLPRHRECList[1].RomOffset}, r17.File(kSlpMarker).offset);
    (void)guard;
}

TEST_F(ImageModel, HolesPlusNonCriticalBlocksAboveSixteenFail) {
    romkit::SetBlocks({{1, 0x10000, 0x80}, {1, 0x10000, 0x81}, {12, 0x10000, 1}, {2, 0x10000, 0}});
    YOZ_SysRom_GetBlockInfo();
    SampleSpec s;
    for (uint32_t n = 0; n < 14; ++n) s.mainFiles.push_back(RomHoleFile(n, 16));
    Rom r = SampleRom(s);
    romkit::UseImage(r.bytes);
    EXPECT_EQ(YOZ_RomFile_SearchNCB(r.bytes.data()), 1);   // 14 + 2
    EXPECT_EQ(YOZ_RomFile_GetNCBNumber(), 2);
    SampleSpec t = s;
    t.bootFiles.push_back(RomHoleFile(14, 16));
    Rom r15 = SampleRom(t);
    romkit::UseImage(r15.bytes);
    EXPECT_EQ(YOZ_RomFile_SearchNCB(r15.bytes.data()), 0);   // 15 + 2
}

TEST_F(ImageModel, WalkerSurvivesBadVolumeAndFileLengths) {
    SampleSpec s;
    s.mainFiles = {RomHoleFile(1, 16), PlainFile(9, 40), RomHoleFile(2, 16)};
    s.bootFiles = {RomHoleFile(3, 16)};
    {
        Rom r = SampleRom(s);
        mut::FvLength(r, 0, 0);
        romkit::UseImage(r.bytes);
        YOZ_RomFile_SearchNCB(r.bytes.data());
        EXPECT_EQ(YOZ_RomFile_GetRomHoleNumber(), 1);   // only the boot volume is walked
    }
    {
        Rom r = SampleRom(s);
        mut::FileSize(r, r.File(PlainGuid(9)), 0);   // size 0 ends the volume
        romkit::UseImage(r.bytes);
        YOZ_RomFile_SearchNCB(r.bytes.data());
        EXPECT_EQ(YOZ_RomFile_GetRomHoleNumber(), 2);
    }
    {
        // A volume placed off its window start with a short FvLength is
        // walked once, not once per window.
        Rom r(kSampleSize);
        VolumeSpec v;
        v.length = 0x10000;
        v.files = {RomHoleFile(4, 16)};
        r.AddVolume(kSampleMain + 0x8000, v);
        romkit::UseImage(r.bytes);
        EXPECT_EQ(YOZ_RomFile_SearchNCB(r.bytes.data()), 1);
        EXPECT_EQ(YOZ_RomFile_GetRomHoleNumber(), 1);
    }
}

TEST_F(ImageModel, Version4FirmwareIdRecordAndItsBounds) {
    FidSpec fid;
    fid.oaKey = Pattern(49, 7);
    SampleSpec s;
    s.mainFiles = {PlainFile(1, 10), FidFile(fid)};
    Rom r = SampleRom(s);
    romkit::UseImage(r.bytes);
    UINT32 at = r.File(kFidFile).offset + 44;
    EXPECT_EQ(YOZ_RomFile_FindImageFidOffset(r.bytes.data()), at);
    UINT8* copy = YOZ_RomFile_GetVer4Fid(r.bytes.data());
    ASSERT_NE(copy, nullptr);
    Bytes rec = FidRecord(fid);
    EXPECT_EQ(memcmp(copy, rec.data(), rec.size()), 0);
    EXPECT_EQ(copy, YOZ_pFileFIDVer4);

    Rom big = SampleRom(s);
    mut::FidSize(big, 1025);
    romkit::UseImage(big.bytes);
    EXPECT_EQ(YOZ_RomFile_GetVer4Fid(big.bytes.data()), nullptr);
    // The checksum walk still holds: the record is bad, not the file.
    EXPECT_EQ(YOZ_RomFile_CheckSum(big.bytes.data(), big.size()), 1);

    FidSpec longKey = fid;
    Rom lk = SampleRom({{FidFile(longKey)}, {}, 2});
    Put32(lk.bytes, lk.File(kFidFile).offset + 44 + 67, 50);   // key longer than the record
    RefreshFile(lk.bytes, lk.File(kFidFile).offset);
    romkit::UseImage(lk.bytes);
    EXPECT_EQ(YOZ_RomFile_GetVer4Fid(lk.bytes.data()), nullptr);

    FidSpec v3 = fid;
    v3.version = 3;
    Rom old = SampleRom({{FidFile(v3)}, {}, 2});
    romkit::UseImage(old.bytes);
    EXPECT_EQ(YOZ_RomFile_FindImageFidOffset(old.bytes.data()), 0u);
}

TEST_F(ImageModel, RomIdCheckComparesGuidAndProjectIdOverTheFirmwareLength) {
    FidSpec fid;
    fid.projectId = "ABCDE123";
    Rom r = SampleRom({{FidFile(fid)}, {}, 2});
    romkit::UseImage(r.bytes);
    memcpy(g_FwGuid, fid.fwGuid.b, 16);
    memcpy(g_FwId, "ABCDEXYZ", 9);
    YOZ_RomFile_SetCheckRomID(1);
    g_OnBoardROMProjectIDLength = 0xFF;   // unknown: 5 characters
    EXPECT_EQ(YOZ_RomFile_CheckRomID(r.bytes.data(), r.size()), eEID_NO_ERROR);
    g_OnBoardROMProjectIDLength = 6;
    EXPECT_EQ(YOZ_RomFile_CheckRomID(r.bytes.data(), r.size()), eEID_WRONG_ROM_FILE_ID);
    YOZ_RomFile_SetCheckRomIDCount(1, 4);
    EXPECT_EQ(YOZ_RomFile_CheckRomID(r.bytes.data(), r.size()), eEID_NO_ERROR);
    g_FwGuid[15] ^= 1;
    EXPECT_EQ(YOZ_RomFile_CheckRomID(r.bytes.data(), r.size()), eEID_WRONG_ROM_FILE_ID);
    YOZ_RomFile_SetCheckRomID(0);
    EXPECT_EQ(YOZ_RomFile_CheckRomID(r.bytes.data(), r.size()), eEID_NO_ERROR);
    EXPECT_EQ(YOZ_RomFile_CheckRomID(r.bytes.data(), r.size() - 1), eEID_WRONG_ROM_FILE_SIZE);
    g_OnBoardROMProjectIDLength = 0xFF;
}

TEST_F(ImageModel, SignedCapsuleStripAndEmbeddedCapsuleRebuild) {
    Rom r = SampleRom({{PlainFile(1, 100), CapsuleFile(0x40)}, {}, 2});
    EXPECT_EQ(YOZ_RomFile_CheckCapHeader(r.bytes.data(), r.size()), 0);
    EXPECT_EQ(YOZ_RomFile_CheckNewCAPGUID(r.bytes.data(), r.size()), 1);
    UINT8* image = r.bytes.data();
    UINT32 size = r.size();
    ASSERT_EQ(YOZ_RomFile_ResetCAPFileHead(&image, &size), 1);
    EXPECT_EQ(size, r.size() + 0x40);
    EXPECT_EQ(YOZ_RomFile_CheckCapHeader(image, size), 1);
    Bytes header = CapsuleHeader(0x40);
    EXPECT_EQ(memcmp(image, header.data(), header.size()), 0);
    EXPECT_EQ(memcmp(image + 0x40, r.bytes.data(), r.size()), 0);
    EXPECT_EQ(image, YOZ_pReSourceBuff);

    // A header length past the end of the image leaves it as it was.
    Rom bad = SampleRom({{CapsuleFile(0x40)}, {}, 2});
    const FileAt& f = bad.File(kCapsuleFile);
    Put16(bad.bytes, f.offset + 44 + 0x1C, 0xFFF0);
    Bytes shortImage(bad.bytes.begin(), bad.bytes.begin() + f.offset + 0x100);
    image = shortImage.data();
    size = static_cast<UINT32>(shortImage.size());
    EXPECT_EQ(YOZ_RomFile_ResetCAPFileHead(&image, &size), 0);
    EXPECT_EQ(image, shortImage.data());

    Bytes signedImage = SignedCapsule(r.bytes, 0x80);
    EXPECT_EQ(YOZ_RomFile_CheckCapHeader(signedImage.data(), static_cast<UINT32>(signedImage.size())), 1);
    unit::CapturedOut out;
    image = signedImage.data();
    size = static_cast<UINT32>(signedImage.size());
    // Without secure-flash support in the firmware nothing is stripped.
    EXPECT_EQ(YOZ_RomFile_GetNoSecureHeadRom(&image, &size), 0);
    EXPECT_EQ(out.Text(), "Disable.\n");
    EXPECT_EQ(size, signedImage.size());

    // With secure flash the header is stripped; one longer than the file is not.
    FLASH_SetSecureFlashSupported(1);
    out.Clear();
    EXPECT_EQ(YOZ_RomFile_GetNoSecureHeadRom(&image, &size), 1);
    EXPECT_EQ(out.Text(), " Secure Flash enabled, recalculate ROM size with signature... Enable.\n");
    EXPECT_EQ(image, signedImage.data() + 0x80);
    EXPECT_EQ(size, r.size());
    // A length past the file, or below the header's own 30 bytes, is no header.
    for (UINT16 length : {0x200, 0x180, 0x1D, 0x10, 0}) {
        Bytes bad = SignedCapsule(Bytes(0x100, 0x5A), 0x80);
        mut::CapsuleHeaderLength(bad, length);
        image = bad.data();
        size = static_cast<UINT32>(bad.size());
        out.Clear();
        EXPECT_EQ(YOZ_RomFile_GetNoSecureHeadRom(&image, &size), 0) << length;
        EXPECT_EQ(out.Text(), " Secure Flash enabled, recalculate ROM size with signature... Disable.\n") << length;
        EXPECT_EQ(image, bad.data()) << length;
        EXPECT_EQ(size, bad.size()) << length;
    }
    FLASH_SetSecureFlashSupported(0);
}

TEST_F(ImageModel, CapsuleHeaderTestStaysInsideAShortFile) {
    // The GUID test reads no byte past a file shorter than a GUID.
    Bytes header = CapsuleHeader(0x40);
    for (size_t size : {size_t(0), size_t(1), size_t(15)}) {
        GuardedBuffer file(std::string(header.begin(), header.begin() + size));
        EXPECT_EQ(YOZ_RomFile_CheckCapHeader(file.data(), static_cast<UINT32>(size)), 0) << size;
    }
    GuardedBuffer whole(std::string(header.begin(), header.begin() + 16));
    EXPECT_EQ(YOZ_RomFile_CheckCapHeader(whole.data(), 16), 1);
}

TEST_F(ImageModel, MeVolumeIsSplitOffTheSingleBinary) {
    Rom r = SampleRom({{PlainFile(1, 10)}, {}, 2});
    VolumeSpec me;
    me.length = 0x30000;
    me.files = {MeFile(0x100), PlainFile(5, 0x200)};
    const VolumeAt& v = r.AppendVolume(me);
    UINT8* image = r.bytes.data();
    UINT32 size = r.size();
    ASSERT_EQ(YOZ_RomFile_CheckME_FV(image, size), 1);
    EXPECT_EQ(YOZ_RomFile_ME_FV_StAddr, v.offset);
    EXPECT_EQ(YOZ_RomFile_ME_FV_Size, 0x30000u);
    UINT8* mePart = nullptr;
    UINT32 meSize = 0;
    ASSERT_EQ(YOZ_RomFile_GetME_FV_BIOSAddrSeting(&image, &size, &mePart, &meSize), 1);
    EXPECT_EQ(size, kSampleSize);
    EXPECT_EQ(mePart, r.bytes.data() + kSampleSize);
    EXPECT_EQ(meSize, 0x30000u);

    // A length past the end of the file is no ME volume.
    Put32(r.bytes, v.offset + 32, 0x40000);
    EXPECT_EQ(YOZ_RomFile_CheckME_FV(r.bytes.data(), r.size()), 0);
    Rom plain = SampleRom({{PlainFile(1, 10)}, {}, 2});
    EXPECT_EQ(YOZ_RomFile_CheckME_FV(plain.bytes.data(), plain.size()), 0);
}

TEST(EcImage, HeaderChecksumFromZeroOrFrom256) {
    EcSpec s;
    Bytes ec = EcImage(s);
    ZOKT_EC_HDR_STRUCT hdr;
    UINT8 found = 0;
    {
        unit::CapturedOut out;
        EXPECT_EQ(YOZ_RomFile_CheckECBuffer(ec.data(), static_cast<UINT32>(ec.size()), &hdr, &found), 1);
        EXPECT_EQ(found, 1);
        char line[64];
        snprintf(line, sizeof(line), " - CheckSum: 0x%04X\n", Get16(ec, s.headerAt + 10));
        EXPECT_EQ(out.Text(), std::string(line) + " - Core Version: 1.01\n - OEM Version: 2.02.03\n"
                                                 " - EC File checking ........ ok\n");
        EXPECT_EQ(hdr.ChipId, 0x8225);
    }
    {
        // Flag set: bytes before 256 do not count.
        EcSpec f = s;
        f.flag = 1;
        f.build = 0;
        Bytes e2 = EcImage(f);
        e2[10] ^= 0xFF;
        unit::CapturedOut out;
        EXPECT_EQ(YOZ_RomFile_CheckECBuffer(e2.data(), static_cast<UINT32>(e2.size()), &hdr, &found), 1);
        EXPECT_NE(out.Text().find(" - OEM Version: 2.02\n"), std::string::npos);
        e2[300] ^= 0x01;
        EXPECT_EQ(YOZ_RomFile_CheckECBuffer(e2.data(), static_cast<UINT32>(e2.size()), &hdr, &found), 0);
    }
    {
        // A header cut by the end of the file is not read.
        EcSpec t = s;
        t.size = 0x200;
        t.headerAt = 0x1F0;
        Bytes e3 = EcImage(t);
        found = 0;
        unit::CapturedOut out;
        EXPECT_EQ(YOZ_RomFile_CheckECBuffer(e3.data(), 0x1F8, &hdr, &found), 0);
        EXPECT_EQ(found, 0);
    }
}

TEST_F(ImageModel, LayoutDataFoundCopiedAndBounded) {
    Bytes area = Pattern(72, 3);
    Rom r = SampleRom({{PlainFile(1, 10), LayoutFile(area)}, {}, 2});
    ASSERT_EQ(YOZ_RomFile_CheckRomLayoutData(r.bytes.data(), r.size()), 1);
    const FileAt& f = r.File(kLayoutFile);
    EXPECT_EQ(YOZ_RomFile_Get_RomLayout_pFFS_Hander(), r.bytes.data() + f.offset);
    EXPECT_EQ(memcmp(YOZ_RomFile_Get_RomLayout_pHader(), "ROML", 4), 0);
    UINT32 size = 0;
    UINT8* copy = YOZ_RomFile_Get_RomLayout_pRomAreaData(&size);
    ASSERT_NE(copy, nullptr);
    ASSERT_EQ(size, area.size());
    EXPECT_EQ(memcmp(copy, area.data(), size), 0);
    FreeMem(copy);
    EXPECT_EQ(YOZ_RomFile_Get_RomLayout_pRomAreaData(&size), nullptr);   // handed over once

    Rom small = SampleRom({{LayoutFile(Bytes())}, {}, 2});
    mut::FileSize(small, small.File(kLayoutFile), 59);
    EXPECT_EQ(YOZ_RomFile_CheckRomLayoutData(small.bytes.data(), small.size()), 0);
    EXPECT_EQ(YOZ_RomFile_Get_RomLayout_pRomArea(), nullptr);
}

}  // namespace
