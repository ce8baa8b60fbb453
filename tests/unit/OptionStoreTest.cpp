// The option flag store and the shared helpers: flags that follow their
// module's enabled byte, checksums, GUID and hex text, GUID printing, the
// firmware-ID file locator and the silent error printer.
#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include <vector>
#include "CaptureOut.h"
#include "RomInfo.h"
#include "YozOptionStore.h"

namespace {

TEST(OptionStore, CommandFlagFollowsTheEnabledByteAtEveryMoment) {
    UINT8 enabled = 0;
    EXPECT_EQ(YOZ_GetDCmdIsEnable(), 0) << "no pointer handed over yet";
    YOZ_SetDCmdIsEnable(&enabled);
    EXPECT_EQ(YOZ_GetDCmdIsEnable(), 0);
    enabled = 1;
    EXPECT_EQ(YOZ_GetDCmdIsEnable(), 1);
    enabled = 0;
    EXPECT_EQ(YOZ_GetDCmdIsEnable(), 0);
    YOZ_SetDCmdIsEnable(nullptr);
    EXPECT_EQ(YOZ_GetDCmdIsEnable(), 0);

    // The odd pairs read the byte their setter was given.
    UINT8 ec = 1, oad = 1, ecuf = 1;
    YOZ_SetSECCmdIsEnable(&ec);
    YOZ_SetDeleteOAKeyCmdIsEnable(&oad);
    YOZ_SetSECUFCmdIsEnable(&ecuf);
    EXPECT_EQ(YOZ_GetECCmdIsEnable(), 1);
    EXPECT_EQ(YOZ_GetODeleteAKeyCmdIsEnable(), 1);
    EXPECT_EQ(YOZ_GetECUFCmdIsEnable(), 1);
    EXPECT_EQ(YOZ_GetNSECCmdIsEnable(), 0) << "flags do not share storage";
    YOZ_SetSECCmdIsEnable(nullptr);
    YOZ_SetDeleteOAKeyCmdIsEnable(nullptr);
    YOZ_SetSECUFCmdIsEnable(nullptr);
}

TEST(OptionStore, BootMainAndNvramTogetherMakePBN) {
    UINT8 b = 1, p = 1, n = 0;
    YOZ_SetBCmdIsEnable(&b);
    YOZ_SetPCmdIsEnable(&p);
    YOZ_SetNCmdIsEnable(&n);
    EXPECT_EQ(YOZ_GetPBNCmdIsEnable(), 0);
    EXPECT_EQ(YOZ_bFlashPBN, 0);
    n = 1;
    EXPECT_EQ(YOZ_GetPBNCmdIsEnable(), 1);
    EXPECT_EQ(YOZ_bFlashPBN, 1);
    YOZ_SetBCmdIsEnable(nullptr);
    YOZ_SetPCmdIsEnable(nullptr);
    YOZ_SetNCmdIsEnable(nullptr);
}

TEST(OptionStore, ValueFlagsKeepTheirValueAndTheGenerationFlagsStartAtOne) {
    EXPECT_EQ(YOZ_GetOrvex5(), 1);
    EXPECT_EQ(YOZ_GetOrvexCheck(), 1);
    EXPECT_EQ(YOZ_GetEMMC_2x2_Mode(), 0);
    YOZ_SetOrvexCheck(0);
    YOZ_SetEMMC_2x2_Mode(1);
    EXPECT_EQ(YOZ_GetOrvexCheck(), 0);
    EXPECT_EQ(YOZ_GetEMMC_2x2_Mode(), 1);
    YOZ_SetOrvexCheck(1);
    YOZ_SetEMMC_2x2_Mode(0);
}

// The byte sum of long and odd-sized runs, at every alignment, against the
// sum counted byte by byte: all-0xFF runs fill the word lanes to their
// limit, a run past 1 KiB crosses a lane fold, odd ends take the tail path.
TEST(Helpers, ByteSumOfLongRuns) {
    std::vector<UINT8> bytes(0x3000);
    UINT32 seed = 7;
    for (UINT8& b : bytes) b = static_cast<UINT8>((seed = seed * 1103515245u + 12345u) >> 16);
    std::vector<UINT8> ones(0x3000, 0xFF);
    for (const std::vector<UINT8>* data : {&bytes, &ones}) {
        for (UINT32 start : {0u, 1u, 3u, 7u}) {
            for (UINT32 length : {7u, 8u, 9u, 1023u, 1024u, 1025u, 1031u, 0x2000u, 0x2FF0u}) {
                unsigned counted = 0;
                for (UINT32 i = 0; i < length; ++i) counted += (*data)[start + i];
                EXPECT_EQ(YOZ_CalCheckSum8(data->data() + start, length), static_cast<UINT8>(counted))
                    << "start " << start << " length " << length << " ff " << (data == &ones);
            }
        }
    }
}

TEST(Helpers, Checksums) {
    const UINT8 bytes[] = {0x80, 0x90, 0x01, 0xEF};
    EXPECT_EQ(YOZ_CalCheckSum8(bytes, 4), 0x00);
    EXPECT_EQ(YOZ_CalCheckSum8(bytes, 3), 0x11);
    EXPECT_EQ(YOZ_CalCheckSum8(bytes, 0), 0);
    // Words are little-endian: 0x9080 + 0xEF01 wraps to 0x7F81.
    UINT16 words[2];
    memcpy(words, bytes, 4);
    EXPECT_EQ(YOZ_CalCheckSum16(words, 2), 0x7F81);
    EXPECT_EQ(YOZ_CalCheckSum16(words, 1), 0x9080);
}

TEST(Helpers, DigitValues) {
    EXPECT_EQ(YOZ_Conv_GetNum('0'), 0);
    EXPECT_EQ(YOZ_Conv_GetNum('9'), 9);
    EXPECT_EQ(YOZ_Conv_GetNum(':'), 10);
    EXPECT_EQ(YOZ_Conv_GetNum('A'), 10);
    EXPECT_EQ(YOZ_Conv_GetNum('f'), 15);
    EXPECT_EQ(YOZ_Conv_GetNum('Z'), 35);
    EXPECT_EQ(YOZ_Conv_GetNum('-'), 0);
    EXPECT_TRUE(YOZ_Isxdigit('a'));
    EXPECT_TRUE(YOZ_Isxdigit('F'));
    EXPECT_TRUE(YOZ_Isxdigit('7'));
    EXPECT_FALSE(YOZ_Isxdigit('g'));
    EXPECT_FALSE(YOZ_Isxdigit(':'));
}

TEST(Helpers, GuidText) {
    EFI_GUID g{};
    ASSERT_EQ(YOZ_Conv_StrtoGUID("05CA01FC0FC111DC901100173153EBA8", &g), eEID_NO_ERROR);
    EXPECT_EQ(g.Data1, 0x05CA01FCu);
    EXPECT_EQ(g.Data2, 0x0FC1);
    EXPECT_EQ(g.Data3, 0x11DC);
    const UINT8 d4[8] = {0x90, 0x11, 0x00, 0x17, 0x31, 0x53, 0xEB, 0xA8};
    EXPECT_EQ(memcmp(g.Data4, d4, 8), 0);

    ASSERT_EQ(YOZ_Conv_StrtoGUID("0000000000000000000000000000000a", &g), eEID_NO_ERROR);
    EXPECT_EQ(g.Data1, 0u);
    EXPECT_EQ(g.Data2, 0);
    EXPECT_EQ(g.Data3, 0);
    const UINT8 last[8] = {0, 0, 0, 0, 0, 0, 0, 0x0A};
    EXPECT_EQ(memcmp(g.Data4, last, 8), 0);

    // Anything but exactly 32 hex digits is refused and leaves the GUID alone.
    const EFI_GUID before = g;
    for (const char* bad : {"12", "", "05CA01FC0FC111DC901100173153EBA", "05CA01FC0FC111DC901100173153EBA80",
                            "05CA01FC0FC111DC901100173153EBAG", "05CA01FC0FC111DC901100173153EBA:",
                            "05CA01FC-0FC1-11DC-9011-00173153EBA8", "Z5CA01FC0FC111DC901100173153EBA8",
                            " 5CA01FC0FC111DC901100173153EBA8"}) {
        EXPECT_EQ(YOZ_Conv_StrtoGUID(bad, &g), eEID_COMMAND_LINE) << bad;
        EXPECT_EQ(memcmp(&g, &before, sizeof(g)), 0) << bad;
    }
    EXPECT_EQ(YOZ_Conv_StrtoGUID(nullptr, &g), eEID_COMMAND_LINE);
}

TEST(Helpers, HexText) {
    char a[] = "1f";
    EXPECT_EQ(YOZ_HexStringToValue(a), 0x1Fu);
    EXPECT_STREQ(a, "1F");
    char b[] = "1g";
    EXPECT_EQ(YOZ_HexStringToValue(b), 0x10u) << "a non-digit still takes its position";
    char c[] = "ffffffff";
    EXPECT_EQ(YOZ_HexStringToValue(c), 0xFFFFFFFFu);
    // Longer than a u32 holds: the last 8 characters give the value.
    char d[] = "123456789A";
    EXPECT_EQ(YOZ_HexStringToValue(d), 0x3456789Au);
    char e[] = "";
    EXPECT_EQ(YOZ_HexStringToValue(e), 0u);
}

TEST(Helpers, GuidPrinting) {
    unit::CapturedOut out;
    const UINT8 guid[16] = {0xFC, 0x01, 0xCA, 0x05, 0xC1, 0x0F, 0xDC, 0x11,
                            0x90, 0x11, 0x00, 0x17, 0x31, 0x53, 0xEB, 0xA8};
    YOZ_PrintGuid(guid);
    YOZ_PrintGuid(nullptr);
    EXPECT_EQ(out.Text(), "05ca01fc-0fc1-11dc-901100173153eba8\n");
}

// A buffer with the firmware-ID file at `file` and its section GUID 28 bytes
// behind it (unless `withSection` is false).
std::string FidBuffer(size_t size, size_t file, bool withSection) {
    static const UINT8 kFile[16] = {0xA2, 0xD3, 0xD1, 0x3F, 0xF7, 0x99, 0x0B, 0x42,
                                    0xBC, 0x69, 0x8B, 0xB1, 0xD4, 0x92, 0xA3, 0x32};
    static const UINT8 kSection[16] = {0x75, 0x02, 0xBE, 0x2E, 0x58, 0x64, 0xF9, 0x4A,
                                       0x91, 0xED, 0xD3, 0xF4, 0xED, 0xB1, 0x00, 0xAA};
    std::string buf(size, '\xFF');
    memcpy(&buf[file], kFile, 16);
    if (withSection) memcpy(&buf[file + 28], kSection, 16);
    return buf;
}

TEST(Helpers, FirmwareIdFileSearch) {
    std::string buf = FidBuffer(0x1000, 0x200, true);
    const UINT8* p = reinterpret_cast<const UINT8*>(buf.data());
    EXPECT_EQ(YOZ_SearchFIDGuid_OffsetIn(p, 0x1000), 0x200u);

    // The file GUID without its section is passed over.
    std::string two = FidBuffer(0x1000, 0x300, true);
    std::string decoy = FidBuffer(0x1000, 0x100, false);
    memcpy(&two[0x100], &decoy[0x100], 16);
    EXPECT_EQ(YOZ_SearchFIDGuid_OffsetIn(reinterpret_cast<const UINT8*>(two.data()), 0x1000), 0x300u);

    // The last 130 bytes are not searched; a ROM smaller than that has none.
    std::string tail = FidBuffer(0x400, 0x400 - 130, true);
    EXPECT_EQ(YOZ_SearchFIDGuid_OffsetIn(reinterpret_cast<const UINT8*>(tail.data()), 0x400), 0u);
    std::string near = FidBuffer(0x400, 0x400 - 131, true);
    EXPECT_EQ(YOZ_SearchFIDGuid_OffsetIn(reinterpret_cast<const UINT8*>(near.data()), 0x400), 0x400u - 131);
    EXPECT_EQ(YOZ_SearchFIDGuid_OffsetIn(p, 129), 0u);
    EXPECT_EQ(YOZ_SearchFIDGuid_OffsetIn(nullptr, 0x1000), 0u);

    // The plain form searches the system ROM's size.
    UINT32 saved = gRomSize;
    gRomSize = 0x1000;
    EXPECT_EQ(YOZ_SearchFIDGuid_Offset(p), 0x200u);
    gRomSize = 0x200;
    EXPECT_EQ(YOZ_SearchFIDGuid_Offset(p), 0u);
    gRomSize = saved;
}

TEST(Helpers, OemErrorPrinterIsSilent) {
    unit::CapturedOut out;
    EXPECT_EQ(YOZ_OEM_ErrorPrintf(eEID_PASSWORD_ERROR), eEID_PASSWORD_ERROR);
    EXPECT_EQ(out.Text(), "");
    EXPECT_EQ(YOZ_GUIControl(), 0);
}

}  // namespace
