// EC flash requests and the battery check, run in-process against the
// emulated firmware and its EC ROM.
#include <gtest/gtest.h>
#include <unistd.h>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include "CaptureOut.h"
#include "E2eHarness.h"
#include "HuxCore.h"
#include "UnitMachine.h"
#include "ZoktUnit.h"
#include "ZoktEc.h"
#include "ZoktFormat.h"

namespace {

using unit::CaptureOut;
using unit::g_Out;

std::vector<std::string>& g_Calls = unit::g_ProgressCalls;
const auto Progress = unit::RecordProgress;

// The EC lines of the trace, without the smi head and the descriptor fields.
std::vector<std::string> EcTrace() {
    std::vector<std::string> out;
    for (const std::string& l : unitmachine::Trace()) {
        size_t at = l.find(" zokt=0x54 ver=0x0210 ");
        if (at == std::string::npos) at = l.find(" zokt=0x5b ver=0x0210 ");
        if (at != std::string::npos) out.push_back(l.substr(at + 22));
    }
    return out;
}

std::vector<UINT8> Image(UINT32 size) {
    std::vector<UINT8> data(size);
    for (UINT32 i = 0; i < size; ++i) data[i] = static_cast<UINT8>(i * 7 + (i >> 8));
    return data;
}

class ZoktEc : public ::testing::Test {
protected:
    UINT8* buf = nullptr;
    WriteOutT savedOut = nullptr;
    void SetUp() override {
        ASSERT_TRUE(unitmachine::Reset());
        unlink(unitmachine::File("ec.bin").c_str());
        buf = unitmachine::InstallInterfaceBuffer();
        ASSERT_NE(buf, nullptr);
        savedOut = WriteOut;
        WriteOut = CaptureOut;
        Machine({});
        // Leave whatever flash mode an earlier test left entered.
        EC_LeaveFlashMode(0);
        Machine({});
    }
    void TearDown() override { WriteOut = savedOut; }
    void Machine(const std::vector<std::string>& lines) {
        unitmachine::Settings(lines);
        g_ZoktVer = 0;
        ASSERT_EQ(Zokt_GetVer(), EmuMachineVersion(lines));
        unitmachine::ClearTrace();
        g_Out.clear();
        g_Calls.clear();
    }
    static UINT16 EmuMachineVersion(const std::vector<std::string>& lines) {
        for (const std::string& l : lines)
            if (l == "zokt_version=0") return 0;
        return 0x210;
    }
    std::string EcRom(UINT32 size) {
        std::string rom = e2e::ReadFile(unitmachine::File("ec.bin"));
        return rom.substr(0, size);
    }
};

TEST_F(ZoktEc, ChecksumSumsWholeWordsOnly) {
    const UINT8 eight[8] = {1, 0, 0, 0, 2, 0, 0, 0};
    EXPECT_EQ(CalcChkSum(eight, 8), 0xFFFFFFFCu);
    const UINT8 eleven[11] = {1, 0, 0, 0, 2, 0, 0, 0, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(CalcChkSum(eleven, 11), 0xFFFFFFFCu) << "trailing bytes are not covered";
    EXPECT_EQ(CalcChkSum(eight, 3), 0xFFFFFFFFu);
    EXPECT_EQ(CalcChkSum(nullptr, 8), 0u);
    EXPECT_EQ(CalcChkSum(eight, 0), 0u);
}

TEST_F(ZoktEc, StartRequestIsByteExact) {
    Machine({"ec_support=0"});
    EXPECT_EQ(EC_EnterFlashMode(0xBEEF), eEID_EC_STOP);
    const UINT8 req[0x29] = {0x5A, 0x4F, 0x4B, 0x54, 0x10, 0x02, 0x25, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00,
                             0x12, 0x00, 0x04, 0x00, 0x54, 0x01, 0x0B, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
                             0x00, 0x00, 0x00, 0x00, 0x00, 0xAA, 0x55, 0xFF, 0xFF, 0xEF, 0xBE, 0x00, 0x00};
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 0x29), std::string(reinterpret_cast<const char*>(req), 0x29));
    EXPECT_EQ(EC_GetFlashModeStatus(), 0);
    // A START without answer may have entered the mode: leaving sends END,
    // three times in all while none is answered, and fails with the exit error.
    EXPECT_EQ(EC_LeaveFlashMode(0xBEEF), eEID_EC_EXIT_ERROR);
    EXPECT_EQ(unitmachine::Trace().size(), 4u);
}

TEST_F(ZoktEc, ImageGoesOutInPagesWithChecksumsAndAShortLastPage) {
    Machine({"ec_chip_id=0x1234"});
    std::vector<UINT8> image = Image(0x2801);
    ASSERT_EQ(EC_EnterFlashMode(0x1234), eEID_NO_ERROR);
    ASSERT_EQ(EC_WriteBlk(0x1234, 0x2801, image.data(), Progress), eEID_NO_ERROR);
    // The last page's request: data address over the terminator, data at 0x400.
    UINT64 address = 0;
    memcpy(&address, buf + 0x21, 8);
    EXPECT_EQ(address, unitmachine::kIntrBufPhys + 0x400u);
    EXPECT_EQ(memcmp(buf + 0x400, image.data() + 0x2000, 0x801), 0);
    ASSERT_EQ(EC_LeaveFlashMode(0x1234), eEID_NO_ERROR);
    EXPECT_EQ(EC_GetFlashModeStatus(), 0);

    EXPECT_EQ(EcTrace(), (std::vector<std::string>{
                             "sub=0x01 len=0x00000000 chip=0x1234 status=0x0001 rs=0x0001",
                             "sub=0x02 len=0x00001000 pos=0x00000000 data=0x00200400 status=0x0001 rs=0x0001",
                             "sub=0x02 len=0x00001000 pos=0x00001000 data=0x00200400 status=0x0001 rs=0x0001",
                             "sub=0x02 len=0x00000801 pos=0x00002000 data=0x00200400 status=0x0001 rs=0x0001",
                             "sub=0x04 len=0x00000000 status=0x0001 rs=0x0001"}))
        << "the emulator answers 0x0002 to a page whose checksum does not match";
    EXPECT_EQ(g_Calls, (std::vector<std::string>{"1000 2801 1000", "2000 2801 1000", "2801 2801 801"}));
    EXPECT_EQ(EcRom(0x2801), std::string(image.begin(), image.end()));
    EXPECT_EQ(EC_LeaveFlashMode(0x1234), eEID_NO_ERROR);
    EXPECT_EQ(EcTrace().size(), 5u) << "the mode was left by the accepted END";
}

// EC requests carry no address: after a page the firmware did not confirm
// (refused, or taken with its answer lost) the retry notice puts its
// position back and the loop starts again from the first page.
TEST_F(ZoktEc, UnconfirmedPageRestartsFromTheFirstAfterTheRetryNotice) {
    std::vector<UINT8> image = Image(0x3000);
    struct Row {
        const char* what;
        std::vector<std::string> sets;
        std::vector<std::string> pages;  // position and status of each page sent, "retry" for the notice
    } rows[] = {
        {"refused twice",
         {"ec_refuse=0x1000:2"},
         {"pos=0x00000000 status=0x0001", "pos=0x00001000 status=0x0040", "retry", "pos=0x00000000 status=0x0001",
          "pos=0x00001000 status=0x0040", "retry", "pos=0x00000000 status=0x0001", "pos=0x00001000 status=0x0001",
          "pos=0x00002000 status=0x0001"}},
        {"taken with its answer lost",
         {"zokt_faults=0x54/2#2:lost"},
         {"pos=0x00000000 status=0x0001", "pos=0x00001000 status=0x0001", "retry", "pos=0x00000000 status=0x0001",
          "pos=0x00001000 status=0x0001", "pos=0x00002000 status=0x0001"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        unlink(unitmachine::File("ec.bin").c_str());
        Machine(row.sets);
        ASSERT_EQ(EC_EnterFlashMode(0), eEID_NO_ERROR);
        ASSERT_EQ(EC_WriteBlk(0, 0x3000, image.data(), Progress), eEID_NO_ERROR);
        ASSERT_EQ(EC_LeaveFlashMode(0), eEID_NO_ERROR);
        std::vector<std::string> pages;
        for (const std::string& l : EcTrace()) {
            if (l.find("sub=0x40") == 0) pages.push_back("retry");
            if (l.find("sub=0x02") == 0) pages.push_back(l.substr(l.find("pos="), 14) + l.substr(l.find(" status="), 14));
        }
        EXPECT_EQ(pages, row.pages);
        EXPECT_EQ(EcRom(0x3000), std::string(image.begin(), image.end()));
    }
    EXPECT_EQ(g_Calls, (std::vector<std::string>{"1000 3000 1000", "1000 3000 1000", "ffffffff 0 ffffffff",
                                                 "1000 3000 1000", "2000 3000 1000", "3000 3000 1000"}))
        << "the page whose answer was lost counts for nothing; the progress line starts again";
}

TEST_F(ZoktEc, TwentyFailuresAreToleratedTheTwentyFirstEndsTheLoop) {
    std::vector<UINT8> image = Image(0x2000);
    Machine({"ec_refuse=0x1000:20"});
    ASSERT_EQ(EC_EnterFlashMode(0), eEID_NO_ERROR);
    EXPECT_EQ(EC_WriteBlk(0, 0x2000, image.data(), nullptr), eEID_NO_ERROR);
    EXPECT_EQ(EcTrace().size(), 1u + 20 * 3 + 2) << "twenty rounds of the first page, a refusal and the notice";

    unitmachine::Reset();
    buf = unitmachine::InstallInterfaceBuffer();
    Machine({"ec_refuse=0x1000:30", "ec_refuse_status=0x2"});
    ASSERT_EQ(EC_EnterFlashMode(0), eEID_NO_ERROR);
    EXPECT_EQ(EC_WriteBlk(0, 0x2000, image.data(), nullptr), eEID_EC_FILE_CHKSUM_ERROR);
    EXPECT_EQ(EcTrace().size(), 1u + 20 * 3 + 2) << "the 21st refusal ends it without a notice";

    // The retry notice puts the emulated write position back to the start.
    Machine({});
    ASSERT_EQ(EC_ReTryBlk(0, image.data()), eEID_NO_ERROR);
    ASSERT_EQ(EC_WriteBlk(0, 0x1000, image.data(), nullptr), eEID_NO_ERROR);
    EXPECT_EQ(EcTrace(), (std::vector<std::string>{
                             "sub=0x40 len=0x00000000 status=0x0001 rs=0x0001",
                             "sub=0x02 len=0x00001000 pos=0x00000000 data=0x00200400 status=0x0001 rs=0x0001"}));
}

TEST_F(ZoktEc, EcxSizeMismatchIs0xA3) {
    Machine({"ec_size_kb=64", "ec_page_size=0x2000"});
    UINT32 size = 128 * 1024;
    EXPECT_EQ(ECX_GetSize(&size, Progress), eEID_EC_FILE_ERROR);
    EXPECT_EQ(size, 64u * 1024);
    EXPECT_EQ(g_Calls, std::vector<std::string>{"0 0 80"});
    EXPECT_EQ(EcTrace(), std::vector<std::string>{"sub=0x08 len=0x00000000 status=0x0001 rs=0x0001"})
        << "the size request carries length 0; nothing else is sent";
}

TEST_F(ZoktEc, EcxFlowErasesInPageSizedPiecesWritesAndVerifies) {
    Machine({"ec_size_kb=16", "ec_page_size=0x2000"});
    std::vector<UINT8> image = Image(0x4000);
    UINT32 size = 0x4000;
    ASSERT_EQ(ECX_GetSize(&size, nullptr), eEID_NO_ERROR);
    ASSERT_EQ(ECX_EnterFlashMode(), eEID_NO_ERROR);
    ASSERT_EQ(ECX_EraseBlk(size, Progress), eEID_NO_ERROR);
    ASSERT_EQ(ECX_WriteBlk(size, image.data(), nullptr), eEID_NO_ERROR);
    ASSERT_EQ(ECX_VerifyBlk(size, image.data(), nullptr), eEID_NO_ERROR);
    ASSERT_EQ(ECX_LeaveFlashMode(), eEID_NO_ERROR);
    std::vector<std::string> subs;
    for (const std::string& l : EcTrace()) subs.push_back(l.substr(4, 4) + " " + l.substr(13, 10));
    EXPECT_EQ(subs, (std::vector<std::string>{"0x08 0x00000000", "0x01 0x00000000", "0x10 0x00002000",
                                              "0x10 0x00002000", "0x02 0x00001000", "0x02 0x00001000",
                                              "0x02 0x00001000", "0x02 0x00001000", "0x20 0x00001000",
                                              "0x20 0x00001000", "0x20 0x00001000", "0x20 0x00001000",
                                              "0x04 0x00000000"}));
    EXPECT_EQ(g_Calls, (std::vector<std::string>{"2000 4000 2000", "4000 4000 2000"}));
    EXPECT_NE(EcTrace()[1].find("chip=0x0000"), std::string::npos) << "the ECX form sends chip id 0";
    EXPECT_EQ(EcRom(0x4000), std::string(image.begin(), image.end()));

    // A page size that is no multiple of 0x1000 erases in 64 KB pieces.
    Machine({"ec_size_kb=128", "ec_page_size=0x1800"});
    size = 0x20000;
    ASSERT_EQ(ECX_GetSize(&size, nullptr), eEID_NO_ERROR);
    ASSERT_EQ(ECX_EnterFlashMode(), eEID_NO_ERROR);
    ASSERT_EQ(ECX_EraseBlk(size, Progress), eEID_NO_ERROR);
    EXPECT_EQ(g_Calls, (std::vector<std::string>{"10000 20000 10000", "20000 20000 10000"}));

    // A verify that finds other data fails; erase and verify also accept status 0.
    std::vector<UINT8> other = Image(0x1000);
    other[5] ^= 1;
    EXPECT_EQ(ECX_VerifyBlk(0x1000, other.data(), nullptr), eEID_EC_WRITE_ERROR);
    Machine({"ec_status_32=0", "ec_status_16=0"});
    EXPECT_EQ(ECX_VerifyBlk(0x1000, other.data(), nullptr), eEID_NO_ERROR);
    EXPECT_EQ(ECX_EraseBlk(0x1000, nullptr), eEID_NO_ERROR);
    EXPECT_EQ(ECX_LeaveFlashMode(), eEID_NO_ERROR);
}

TEST_F(ZoktEc, AnswerStatusMapsToItsError) {
    const std::pair<const char*, ENUM_ERR_ID> cases[] = {
        {"0x0", eEID_EC_STOP},          {"0x2", eEID_EC_FILE_CHKSUM_ERROR}, {"0x4", eEID_EC_ENTRY_ERROR},
        {"0x8", eEID_EC_ERASE_ERROR},   {"0x10", eEID_EC_INIT_ERROR},       {"0x20", eEID_EC_START_ERROR},
        {"0x40", eEID_EC_WRITE_ERROR},  {"0x80", eEID_EC_EXIT_ERROR},       {"0x100", eEID_EC_CHIPID_ERROR},
        {"0x3", eEID_EC_STOP},
    };
    for (const auto& c : cases) {
        Machine({std::string("ec_status_1=") + c.first});
        EXPECT_EQ(EC_EnterFlashMode(1), c.second) << c.first;
        EXPECT_EQ(EC_GetFlashModeStatus(), 0);
    }
    Machine({"ec_chip_id=0x5555"});
    EXPECT_EQ(EC_EnterFlashMode(0x1234), eEID_EC_CHIPID_ERROR);
    Machine({});
    std::vector<UINT8> image = Image(0x1000);
    EXPECT_EQ(EC_WriteBlk(0, 0x1000, image.data(), nullptr), eEID_EC_INIT_ERROR) << "no START accepted";
}

TEST_F(ZoktEc, NoSupportAndFirmwareText) {
    Machine({"ec_support=0"});
    EXPECT_EQ(ECX_EnterFlashMode(), eEID_EC_STOP);
    Machine({"zokt_version=0"});
    EXPECT_EQ(ECX_EnterFlashMode(), eEID_EC_STOP) << "without ZOKT the request still goes out";
    EXPECT_EQ(unitmachine::Trace().size(), 2u) << "the version is asked first";
    Machine({"ec_text=EC 100%s busy"});
    EXPECT_EQ(ECX_EnterFlashMode(), eEID_NO_ERROR);
    EXPECT_EQ(g_Out, " - EC 100%s busy \n");
    EXPECT_EQ(ECX_LeaveFlashMode(), eEID_NO_ERROR);
}

TEST_F(ZoktEc, BatteryCheckAnswers) {
    Machine({"zokt_version=0"});
    EXPECT_EQ(ZOKT_ECB_Check(), 1);
    EXPECT_EQ(ZOKT_ECB_Check_GetLastErrorID(), eEID_EC_BATTERY_CHECK_NOT_SUPPORT);
    EXPECT_TRUE(EcTrace().empty());

    Machine({"ec_battery=none"});
    EXPECT_EQ(ZOKT_ECB_Check(), 1);
    EXPECT_EQ(ZOKT_ECB_Check_GetLastErrorID(), eEID_NO_ERROR);

    Machine({"ec_battery=3"});
    EXPECT_EQ(ZOKT_ECB_Check(), 1);
    EXPECT_EQ(ZOKT_ECB_Check_GetLastErrorID(), eEID_NO_ERROR);

    Machine({"ec_battery=2", "ec_battery_text=Battery low %d"});
    EXPECT_EQ(ZOKT_ECB_Check(), 0);
    EXPECT_EQ(ZOKT_ECB_Check_GetLastErrorID(), eEID_ZOKT_OEM_ERROR);
    EXPECT_EQ(g_Out, " - Battery low %d \n");
    EXPECT_EQ(EcTrace(), std::vector<std::string>{"func=0x01 status=0x02 rs=0x0011"});
    const UINT8 record[6] = {0x01, 0x02, 0xAA, 0x55, 0xFF, 0xFF};
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf) + 0x16, 6), std::string(reinterpret_cast<const char*>(record), 6));
}

}  // namespace
