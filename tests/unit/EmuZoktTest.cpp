// The emulated firmware's ZOKT dispatcher: which requests it refuses, which
// it leaves unanswered, and that both leave the buffer untouched.
#include <gtest/gtest.h>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include "EmuSmi.h"
#include "UnitMachine.h"

namespace {

struct Request {
    std::vector<UINT8> bytes;
    Request(UINT8 type, UINT32 functionSelect, UINT16 recordSize, UINT16 version = 0x0210) : bytes(0x140, 0) {
        memcpy(&bytes[0], "ZOKT", 4);
        Put16(0x04, version);
        Put32(0x08, functionSelect);
        Put16(0x0E, 0x12);
        Put16(0x10, 4);
        bytes[0x12] = type;
        bytes[0x13] = 1;
        Put16(0x14, recordSize);
        Put32(0x16 + recordSize, 0xFFFF55AA);
        Put16(0x06, static_cast<UINT16>(0x16 + recordSize + 4));
    }
    void Put16(UINT32 at, UINT16 v) { memcpy(&bytes[at], &v, 2); }
    void Put32(UINT32 at, UINT32 v) { memcpy(&bytes[at], &v, 4); }
};

class EmuZokt : public ::testing::Test {
protected:
    UINT8* buf = nullptr;
    void SetUp() override {
        ASSERT_TRUE(unitmachine::Reset());
        buf = unitmachine::InstallInterfaceBuffer();
        ASSERT_NE(buf, nullptr);
    }
    // Sends the request; returns the fields the dispatcher traced and
    // whether the buffer was left as it was.
    std::string Send(const Request& r, bool& untouched, UINT32 ebx = unitmachine::kIntrBufPhys) {
        memset(buf, 0x5C, 0x11000);
        memcpy(buf, r.bytes.data(), r.bytes.size());
        std::vector<UINT8> before(buf, buf + 0x11000);
        unitmachine::ClearTrace();
        TKX_GeneralPurposeRegisterBuffer regs{0, 0, 0, ebx, 0xB2, 0, 0x26};
        EmuSmi_Dispatch(0xB2, 0x26, regs);
        untouched = memcmp(before.data(), buf, 0x11000) == 0;
        std::vector<std::string> t = unitmachine::Trace();
        char head[64];
        snprintf(head, sizeof(head), "smi cmd=0x26 port=0xb2 ebx=0x%08x", ebx);
        if (t.size() != 1 || t[0].rfind(head, 0) != 0) return "bad trace";
        return t[0].substr(strlen(head));
    }
};

TEST_F(EmuZokt, MalformedRequestsAreRefusedUntouched) {
    struct Case {
        const char* reason;
        void (*spoil)(Request&);
    } cases[] = {
        {"signature", [](Request& r) { r.bytes[3] = 'X'; }},
        {"header-offset", [](Request& r) { r.Put16(0x0E, 0x14); }},
        {"os-type", [](Request& r) { r.Put16(0x10, 2); }},
        {"sub-count", [](Request& r) { r.bytes[0x13] = 2; }},
        {"type", [](Request& r) { r.bytes[0x12] = 0x59; }},
        {"function-select", [](Request& r) { r.Put32(0x08, 0x01000040); }},
        {"record-size", [](Request& r) { r.Put16(0x14, 11); }},
        {"running-size", [](Request& r) { r.Put16(0x06, 0x20); }},
    };
    for (const Case& c : cases) {
        Request r(0x57, 0x01000000, 12);
        c.spoil(r);
        bool untouched = false;
        EXPECT_EQ(Send(r, untouched), std::string(" zokt=none refused=\"") + c.reason + "\"") << c.reason;
        EXPECT_TRUE(untouched) << c.reason;
    }
    bool untouched = false;
    EXPECT_EQ(Send(Request(0x57, 0x01000000, 12), untouched, 0xFFFFF000), " zokt=none refused=\"buffer\"");
}

TEST_F(EmuZokt, TerminatorIsCheckedForTheTypesThatKeepIt) {
    Request shifted(0x57, 0x01000000, 12);
    shifted.Put16(0x06, 0x2A);
    shifted.Put32(0x26, 0xFFFF55AA);
    bool untouched = false;
    EXPECT_EQ(Send(shifted, untouched), " zokt=0x57 ver=0x0210 refused=\"running-size\"");
    EXPECT_TRUE(untouched);

    Request broken(0x70, 0x40, 2);
    broken.Put32(0x18, 0xFFFF55AB);
    EXPECT_EQ(Send(broken, untouched), " zokt=0x70 ver=0x0210 refused=\"terminator\"");
    EXPECT_TRUE(untouched);

    Request handshake(0x00, 0, 0, 0);
    handshake.Put32(0x16, 0);
    EXPECT_EQ(Send(handshake, untouched), " zokt=0x00 ver=0x0000 refused=\"terminator\"");
    EXPECT_TRUE(untouched);
}

TEST_F(EmuZokt, TypesWithoutHandlerAreLeftUnanswered) {
    unitmachine::Settings({"cfg_answer=none", "me_support=0"});  // their handlers answer nothing
    bool untouched = false;
    Request cfg(0x51, 0x40000000, 8);
    cfg.Put32(0x1E, 0x12345678);  // a request may put data over its terminator
    EXPECT_EQ(Send(cfg, untouched), " zokt=0x51 ver=0x0210 answer=none");
    EXPECT_TRUE(untouched);

    // The ME record's size follows the firmware's own version.
    EXPECT_EQ(Send(Request(0x55, 0x04000000, 30, 0x0210), untouched), " zokt=0x55 ver=0x0210 answer=none");
    EXPECT_EQ(Send(Request(0x55, 0x04000000, 18, 0x0210), untouched), " zokt=none refused=\"record-size\"");
    unitmachine::Settings({"zokt_version=0x020F", "me_support=0"});
    EXPECT_EQ(Send(Request(0x55, 0x04000000, 18, 0x020F), untouched), " zokt=0x55 ver=0x020f answer=none");
    EXPECT_EQ(Send(Request(0x55, 0x04000000, 30, 0x020F), untouched), " zokt=none refused=\"record-size\"");
    unitmachine::Settings({});
    EXPECT_EQ(Send(Request(0x72, 0x400000, 2), untouched), " zokt=0x72 ver=0x0210 answer=none");
    EXPECT_TRUE(untouched);
}

TEST_F(EmuZokt, ManufacturingRecordOnlyOfTheRunningWidthIsAnswered) {
    // The unit tests run the 64-bit firmware: the record ends in an 8-byte pointer.
    bool untouched = true;
    EXPECT_EQ(Send(Request(0x71, 0x100, 13), untouched), " zokt=0x71 ver=0x0210 size=0x0d mfg=0x02 rs=0x0001");
    EXPECT_FALSE(untouched);
    EXPECT_EQ(Send(Request(0x71, 0x100, 9), untouched), " zokt=none refused=\"record-size\"");
    EXPECT_TRUE(untouched);
    EXPECT_EQ(Send(Request(0x71, 0x100, 11), untouched), " zokt=none refused=\"record-size\"");
}

TEST_F(EmuZokt, PresetFieldsAndTheMeTerminatorAreChecked) {
    unitmachine::Settings({"secure_flash=1"});
    struct Case {
        const char* what;
        Request request;
        void (*spoil)(Request&);
        const char* trace;  // after " zokt=TYPE ver=VERSION"
    } cases[] = {
        {"handshake with a version", Request(0x00, 0, 0, 0), [](Request& r) { r.Put16(0x04, 0x0210); },
         " zokt=0x00 ver=0x0210 refused=\"version\""},
        {"version not the firmware's", Request(0x57, 0x01000000, 12), [](Request& r) { r.Put16(0x04, 0x0200); },
         " zokt=0x57 ver=0x0200 refused=\"version\""},
        {"no version at all", Request(0x58, 0x00800000, 4), [](Request& r) { r.Put16(0x04, 0); },
         " zokt=0x58 ver=0x0000 refused=\"version\""},
        {"return status preset", Request(0x57, 0x01000000, 12), [](Request& r) { r.Put16(0x0C, 1); },
         " zokt=0x57 ver=0x0210 refused=\"return-status\""},
        {"OEM status", Request(0x57, 0x01000000, 12), [](Request& r) { r.Put16(0x16 + 2, 1); },
         " zokt=0x57 ver=0x0210 refused=\"record-status\""},
        {"ME return status", Request(0x55, 0x04000000, 30), [](Request& r) { r.bytes[0x16] = 1; },
         " zokt=0x55 ver=0x0210 refused=\"record-status\""},
        {"ME version query without 0xFF", Request(0x55, 0x04000000, 0x18), [](Request& r) { r.bytes[0x17] = 0x0B; },
         " zokt=0x55 ver=0x0210 refused=\"record-status\""},
        {"ME without terminator", Request(0x55, 0x04000000, 30), [](Request& r) { r.Put32(0x16 + 30, 0); },
         " zokt=0x55 ver=0x0210 refused=\"terminator\""},
        {"secure-flash piece status not 1", Request(0x70, 0x40, 2), [](Request& r) { r.bytes[0x16] = 2; },
         " zokt=0x70 ver=0x0210 refused=\"record-status\""},
    };
    for (Case& c : cases) {
        c.spoil(c.request);
        bool untouched = false;
        EXPECT_EQ(Send(c.request, untouched), c.trace) << c.what;
        EXPECT_TRUE(untouched) << c.what;
    }
}

TEST_F(EmuZokt, FirmwareWithoutZoktAnswersNothing) {
    unitmachine::Settings({"zokt_version=0", "secure_flash=1"});
    bool untouched = false;
    EXPECT_EQ(Send(Request(0x00, 0, 0, 0), untouched), " zokt=0x00 ver=0x0000 answer=none");
    EXPECT_TRUE(untouched);
    // Without an answered handshake the program's requests carry version 0.
    Request policy(0x70, 0x40, 2, 0);
    policy.bytes[0x16] = 4;
    policy.bytes[0x1C + 0x102] = 1;
    EXPECT_EQ(Send(policy, untouched), " zokt=0x70 ver=0x0000 answer=none");
    EXPECT_TRUE(untouched);

    unitmachine::Settings({"zokt_version=0x0300", "zokt_greeting=hi"});
    EXPECT_EQ(Send(Request(0x00, 0, 0, 0), untouched), " zokt=0x00 ver=0x0000 rs=0x0011");
    EXPECT_EQ(buf[4], 0x00);
    EXPECT_EQ(buf[5], 0x03);
    EXPECT_STREQ(reinterpret_cast<char*>(buf + 0x1A), "hi");
}

}  // namespace
