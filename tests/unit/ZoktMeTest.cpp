// ME flash requests, the region table and region/update-library requests,
// and the single-binary analysis, run in-process against the emulated
// firmware whose ME region shares flash.bin with the BIOS.
#include <gtest/gtest.h>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include "CaptureOut.h"
#include "E2eHarness.h"
#include "HuxCore.h"
#include "RomInfo.h"
#include "TKXPhysMem.h"
#include "UnitMachine.h"
#include "ZoktUnit.h"
#include "ZoktFormat.h"
#include "ZoktMe.h"

namespace {

using unit::CaptureOut;
using unit::g_Out;

std::vector<std::string>& g_Calls = unit::g_ProgressCalls;
const auto Progress = unit::RecordProgress;

std::vector<std::string> MeTrace() {
    std::vector<std::string> out;
    for (const std::string& l : unitmachine::Trace()) {
        size_t at = l.find(" zokt=0x55 ");
        if (at != std::string::npos) out.push_back(l.substr(at + 11));
    }
    return out;
}

const UINT32 kFlashSize = 0x100000;

class ZoktMe : public ::testing::Test {
protected:
    UINT8* buf = nullptr;
    WriteOutT savedOut = nullptr;
    void SetUp() override {
        ASSERT_TRUE(unitmachine::Reset());
        e2e::WriteFile(unitmachine::File("flash.bin"), std::string(kFlashSize, '\xff'));
        buf = unitmachine::InstallInterfaceBuffer();
        ASSERT_NE(buf, nullptr);
        savedOut = WriteOut;
        WriteOut = CaptureOut;
        ZOKT_ME_Release();
        g_ME_NewInterface = 0;
        g_ME_LastError = eEID_NO_ERROR;
        FreeMem(g_MER_BlkDataInfo);
        g_MER_BlkDataInfo = nullptr;
        gRomSize = kFlashSize;
        Machine({});
    }
    void TearDown() override {
        WriteOut = savedOut;
        ZOKT_ME_Release();
    }
    void Machine(const std::vector<std::string>& lines, UINT16 version = 0x210) {
        std::vector<std::string> all = lines;
        char v[32];
        snprintf(v, sizeof(v), "zokt_version=0x%x", version);
        all.push_back(v);
        unitmachine::Settings(all);
        g_ZoktVer = 0;
        ASSERT_EQ(Zokt_GetVer(), version);
        unitmachine::ClearTrace();
        g_Out.clear();
        g_Calls.clear();
    }
    std::string Flash(UINT32 at, UINT32 size) {
        return e2e::ReadFile(unitmachine::File("flash.bin")).substr(at, size);
    }
};

std::vector<UINT8> Pattern(UINT32 size, UINT8 seed) {
    std::vector<UINT8> data(size);
    for (UINT32 i = 0; i < size; ++i) data[i] = static_cast<UINT8>(seed + i * 3 + (i >> 9));
    return data;
}

TEST_F(ZoktMe, InformationAndSupportChecks) {
    Machine({"me_runtime_base=0x1000", "me_runtime_length=0x7000", "me_bios_base=0x8000", "me_bios_length=0xf8000"});
    EXPECT_EQ(ZOKT_ME_Ignition_CheckSupport(), 0);
    EXPECT_EQ(ZOKT_ME_GetLastError(), eEID_ME_IGN_STOP);
    ZOKT_TC_55_MEUD_STRUCT* info = nullptr;
    EXPECT_EQ(ZOKT_ME_GetMEInfo(&info), 0);
    EXPECT_EQ(ZOKT_ME_CheckSupport(), 1);
    ASSERT_EQ(ZOKT_ME_GetMEInfo(&info), 1);
    EXPECT_EQ(info->ReturnStatus, 1);
    EXPECT_EQ(info->SubFunction, eMFD_ME_INIT);
    EXPECT_EQ(UINT32{info->RuntimeBase}, 0x1000u);
    EXPECT_EQ(UINT32{info->RuntimeLength}, 0x7000u);
    EXPECT_EQ(UINT32{info->BiosRegionBase}, 0x8000u);
    EXPECT_EQ(UINT32{info->BiosRegionLength}, 0xf8000u);
    EXPECT_EQ(MeTrace(), (std::vector<std::string>{"ver=0x0210 sub=0x00 size=0x001e done=0 rs=0x0001",
                                                   "ver=0x0210 sub=0x03 size=0x001e done=1 rs=0x0001"}));
    EXPECT_EQ(ZOKT_ME_Full_FlashStart(), 1);
    EXPECT_EQ(ZOKT_ME_Full_FlashEnd(), 1);
    EXPECT_EQ(ZOKT_ME_GetMEInfo(&info), 0) << "the end frees the information";

    Machine({"me_support=0"});
    EXPECT_EQ(ZOKT_ME_CheckSupport(), 0);
    EXPECT_EQ(ZOKT_ME_GetLastError(), eEID_ME_STOP);
    EXPECT_EQ(ZOKT_ME_Ignition_FlashStart(), 0);
    EXPECT_EQ(ZOKT_ME_GetLastError(), eEID_ME_IGN_STOP);
}

TEST_F(ZoktMe, ShortRecordFormBelowVersion210) {
    Machine({}, 0x20F);
    EXPECT_EQ(ZOKT_ME_CheckSupport(), 1);
    EXPECT_EQ(Zokt_RecordSize(ZOKT_EXT_TC_MEUD), 18);
    std::vector<UINT8> data = Pattern(0x1000, 1);
    EXPECT_EQ(ZOKT_ME_Write(0x2000, 0x1000, data.data(), nullptr), 0) << "the short form has no address fields";
    EXPECT_EQ(ZOKT_ME_GetLastError(), eEID_ME_STOP);
    const UINT8 head[0x2C] = {0x5A, 0x4F, 0x4B, 0x54, 0x0F, 0x02, 0x2C, 0x00, 0x00, 0x00, 0x00, 0x04, 0x01, 0x00, 0x12,
                              0x00, 0x04, 0x00, 0x55, 0x01, 0x12, 0x00, 0x00, 0x07, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                              0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xAA, 0x55, 0xFF, 0xFF};
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 0x2C), std::string(reinterpret_cast<const char*>(head), 0x2C));
    EXPECT_EQ(Flash(0x2000, 0x1000), std::string(0x1000, '\xff'));
}

TEST_F(ZoktMe, EraseWriteAndReadBackWithTheirTrueSizes) {
    std::vector<UINT8> data = Pattern(0x1800, 9);
    // Only inside an update the firmware has started.
    std::vector<UINT8> back(0x1000, 0);
    EXPECT_EQ(ZOKT_ME_Erase(0x10000, 0x10000, nullptr), 0);
    EXPECT_EQ(ZOKT_MER_ME_DUMP(back.data(), 0x11000, 0x800, nullptr), 0u);
    for (const std::string& l : MeTrace()) EXPECT_NE(l.find(" update=none done=0"), std::string::npos) << l;
    ASSERT_EQ(ZOKT_ME_Full_FlashStart(), 1);
    EXPECT_EQ(e2e::ReadFile(unitmachine::File("state/me_update")), "full");
    unitmachine::ClearTrace();
    EXPECT_EQ(ZOKT_ME_Erase(0x10000, 0x10000, Progress), 1);
    EXPECT_EQ(ZOKT_ME_Write(0x10000, 0x1800, data.data(), Progress), 1);
    EXPECT_EQ(Flash(0x10000, 0x1800), std::string(data.begin(), data.end())) << "the short tail is written too";
    EXPECT_EQ(ZOKT_MER_ME_DUMP(back.data(), 0x11000, 0x800, Progress), 0x800u);
    EXPECT_EQ(memcmp(back.data(), data.data() + 0x1000, 0x800), 0);
    EXPECT_EQ(back[0x800], 0) << "only what was asked is copied";
    EXPECT_EQ(g_Calls, (std::vector<std::string>{"10000 100000 10000", "10000 100000 1000", "11000 100000 800",
                                                 "800 11000 0"}));
    std::vector<std::string> fields;
    for (const std::string& l : MeTrace()) fields.push_back(l.substr(11, l.find(" rs=") - 11));
    EXPECT_EQ(fields, (std::vector<std::string>{"sub=0x06 size=0x001e addr=0x00010000 size=0x00010000 done=1",
                                                "sub=0x07 size=0x001e addr=0x00010000 size=0x00001000 done=1",
                                                "sub=0x07 size=0x001e addr=0x00011000 size=0x00000800 done=1",
                                                "sub=0x08 size=0x001e addr=0x00011000 size=0x00000800 done=1"}));

    // The flash is NOR flash: a write without an erase only clears bits.
    std::vector<UINT8> over(0x1000, 0x0F);
    EXPECT_EQ(ZOKT_ME_Write(0x10000, 0x1000, over.data(), nullptr), 1);
    std::string anded(0x1000, '\0');
    for (UINT32 i = 0; i < 0x1000; ++i) anded[i] = static_cast<char>(data[i] & 0x0F);
    EXPECT_EQ(Flash(0x10000, 0x1000), anded);

    Machine({"me_protect=0x20000:0x1000"});
    EXPECT_EQ(ZOKT_ME_Erase(0x20000, 0x1000, nullptr), 0);
    EXPECT_EQ(ZOKT_ME_GetLastError(), eEID_ME_STOP);
    EXPECT_EQ(ZOKT_ME_Erase(0x30000, 0x20000, nullptr), 0) << "more than 0x10000 at once is refused";
    EXPECT_EQ(ZOKT_MER_ME_DUMP(back.data(), 0x11000, 0x20000, nullptr), 0u) << "larger than the buffer";
}

TEST_F(ZoktMe, VersionQueryForms) {
    Machine({"me_new_interface=0"});
    EXPECT_EQ(ZOKT_ME_VersionCheck(), 0);
    EXPECT_EQ(g_ME_NewInterface, 0);
    const UINT8 head[0x32] = {0x5A, 0x4F, 0x4B, 0x54, 0x10, 0x02, 0x32, 0x00, 0x00, 0x00, 0x00, 0x04, 0x01,
                              0x00, 0x12, 0x00, 0x04, 0x00, 0x55, 0x01, 0x18, 0x00, 0x00, 0x0B, 0x00, 0x00,
                              0x00, 0x05, 0x09, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                              0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xAA, 0x55, 0xFF, 0xFF};
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 0x32), std::string(reinterpret_cast<const char*>(head), 0x32))
        << "the answer leaves byte 0 at 0";
    Machine({});
    EXPECT_EQ(ZOKT_ME_VersionCheck(), 1);
    EXPECT_EQ(g_ME_NewInterface, 1);
    EXPECT_EQ(MeTrace(), std::vector<std::string>{"ver=0x0210 sub=0x0b size=0x0018 query=ok done=1 rs=0x0001"});
    Machine({"me_support=0"});
    EXPECT_EQ(ZOKT_ME_VersionCheck(), 0);
    EXPECT_EQ(ZOKT_ME_GetLastError(), eEID_ME_INFO_NO_SUPPORT);
}

std::string Regions(int n, UINT8 lockedId = 0xEE) {
    std::string s;
    for (int i = 0; i < n; ++i) {
        char item[128];
        UINT8 id = static_cast<UINT8>(i == 2 ? 5 : i == 5 ? 2 : i);  // entry 2 is the BIOS
        snprintf(item, sizeof(item), "%sR%02dXY:help text %d:0x%x:0x%x:%u:%u", i ? ";" : "", i, i, i * 0x1000, 0x1000 + i,
                 id, id == lockedId ? 1 : 0);
        s += item;
    }
    return s;
}

TEST_F(ZoktMe, RegionTableFillsTheRecordAndIsBounded) {
    Machine({"me_regions=" + Regions(17), "me_region_count=40"});
    ASSERT_EQ(ZOKT_MER_Load(), 1);
    EXPECT_EQ(ZOKT_MER_GetTotalCmdNum(), 17) << "the firmware's count is capped";
    EXPECT_STREQ(ZOKT_MER_GetCmdString(16), "R16X") << "four characters, terminated";
    EXPECT_STREQ(ZOKT_MER_GetCmdHelp(16), "help text 16");
    EXPECT_EQ(ZOKT_MER_GetCmdID(2), ME_BIOS_REGION_ID);
    EXPECT_EQ(ZOKT_MER_GetStartAddr(16), 0x10000u);
    EXPECT_EQ(ZOKT_MER_GetBlockSize(16), 0x1010u);
    EXPECT_EQ(ZOKT_MER_GetCmdString(17), nullptr);
    EXPECT_EQ(ZOKT_MER_GetBlockSize(17), 0u);
    UINT32 total = 0;
    for (int i = 0; i < 17; ++i) total += i == 2 ? 0 : 0x1000 + i;
    EXPECT_EQ(g_MER_BlkDataInfo->TotalSize, total);
    EXPECT_EQ(MeTrace(), std::vector<std::string>{"ver=0x0210 sub=0x09 size=0x0532 count=0x0028 done=1 rs=0x0001"});
    EXPECT_EQ(memcmp(buf + 0x16 + 4 + 16 * 78, "R16X", 4), 0) << "the 17th entry ends the 0x532-byte record";

    Machine({});
    EXPECT_EQ(ZOKT_MER_Load(), 0) << "no table";
    EXPECT_EQ(ZOKT_ME_GetLastError(), eEID_ME_INFO_NO_SUPPORT);
    EXPECT_STREQ(ZOKT_MER_GetRegionName(3), "MER");
    EXPECT_STREQ(ZOKT_MER_GetRegionName(5), "Unknown");
    EXPECT_STREQ(ZOKT_MER_GetRegionName(16), "2nd BIOS");
    EXPECT_STREQ(ZOKT_MER_GetRegionName(17), "Unknown");
}

TEST_F(ZoktMe, RegionUpdatePushesPagesAndPollsWithASpinner) {
    Machine({"me_regions=" + Regions(3, 1), "me_call_again=3", "me_push_call_again=1"});
    ASSERT_EQ(ZOKT_MER_Load(), 1);
    ASSERT_EQ(ZOKT_ME_Full_FlashStart(), 1);
    ASSERT_EQ(ZOKT_MER_Init(), 1);
    UINT32 total = 0x1000 + 0x1001;
    std::vector<UINT8> data = Pattern(total, 0x40);
    ASSERT_EQ(ZOKT_MER_PushData(data.data(), Progress), 1);
    EXPECT_EQ(e2e::ReadFile(unitmachine::File("state/me_push.bin")), std::string(data.begin(), data.end()))
        << "the partial last page is sent with its true size";
    EXPECT_EQ(g_Calls, (std::vector<std::string>{"fffffffe 2001 0", "0 2001 1000", "fffffffe 2001 0",
                                                 "1000 2001 1000", "fffffffe 2001 0", "2000 2001 1000",
                                                 "fffffffe 2001 0"}));
    g_Out.clear();
    EXPECT_EQ(ZOKT_MER_Update(0), 1);
    EXPECT_EQ(g_Out, " - Update FDT ............ |\r - Update FDT ............ -\r - Update FDT ............ \\\r");
    EXPECT_EQ(Flash(0, 0x1000), std::string(data.begin(), data.begin() + 0x1000))
        << "the final answer writes the region from the pushed data at its start";
    EXPECT_EQ(ZOKT_MER_Update(1), 0) << "a locked region is refused";
    EXPECT_EQ(ZOKT_ME_GetLastError(), eEID_ME_PROCESS_ERROR);
    EXPECT_EQ(ZOKT_MER_Release(), 1);

    std::vector<std::string> requests;
    for (const std::string& l : MeTrace()) {
        size_t at = l.find(" req=");
        if (at != std::string::npos) requests.push_back(l.substr(at + 1, 53) + l.substr(l.find(" status="), 14));
    }
    EXPECT_EQ(requests, (std::vector<std::string>{
                            "req=0x01 region=0xff first=0x00000003 size=0x00000000 status=0x0000",
                            "req=0x02 region=0xff first=0x00001000 size=0x00001000 status=0x0002",
                            "req=0x02 region=0xff first=0x00001000 size=0x00001000 status=0x0000",
                            "req=0x02 region=0xff first=0x00001000 size=0x00001000 status=0x0002",
                            "req=0x02 region=0xff first=0x00001000 size=0x00001000 status=0x0000",
                            "req=0x02 region=0xff first=0x00001000 size=0x00000001 status=0x0002",
                            "req=0x02 region=0xff first=0x00001000 size=0x00000001 status=0x0000",
                            "req=0x04 region=0x00 first=0x00000000 size=0x00000000 status=0x0002",
                            "req=0x08 region=0x00 first=0x00000000 size=0x00000000 status=0x0002",
                            "req=0x08 region=0x00 first=0x00000000 size=0x00000000 status=0x0002",
                            "req=0x08 region=0x00 first=0x00000000 size=0x00000000 status=0x0000",
                            "req=0x04 region=0x01 first=0x00000000 size=0x00000000 status=0x0001",
                            "req=0x10 region=0xff first=0x00000000 size=0x00000000 status=0x0000"}))
        << "ALLOC_SMM asks for whole pages, rounded up";
}

TEST_F(ZoktMe, UpdateLibraryRequestsAndMessages) {
    Machine({"me_region_text=Region 50%s busy"});
    UINT8 callAgain = 9;
    EXPECT_EQ(ZOKT_MER_INTERFACE(nullptr, 0, 0xFF, ME_REQUEST_ALLOC_SMM, 3, 0, callAgain), eEID_ME_PROCESS_ERROR)
        << "no session outside an update the firmware has started";
    ASSERT_EQ(ZOKT_ME_Full_FlashStart(), 1);
    unitmachine::ClearTrace();
    g_Out.clear();
    ASSERT_EQ(ZOKT_MEUL_Init(0x2800), 1);
    EXPECT_EQ(g_Out, " - Region 50%s busy\n");
    std::vector<UINT8> data = Pattern(0x2800, 7);
    ASSERT_EQ(ZOKT_MEUL_PushData(data.data(), 0x2800, Progress), 1);
    EXPECT_EQ(g_Calls, (std::vector<std::string>{"0 2800 1000", "1000 2800 1000", "2000 2800 800", "ffffffff 0 0"}));
    EXPECT_EQ(e2e::ReadFile(unitmachine::File("state/me_push.bin")), std::string(data.begin(), data.end()));
    EXPECT_EQ(ZOKT_MEUL_Update(), 1);
    EXPECT_EQ(ZOKT_MEUL_OnlyME_Use_Capsule_Update(0x2800), 1);
    EXPECT_EQ(ZOKT_MEUL_BIOS_ME_Use_Capsule_Update(0x9000), 1);
    std::vector<std::string> codes;
    for (const std::string& l : MeTrace()) codes.push_back(l.substr(l.find(" req=") + 5, 4) + l.substr(l.find(" first="), 17));
    EXPECT_EQ(codes, (std::vector<std::string>{"0x01 first=0x00000003", "0x02 first=0x00001000", "0x02 first=0x00001000",
                                               "0x02 first=0x00001000", "0x20 first=0x00000000", "0x03 first=0x00002800",
                                               "0x05 first=0x00009000"}));
    // A transfer whose data sum does not match is refused.
    Machine({"me_region_fail=0x20"});
    EXPECT_EQ(ZOKT_MEUL_Update(), 0);
    EXPECT_EQ(ZOKT_ME_GetLastError(), eEID_ME_PROCESS_ERROR);
    callAgain = 9;
    EXPECT_EQ(ZOKT_MER_INTERFACE(data.data(), 0x1000, 0xFF, ME_REQUEST_TRANSFER_DATA, 0x1000, 0, callAgain),
              eEID_NO_ERROR);
    EXPECT_EQ(callAgain, 0);
    ZOKT_TC_55_MER_STRUCT* rec = reinterpret_cast<ZOKT_TC_55_MER_STRUCT*>(buf + 0x16);
    EXPECT_EQ(rec->DataSum, CalculateSum16(data.data(), 0x1000));
    EXPECT_EQ(rec->DataAddress, unitmachine::kIntrBufPhys + 0x400u);
    EXPECT_EQ(rec->DataEnd, unitmachine::kIntrBufPhys + 0x1400u);
    Machine({"me_support=0"});
    EXPECT_EQ(ZOKT_MER_INTERFACE(nullptr, 0, 0xFF, ME_REQUEST_FREE_SMM, 0, 0, callAgain), eEID_ME_INFO_NO_SUPPORT);
    const UINT8 sum[5] = {0x01, 0x02, 0x03, 0x04, 0x05};
    EXPECT_EQ(CalculateSum16(sum, 5), 0x0201 + 0x0403 + 0x05);
}

// The update-library session as the firmware keeps it: no more pages than
// were allocated, no page after the release; the update writes the pushed
// data at once at me_meul_addr, within the ME area and the flash; a capsule
// push is only recorded, and the release forgets it.
TEST_F(ZoktMe, UpdateLibrarySessionLimitsAndCapsuleRecord) {
    Machine({"me_runtime_base=0x1000", "me_bios_base=0x20000", "me_call_again=3"});
    std::vector<UINT8> data = Pattern(0x3000, 0x21);
    const std::string erased = Flash(0, kFlashSize);
    ASSERT_EQ(ZOKT_ME_Full_FlashStart(), 1);
    ASSERT_EQ(ZOKT_MEUL_Init(0x1800), 1);
    EXPECT_EQ(ZOKT_MEUL_PushData(data.data(), 0x3000, Progress), 0) << "a third page is beyond the session";
    EXPECT_EQ(ZOKT_ME_GetLastError(), eEID_ME_PROCESS_ERROR);
    EXPECT_EQ(g_Calls, (std::vector<std::string>{"0 3000 1000", "1000 3000 1000", "2000 3000 1000"}))
        << "a push that stopped is not closed as done";
    EXPECT_EQ(ZOKT_MEUL_Update(), 1) << "no call-again polling for the update library";
    EXPECT_EQ(Flash(0x1000, 0x2000), std::string(data.begin(), data.begin() + 0x2000));
    EXPECT_EQ(Flash(0, 0x1000) + Flash(0x3000, kFlashSize - 0x3000),
              erased.substr(0, 0x1000) + erased.substr(0x3000));
    std::vector<std::string> trace = MeTrace();
    ASSERT_FALSE(trace.empty());
    EXPECT_NE(trace.back().find("req=0x20 region=0xff first=0x00000000 size=0x00000000 write=0x00001000,0x00002000 "
                                "status=0x0000"),
              std::string::npos)
        << trace.back();
    EXPECT_EQ(ZOKT_MER_Release(), 1);
    UINT8 callAgain = 0;
    EXPECT_EQ(ZOKT_MER_INTERFACE(data.data(), 0x1000, 0xFF, ME_REQUEST_TRANSFER_DATA, 0x1000, 0, callAgain),
              eEID_ME_PROCESS_ERROR)
        << "no page after the release";

    // Data that would reach past the BIOS region's base, or past the flash's
    // end when that base lies below the address, are not written.
    for (const char* addr : {"me_meul_addr=0x1F000", "me_meul_addr=0xFF000"}) {
        Machine({"me_runtime_base=0x1000", "me_bios_base=0x20000", addr});
        ASSERT_EQ(ZOKT_MEUL_Init(0x2000), 1);
        ASSERT_EQ(ZOKT_MEUL_PushData(data.data(), 0x2000, nullptr), 1);
        EXPECT_EQ(ZOKT_MEUL_Update(), 0) << addr;
        EXPECT_EQ(ZOKT_ME_GetLastError(), eEID_ME_PROCESS_ERROR);
        EXPECT_EQ(Flash(0x1F000, 0x1000) + Flash(0xFF000, 0x1000), erased.substr(0x1F000, 0x1000) + erased.substr(0xFF000, 0x1000))
            << addr;
    }

    Machine({"me_runtime_base=0x1000", "me_bios_base=0x20000"});
    ASSERT_EQ(ZOKT_MEUL_Init(0x1000), 1);
    EXPECT_EQ(ZOKT_MEUL_Update(), 0) << "nothing pushed";
    ASSERT_EQ(ZOKT_MEUL_Init(0x2800), 1);
    ASSERT_EQ(ZOKT_MEUL_PushData(data.data(), 0x2000, nullptr), 1);
    EXPECT_EQ(ZOKT_MEUL_Update(), 0) << "two of the three pages the session was opened for";
    EXPECT_EQ(Flash(0x1000, 0x2000), std::string(data.begin(), data.begin() + 0x2000)) << "as the first update left it";
    EXPECT_EQ(ZOKT_MEUL_OnlyME_Use_Capsule_Update(0), 0) << "an empty capsule";
    EXPECT_EQ(ZOKT_MEUL_BIOS_ME_Use_Capsule_Update(0), 0) << "an empty capsule";
    EXPECT_EQ(e2e::ReadFile(unitmachine::File("state/me_capsule")), "");
    ASSERT_EQ(ZOKT_MEUL_OnlyME_Use_Capsule_Update(0x1800), 1);
    EXPECT_EQ(e2e::ReadFile(unitmachine::File("state/me_capsule")), "only-me 0x1800");
    EXPECT_EQ(ZOKT_MEUL_PushData(data.data(), 0x2000, nullptr), 1) << "0x1800 bytes make two pages";
    EXPECT_EQ(ZOKT_MEUL_PushData(data.data(), 0x1000, nullptr), 0);
    EXPECT_EQ(ZOKT_MEUL_Update(), 0) << "a capsule push is the firmware's to apply later";
    EXPECT_EQ(Flash(0x1000, 0x2000), std::string(data.begin(), data.begin() + 0x2000)) << "as the first update left it";
    ASSERT_EQ(ZOKT_MEUL_BIOS_ME_Use_Capsule_Update(0x9000), 1);
    EXPECT_EQ(e2e::ReadFile(unitmachine::File("state/me_capsule")), "bios-me 0x9000");
    ASSERT_EQ(ZOKT_MER_Release(), 1);
    EXPECT_EQ(e2e::ReadFile(unitmachine::File("state/me_capsule")), "");
}

// A file: descriptor signature at `descriptorAt` (none when negative) and
// "$FID" at `fidAt` (none when 0).
std::vector<UINT8> MeFile(UINT32 size, int descriptorAt, UINT32 fidAt) {
    std::vector<UINT8> file(size, 0xFF);
    if (descriptorAt >= 0) {
        const UINT8 sig[4] = {0x5A, 0xA5, 0xF0, 0x0F};
        memcpy(file.data() + descriptorAt, sig, 4);
    }
    if (fidAt != 0) memcpy(file.data() + fidAt, "$FID", 4);
    return file;
}

TEST_F(ZoktMe, DescriptorCheck) {
    std::vector<UINT8> file = MeFile(0x1000, 0x10, 0);
    EXPECT_EQ(ZOKT_ME_CheckMEData(file.data(), 0x3FF), 0);
    EXPECT_EQ(ZOKT_ME_CheckMEData(file.data(), 0x1000), 1);
    ZOKT_ME_Release();
    std::vector<UINT8> late = MeFile(0x1000, 0x1C, 0);
    EXPECT_EQ(ZOKT_ME_CheckMEData(late.data(), 0x1000), 0) << "only offsets 0 to 0x1B count";
    std::vector<UINT8> edge = MeFile(0x1000, 0x1B, 0);
    EXPECT_EQ(ZOKT_ME_CheckMEData(edge.data(), 0x1000), 1);
}

TEST_F(ZoktMe, BiosPartOfASingleBinary) {
    Machine({"me_runtime_length=0x10000", "me_bios_base=0x20000", "me_bios_length=0x20000"});
    ASSERT_EQ(ZOKT_ME_CheckSupport(), 1);
    std::vector<UINT8> file = MeFile(0x40000, 0x10, 0x3F000);
    ASSERT_EQ(ZOKT_ME_CheckMEData(file.data(), 0x40000), 1);
    UINT8* bios = nullptr;
    UINT32 size = 0;
    ASSERT_EQ(ZOKT_ME_GetBIOSAddrSeting(&bios, size), 1);
    EXPECT_EQ(bios, file.data() + 0x20000);
    EXPECT_EQ(size, 0x20000u);
    EXPECT_EQ(ZOKT_ME_GetMEBufferSize(), 0x10000u);
    EXPECT_EQ(g_Out, " - ME Data Size checking . ok\n");
    EXPECT_EQ(ZOKT_ME_BufferISSingleBin(), 0);
    EXPECT_EQ(ZOKT_ME_GetBIOSAddrSeting(&bios, size), 1);
    EXPECT_EQ(g_Out, " - ME Data Size checking . ok\n") << "analysed once";

    // No "$FID" above the BIOS base.
    ZOKT_ME_Release();
    ASSERT_EQ(ZOKT_ME_CheckSupport(), 1);
    g_Out.clear();
    std::vector<UINT8> noFid = MeFile(0x40000, 0x10, 0x1000);
    ASSERT_EQ(ZOKT_ME_CheckMEData(noFid.data(), 0x40000), 1);
    EXPECT_EQ(ZOKT_ME_GetBIOSAddrSeting(&bios, size), 0);
    EXPECT_EQ(ZOKT_ME_GetLastError(), eEID_ANALYZE_ROM_IMG);
    EXPECT_EQ(g_Out, " - ME Data Size checking . bad\n");

    // A file too short for the BIOS region the firmware names.
    ZOKT_ME_Release();
    ASSERT_EQ(ZOKT_ME_CheckSupport(), 1);
    std::vector<UINT8> shortFile = MeFile(0x30000, 0x10, 0x2F000);
    ASSERT_EQ(ZOKT_ME_CheckMEData(shortFile.data(), 0x30000), 1);
    EXPECT_EQ(ZOKT_ME_GetBIOSAddrSeting(&bios, size), 0);
    EXPECT_EQ(ZOKT_ME_GetLastError(), eEID_ANALYZE_ME_DATA);
}

TEST_F(ZoktMe, BiosPartFromTheRegionTableAndPlainFiles) {
    Machine({"me_runtime_length=0x10000", "me_bios_base=0x1000", "me_bios_length=0x1000",
             "me_regions=FDT:d:0:0x1000:0:0;MER:m:0x1000:0x3000:3:0;BIOS:b:0x4000:0x4000:5:0"});
    ASSERT_EQ(ZOKT_ME_VersionCheck(), 1);
    ASSERT_EQ(ZOKT_MER_Load(), 1);
    ASSERT_EQ(ZOKT_ME_CheckSupport(), 1);
    std::vector<UINT8> file = MeFile(0xA000, 0, 0x7800);
    ASSERT_EQ(ZOKT_ME_CheckMEData(file.data(), 0xA000), 1);
    UINT8* bios = nullptr;
    UINT32 size = 0;
    ASSERT_EQ(ZOKT_ME_GetBIOSAddrSeting(&bios, size), 1);
    EXPECT_EQ(bios, file.data() + 0x4000);
    EXPECT_EQ(size, 0x4000u);
    EXPECT_EQ(ZOKT_ME_GetMEBufferSize(), 0x4000u) << "the non-BIOS entries";

    // Without a descriptor: the whole file when the runtime length matches it.
    ZOKT_ME_Release();
    g_ME_NewInterface = 0;
    Machine({"me_runtime_length=0x8000", "me_bios_length=0x8000"});
    ASSERT_EQ(ZOKT_ME_CheckSupport(), 1);
    std::vector<UINT8> plain = MeFile(0x8000, -1, 0);
    ASSERT_EQ(ZOKT_ME_CheckMEData(plain.data(), 0x8000), 0);
    EXPECT_EQ(ZOKT_ME_BufferISSingleBin(), 1) << "before the analysis: the BIOS length is the file size";
    EXPECT_EQ(ZOKT_ME_GetBIOSAddrSeting(&bios, size), 1);
    EXPECT_EQ(ZOKT_ME_BufferISSingleBin(), 1);
}

}  // namespace

namespace {

TEST_F(ZoktMe, DebugFormsPrintTheAnswers) {
    Machine({"me_runtime_base=0x1000", "me_runtime_length=0x7000", "me_bios_base=0x8000", "me_bios_length=0xf8000",
             "me_regions=GBE%s:gbe 100%:0x1000:0x2000:2:1"});
    EXPECT_EQ(ZOKT_MER_Load_debug(), 1);
    EXPECT_EQ(ZOKT_ME_Ignition_CheckSupport_debug(), 0);
    EXPECT_EQ(ZOKT_ME_CheckSupport_debug(), 1);
    EXPECT_EQ(g_Out,
              "- [DBG] ME Total Block Count : 0x1\n"
              "- [DBG] ME Block Info : \n"
              "        [0] - Addr : 0x1000, Size : 0x2000, Type : 0x2, Lock : 0x1\n"
              "             - Cmd : \"GBE%\", Descriotion : \"gbe 100%\"\n"
              "- Dump ME Info :\n  ReturnStatus     : 0x0\n  SubFunction      : 0x0\n"
              "  RuntimeBase      : 0x00000000\n  RuntimeLength    : 0x00000000\n"
              "  BiosRegionBase   : 0x00000000\n  BiosRegionLength : 0x00000000\n"
              "- Dump ME Info :\n  ReturnStatus     : 0x1\n  SubFunction      : 0x3\n"
              "  RuntimeBase      : 0x00001000\n  RuntimeLength    : 0x00007000\n"
              "  BiosRegionBase   : 0x00008000\n  BiosRegionLength : 0x000F8000\n");
    ZOKT_TC_55_MEUD_STRUCT* info = nullptr;
    ASSERT_EQ(ZOKT_ME_GetMEInfo(&info), 1);
    EXPECT_EQ(UINT32{info->RuntimeLength}, 0x7000u);
}

}  // namespace
