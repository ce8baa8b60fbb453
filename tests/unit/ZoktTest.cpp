// The ZOKT request format, the version handshake, the outcome the transport
// keeps of every request and the OEM command requests, run in-process
// against the emulated firmware.
#include <gtest/gtest.h>
#include "CaptureOut.h"
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include "HuxCore.h"
#include "UnitMachine.h"
#include "SecureFlash.h"
#include "ZoktEc.h"
#include "ZoktFormat.h"
#include "ZoktMe.h"
#include "ZoktMfg.h"
#include "ZoktOaKey.h"
#include "ZoktOemCmd.h"
#include "ZoktOutcome.h"
#include "ZoktVarPreserve.h"

namespace {

using unit::CaptureOut;
using unit::g_Out;

std::vector<std::string> ZoktTrace() {
    std::vector<std::string> out;
    for (const std::string& l : unitmachine::Trace()) {
        const std::string head = "smi cmd=0x26 port=0xb2 ebx=0x00200000 ";
        if (l.rfind(head, 0) == 0) out.push_back(l.substr(head.size()));
    }
    return out;
}

class Zokt : public ::testing::Test {
protected:
    UINT8* buf = nullptr;
    WriteOutT savedOut = nullptr;
    void SetUp() override {
        ASSERT_TRUE(unitmachine::Reset());
        buf = unitmachine::InstallInterfaceBuffer();
        ASSERT_NE(buf, nullptr);
        g_ZoktVer = 0;
        g_Out.clear();
        savedOut = WriteOut;
        WriteOut = CaptureOut;
        // End whatever an earlier test left begun: both families start idle.
        ASSERT_EQ(Zokt_VersionCheck(), eEID_NO_ERROR);
        ZOKT_OEMCMD_BeginEnd();
        ZOKT_CMD_BeginEnd();
        g_ZoktVer = 0;
        unitmachine::ClearTrace();
        g_Out.clear();
    }
    void TearDown() override { WriteOut = savedOut; }
    // Settings, then a fresh trace; the handshake runs once when asked.
    void Machine(const std::vector<std::string>& lines, bool handshake = true) {
        unitmachine::Settings(lines);
        if (handshake) {
            ASSERT_EQ(Zokt_VersionCheck(), eEID_NO_ERROR);
        }
        unitmachine::ClearTrace();
    }
    std::string Bytes(UINT32 offset, UINT32 length) { return std::string(reinterpret_cast<char*>(buf) + offset, length); }
};

TEST_F(Zokt, RecordSizesFollowTypeVersionAndWidth) {
    g_ZoktVer = 0x210;
    EXPECT_EQ(Zokt_RecordSize(ZOKT_EXT_TC_MEUD), 30);
    g_ZoktVer = 0x20F;
    EXPECT_EQ(Zokt_RecordSize(ZOKT_EXT_TC_MEUD), 18);
    EXPECT_EQ(Zokt_RecordSize(ZOKT_EXT_TC_OEM_CMD), 12);
    EXPECT_EQ(Zokt_RecordSize(ZOKT_EXT_TC_GET_PATTERN), 68);
    EXPECT_EQ(Zokt_RecordSize(ZOKT_EXT_TC_YOZMFG), sizeof(void*) == 8 ? 13 : 9);
    EXPECT_EQ(Zokt_RecordSize(ZOKT_EXT_TC_VERSION), 0);
    EXPECT_EQ(Zokt_RecordSize(ZOKT_EXT_TC_BIOS_CFG_PRESERVE), 0);
    EXPECT_EQ(Zokt_RecordSize(0x59), 0);

    UINT8 request[0x40] = {0};
    g_ZoktVer = 0x210;
    Zokt_Desc_Header(request, ZOKT_FS_MEUD);
    Zokt_Ext_Header(request, ZOKT_EXT_TC_MEUD, 1);
    EXPECT_EQ(request[0x14], 30);
    Zokt_TC_End_Header(request, ZOKT_EXT_TC_MEUD, 1);
    EXPECT_EQ(reinterpret_cast<ZOKT_STRUCT_V2*>(request)->RunningSize, 0x16 + 30 + 4);
    const UINT8 end[4] = {0xAA, 0x55, 0xFF, 0xFF};
    EXPECT_EQ(memcmp(request + 0x16 + 30, end, 4), 0);
}

TEST_F(Zokt, HandshakeRequestIsByteExactAndRepeatedWithoutSupport) {
    Machine({"zokt_version=0"}, false);
    memset(buf, 0xEE, 0x11000);
    EXPECT_EQ(Zokt_VersionCheck(), eEID_NO_ERROR);
    const UINT8 head[0x1A] = {0x5A, 0x4F, 0x4B, 0x54, 0x00, 0x00, 0x1A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                              0x00, 0x12, 0x00, 0x04, 0x00, 0x00, 0x01, 0x00, 0x00, 0xAA, 0x55, 0xFF, 0xFF};
    EXPECT_EQ(Bytes(0, 0x1A), std::string(reinterpret_cast<const char*>(head), 0x1A));
    EXPECT_EQ(Bytes(0x1A, 0x400 - 0x1A), std::string(0x400 - 0x1A, '\0')) << "0x400 bytes are copied";
    EXPECT_EQ(buf[0x400], 0xEE) << "nothing beyond the request area";
    EXPECT_EQ(g_ZoktVer, 0);

    EXPECT_EQ(Zokt_GetVer(), 0);
    EXPECT_EQ(Zokt_GetVer(), 0);
    std::vector<std::string> expected(3, "zokt=0x00 ver=0x0000 answer=none");
    EXPECT_EQ(ZoktTrace(), expected);
}

TEST_F(Zokt, HandshakeAnswerSetsVersionOnce) {
    Machine({"zokt_version=0x0210"}, false);
    EXPECT_EQ(Zokt_GetVer(), 0x210);
    EXPECT_EQ(Zokt_GetVer(), 0x210);
    EXPECT_EQ(ZoktTrace(), std::vector<std::string>{"zokt=0x00 ver=0x0000 rs=0x0001"});
}

TEST_F(Zokt, GreetingIsKeptAndBounded) {
    std::string longText(300, 'g');
    Machine({"zokt_version=0x0205", "zokt_greeting=" + longText}, false);
    EXPECT_EQ(Zokt_VersionCheck(), eEID_NO_ERROR);
    EXPECT_EQ(g_ZoktVer, 0x205);
    EXPECT_EQ(Zokt_RS_DIS_OEMSTR(), 1);
    EXPECT_EQ(std::string(Zokt_GetOEMString()), std::string(255, 'g'));
    EXPECT_EQ(ZoktTrace(), std::vector<std::string>{"zokt=0x00 ver=0x0000 rs=0x0011"});

    Machine({"zokt_greeting=Hello firmware"}, false);
    EXPECT_EQ(Zokt_VersionCheck(), eEID_NO_ERROR);
    EXPECT_STREQ(Zokt_GetOEMString(), "Hello firmware");
}

TEST_F(Zokt, ErrorOutKeepsVersionZeroAndReports0D) {
    Machine({"zokt_error_out=1", "zokt_greeting=Locked"}, false);
    EXPECT_EQ(Zokt_VersionCheck(), eEID_ZOKT_OEM_ERROR);
    EXPECT_EQ(g_ZoktVer, 0);
    EXPECT_EQ(Zokt_GetRS_ERR_OUT(), 1);
    EXPECT_STREQ(Zokt_GetOEMString(), "Locked");
    EXPECT_EQ(ZoktTrace(), std::vector<std::string>{"zokt=0x00 ver=0x0000 rs=0x0019"});
}

TEST_F(Zokt, OemValueRequestIsByteExact) {
    Machine({"oemcmd_support=0"});
    EXPECT_EQ(ZOKT_OEMCMD_BeginFlash(0x12345678), eEID_OEM_CMD_NOT_SUPPORT);
    const UINT8 req[0x26] = {0x5A, 0x4F, 0x4B, 0x54, 0x10, 0x02, 0x26, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00,
                             0x00, 0x12, 0x00, 0x04, 0x00, 0x57, 0x01, 0x0C, 0x00, 0x01, 0x00, 0x00, 0x00,
                             0x78, 0x56, 0x34, 0x12, 0x00, 0x00, 0x00, 0x00, 0xAA, 0x55, 0xFF, 0xFF};
    EXPECT_EQ(Bytes(0, 0x26), std::string(reinterpret_cast<const char*>(req), 0x26));
    EXPECT_EQ(Bytes(0x26, 0x400 - 0x26), std::string(0x400 - 0x26, '\0'));
    EXPECT_EQ(ZoktTrace(), std::vector<std::string>{"zokt=0x57 ver=0x0210 answer=none"});
}

TEST_F(Zokt, OemStatusDecidesTheResult) {
    struct Case {
        const char* setting;
        ENUM_ERR_ID expected;
    } cases[] = {
        {"oemcmd_status=1", eEID_NO_ERROR},
        {"oemcmd_status=4", eEID_ZOKT_OEM_ERROR},
        {"oemcmd_status=2", eEID_OEM_CMD_NOT_SUPPORT},
        {"oemcmd_status=7", eEID_OEM_CMD_NOT_SUPPORT},
        {"oemcmd_support=0", eEID_OEM_CMD_NOT_SUPPORT},
    };
    for (const Case& c : cases) {
        Machine({c.setting});
        EXPECT_EQ(ZOKT_OEMCMD_BeginFlash(5), c.expected) << c.setting;
    }
    Machine({"oemcmd_status=1"});
    ASSERT_EQ(ZOKT_OEMCMD_BeginFlash(5), eEID_NO_ERROR);
    EXPECT_EQ(ZoktTrace(), std::vector<std::string>{
                               "zokt=0x57 ver=0x0210 code=0x0001 value=0x00000005 len=0x00000000 "
                               "status=0x0001 rs=0x0001"});
}

TEST_F(Zokt, OemWithoutZoktSupportSendsNothing) {
    Machine({"zokt_version=0"}, false);
    EXPECT_EQ(ZOKT_OEMCMD_BeginFlash(5), eEID_OEM_CMD_NOT_SUPPORT);
    EXPECT_EQ(ZOKT_CMD_BeginFlash("text"), eEID_OEM_CMD_NOT_SUPPORT);
    for (const std::string& l : ZoktTrace()) EXPECT_EQ(l.find("zokt=0x57"), std::string::npos) << l;
    EXPECT_EQ(ZoktTrace().size(), 2u) << "only the handshake, once per request";
}

TEST_F(Zokt, OemTextGoesToOffset400WithItsLength) {
    Machine({"oemcmd_support=0"});
    const char* text = "ABCDEFGHIJKLMNOPQRST";
    EXPECT_EQ(ZOKT_CMD_BeginFlash(text), eEID_OEM_CMD_NOT_SUPPORT);
    const UINT8 record[12] = {0x05, 0, 0, 0, 0x00, 0x04, 0, 0, 20, 0, 0, 0};
    EXPECT_EQ(Bytes(0x16, 12), std::string(reinterpret_cast<const char*>(record), 12));
    EXPECT_EQ(Bytes(0x400, 21), std::string(text) + '\0');

    Machine({});
    std::string longText(300, 'x');
    EXPECT_EQ(ZOKT_CMD_BeginFlash(longText.c_str()), eEID_NO_ERROR);
    EXPECT_EQ(ZoktTrace(), std::vector<std::string>{"zokt=0x57 ver=0x0210 code=0x0005 value=0x00000400 "
                                                    "len=0x000000ff text=\"" +
                                                    std::string(255, 'x') + "\" status=0x0001 rs=0x0001"})
        << "the length sent is that of the 255 characters kept";
    EXPECT_EQ(ZOKT_CMD_BeginFlash(nullptr), eEID_ZOKT_OEM_ERROR);
}

TEST_F(Zokt, LaterStepsNeedABegin) {
    Machine({});
    EXPECT_EQ(ZOKT_OEMCMD_StartFlash(), eEID_ZOKT_OEM_ERROR);
    EXPECT_EQ(ZOKT_OEMCMD_AfterFlash(), eEID_ZOKT_OEM_ERROR);
    EXPECT_EQ(ZOKT_OEMCMD_BeginEnd(), eEID_ZOKT_OEM_ERROR);
    EXPECT_EQ(ZOKT_CMD_StartFlash(), eEID_ZOKT_OEM_ERROR);
    EXPECT_EQ(ZOKT_CMD_AfterFlash(), eEID_ZOKT_OEM_ERROR);
    EXPECT_EQ(ZOKT_CMD_BeginEnd(), eEID_ZOKT_OEM_ERROR);
    EXPECT_TRUE(ZoktTrace().empty());
}

TEST_F(Zokt, FamiliesRunTheirCodesAndEndCleanly) {
    Machine({"oemcmd_status_3=4"});
    ASSERT_EQ(ZOKT_CMD_BeginFlash("fw go"), eEID_NO_ERROR);
    ASSERT_EQ(ZOKT_OEMCMD_BeginFlash(9), eEID_NO_ERROR);
    EXPECT_EQ(ZOKT_CMD_StartFlash(), eEID_NO_ERROR) << "the value family left the text alone";
    EXPECT_EQ(ZOKT_OEMCMD_StartFlash(), eEID_NO_ERROR);
    EXPECT_EQ(ZOKT_OEMCMD_AfterFlash(), eEID_NO_ERROR);
    EXPECT_EQ(ZOKT_CMD_AfterFlash(), eEID_NO_ERROR);
    EXPECT_EQ(ZOKT_OEMCMD_BeginEnd(), eEID_ZOKT_OEM_ERROR);
    EXPECT_EQ(ZOKT_OEMCMD_StartFlash(), eEID_NO_ERROR) << "a failed end keeps the family ready";
    EXPECT_EQ(ZOKT_CMD_BeginEnd(), eEID_NO_ERROR);
    EXPECT_EQ(ZOKT_CMD_StartFlash(), eEID_ZOKT_OEM_ERROR);

    std::vector<std::string> codes;
    for (const std::string& l : ZoktTrace()) {
        std::string code = l.substr(l.find(" code=") + 6, 6);
        size_t text = l.find(" text=");
        if (text != std::string::npos) code += l.substr(text, l.find(" status=") - text);
        codes.push_back(code);
    }
    EXPECT_EQ(codes, (std::vector<std::string>{"0x0005 text=\"fw go\"", "0x0001", "0x0006 text=\"fw go\"",
                                               "0x0004", "0x0002", "0x0007 text=\"fw go\"", "0x0003", "0x0004",
                                               "0x0008 text=\"fw go\""}));

    Machine({});
    ASSERT_EQ(ZOKT_OEMCMD_BeginEnd(), eEID_NO_ERROR);
    EXPECT_EQ(ZOKT_OEMCMD_AfterFlash(), eEID_ZOKT_OEM_ERROR) << "a successful end clears the ready flag";
}

// Each family's record says "done" in its own field: the outcome is read
// from it, an answer's absence from the return status.
TEST_F(Zokt, TheTransportTellsDoneRefusedAndUnansweredForEveryFamily) {
    static UINT8 key[4] = {1, 2, 3, 4};
    struct Row {
        const char* what;
        std::vector<std::string> sets;
        void (*send)();
        ZOKT_OUTCOME outcome;
    };
    void (*ec)() = [] { ZOKT_SWSMI_EC(ZOKT_TC_EC_START, 0, 0, nullptr, 0); };
    void (*ecxErase)() = [] { ZOKT_SWSMI_EC(ZOKT_TC_EC_ECX_ERASE, 0x1000, 0, nullptr, 1); };
    void (*me)() = [] { ZOKT_ME_CheckSupport(); };
    // A session inside an update.
    void (*region)() = [] {
        UINT8 again = 0;
        ZOKT_ME_Full_FlashStart();
        ZOKT_MER_INTERFACE(nullptr, 0, 0xFF, ME_REQUEST_ALLOC_SMM, 1, 0, again);
    };
    void (*setup)() = [] { ZOKT_SWSMI_SETUP(ZOKT_TC_SETUP_SUPPORT); };
    void (*oem)() = [] { ZOKT_OEMCMD_BeginFlash(5); };
    void (*oa)() = [] { ZOKT_OAKeyCheck(key, 0, sizeof(key)); };
    void (*battery)() = [] { ZOKT_ECB_Check(); };
    void (*policy)() = [] {
        FLASH_POLICY_INFO_BLOCK block;
        ZOKT_GetSupportedPolicy(&block);
    };
    void (*mfg)() = [] { ZOKT_YOZMFG_Support(); };
    const Row rows[] = {
        {"EC START", {}, ec, eZOKT_DONE},
        {"EC START refused", {"ec_status_1=0x20"}, ec, eZOKT_REFUSED},
        {"EC START answer lost", {"zokt_faults=0x54:lost"}, ec, eZOKT_UNANSWERED},
        {"ECX erase answered status 0", {"ec_status_16=0"}, ecxErase, eZOKT_DONE},
        {"ME information", {}, me, eZOKT_DONE},
        {"ME information refused", {"zokt_faults=0x55:0"}, me, eZOKT_REFUSED},
        {"ME without answer", {"me_support=0"}, me, eZOKT_UNANSWERED},
        {"ME region request", {}, region, eZOKT_DONE},
        {"ME region request answered done with the status failed", {"zokt_faults=0x55/0x0a:status=0x1"}, region,
         eZOKT_REFUSED},
        {"setup support", {}, setup, eZOKT_DONE},
        {"setup support refused", {"setup_status=2"}, setup, eZOKT_REFUSED},
        {"setup without answer", {"setup_support=0"}, setup, eZOKT_UNANSWERED},
        {"OEM command", {}, oem, eZOKT_DONE},
        {"OEM command error", {"oemcmd_status=4"}, oem, eZOKT_REFUSED},
        {"OEM command without answer", {"oemcmd_support=0"}, oem, eZOKT_UNANSWERED},
        {"OA check: a firmware without the check", {"oa_status=0"}, oa, eZOKT_DONE},
        {"OA check: data changed", {"oa_status=2"}, oa, eZOKT_DONE},
        {"OA check declined", {"oa_status=8"}, oa, eZOKT_REFUSED},
        {"OA check without answer", {"oa_support=0"}, oa, eZOKT_UNANSWERED},
        {"battery", {}, battery, eZOKT_DONE},
        {"battery low", {"ec_battery=2"}, battery, eZOKT_REFUSED},
        {"policy", {"secure_flash=1"}, policy, eZOKT_DONE},
        {"policy refused", {"secure_flash=1", "zokt_faults=0x70/4:2"}, policy, eZOKT_REFUSED},
        {"no secure flash", {}, policy, eZOKT_UNANSWERED},
        {"manufacturing names", {"mfg=1"}, mfg, eZOKT_DONE},
        {"not in manufacturing mode", {}, mfg, eZOKT_REFUSED},
    };
    for (const Row& row : rows) {
        Machine(row.sets);
        row.send();
        EXPECT_EQ(Zokt_LastOutcome(), row.outcome) << row.what;
    }
}

TEST_F(Zokt, FirmwareTextIsPrintedAsText) {
    Machine({"oemcmd_text=100%s done", "oemcmd_status=2"});
    EXPECT_EQ(ZOKT_OEMCMD_BeginFlash(1), eEID_OEM_CMD_NOT_SUPPORT);
    EXPECT_EQ(g_Out, " - 100%s done\n");
}

}  // namespace
