// Firmware password: presence query, compare request and key entry, against
// the emulated firmware; keys come through a pipe or a pseudo-terminal.
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>
#include <cstring>
#include <string>
#include <vector>
#include "CaptureOut.h"
#include "PseudoTerminal.h"
#include "FlashBlock.h"
#include "TKXPhysMem.h"
#include "ZoktPassword.h"
#include "ZoktUnit.h"

namespace {

using Password = unit::ZoktRequests;

std::string Take(char* text) {
    if (text == nullptr) return "(null)";
    std::string s(text);
    FreeMem(text);
    return s;
}

TEST_F(Password, NoPasswordOrNoSupport) {
    for (const char* setting : {"password=", "password_support=0"}) {
        Machine({setting});
        UINT16 length = 9;
        UINT8 status = 9;
        char text[256] = "stale";
        EXPECT_EQ(CheckPasswdPresent(length, status, text), 0) << setting;
        EXPECT_EQ(length, 0);
        EXPECT_EQ(status, 0);
        EXPECT_STREQ(text, "");
    }
}

TEST_F(Password, PresenceQueryGivesLengthStatusAndPromptWord) {
    Machine({"password=secret", "password_text=Supervisor"});
    UINT16 length = 0;
    UINT8 status = 0;
    char text[256];
    EXPECT_EQ(CheckPasswdPresent(length, status, text), 1);
    EXPECT_EQ(length, 6);
    EXPECT_EQ(status, OEM_RS_PC_REQ);
    EXPECT_STREQ(text, "Supervisor");
    EXPECT_EQ(Zokt(), std::vector<std::string>{"zokt=0x52 ver=0x0210 fn=0x01 len=0x0006 status=0x01 rs=0x0011"});
}

TEST_F(Password, CompareSendsThePasswordWhereTheTerminatorWas) {
    Machine({"password=secret"});
    UINT16 length;
    UINT8 status;
    char text[256];
    ASSERT_EQ(CheckPasswdPresent(length, status, text), 1);
    memset(buf + 0x8000, 0xEE, 0x100);
    EXPECT_EQ(CheckBIOSPWD(reinterpret_cast<const UINT8*>("secret"), status), 1);
    EXPECT_EQ(status, OEM_RS_PC_CK_OK);
    EXPECT_EQ(U16(0x06), 0x1A) << "no terminator";
    EXPECT_EQ(U16(0x16), 6);
    EXPECT_EQ(buf[0x18], OEM_PC_PWD_CMP);
    EXPECT_EQ(Bytes(0x1A, 6), "secret");
    EXPECT_EQ(Bytes(0x8000, 0x100), std::string(0x100, '\0')) << "the whole buffer is zeroed first";
    EXPECT_EQ(Zokt().back(), "zokt=0x52 ver=0x0210 fn=0x02 len=0x0006 pwd=\"secret\" status=0x02 rs=0x0001");
}

TEST_F(Password, ShortPasswordIsPaddedAndRefusalsEndTheAttempts) {
    Machine({"password=secret", "password_check_text=Wrong password"});
    UINT16 length;
    UINT8 status;
    char text[256];
    ASSERT_EQ(CheckPasswdPresent(length, status, text), 1);
    EXPECT_EQ(CheckBIOSPWD(reinterpret_cast<const UINT8*>("sec"), status), 0);
    EXPECT_EQ(status, OEM_RS_PC_REQ) << "refused, another attempt allowed";
    EXPECT_EQ(std::string(CheckBIOSPWDReString()), " - Wrong password \n");
    EXPECT_EQ(Zokt().back(),
              "zokt=0x52 ver=0x0210 fn=0x02 len=0x0006 pwd=\"sec\\x00\\x00\\x00\" status=0x01 rs=0x0011");
    EXPECT_EQ(CheckBIOSPWD(reinterpret_cast<const UINT8*>("secreT"), status), 0);
    EXPECT_EQ(CheckBIOSPWD(reinterpret_cast<const UINT8*>("Secret"), status), 0);
    EXPECT_EQ(status, OEM_RS_PC_REQ | OEM_RS_PC_TIMES_EXCEEDED);
    // Even the right password is refused now, and the query says so.
    EXPECT_EQ(CheckBIOSPWD(reinterpret_cast<const UINT8*>("secret"), status), 0);
    EXPECT_EQ(CheckPasswdPresent(length, status, text), 1);
    EXPECT_EQ(status, 0x05);
}

TEST_F(Password, CompareWithoutSupportIsRefused) {
    Machine({"password_support=0"});
    UINT8 status = 7;
    EXPECT_EQ(CheckBIOSPWD(reinterpret_cast<const UINT8*>("x"), status), 0);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(CheckBIOSPWDReString(), nullptr);
}

TEST_F(Password, KeysAreMaskedBoundedAndEditable) {
    const struct {
        const char* keys;
        UINT16 length;
        const char* typed;
        const char* shown;
    } cases[] = {
        {"ab\bcdefgh\r", 4, "acde", "**\b \b***\n"},
        {"\x7f\x7fxy\n", 8, "xy", "**\n"},  // backspace on nothing prints nothing
        {"\x01x\x1b" "y\r", 8, "xy", "**\n"},  // control keys are ignored
        {"\r", 8, "", "\n"},
    };
    for (const auto& c : cases) {
        unit::CapturedOut out;
        unit::FedStdin keys(c.keys);
        EXPECT_EQ(Take(GetUserInputPWD(c.length)), c.typed) << c.keys;
        EXPECT_EQ(out.Text(), c.shown) << c.keys;
    }
}

TEST_F(Password, InputEndingBeforeEnterGivesNothing) {
    unit::CapturedOut out;
    {
        unit::FedStdin keys("abc");
        EXPECT_EQ(Take(GetUserInputPWD(8)), "(null)");
    }
    {
        unit::FedStdin keys("abc");
        EXPECT_EQ(Take(GetUserInputPWD(0)), "(null)");
    }
    EXPECT_EQ(out.Text(), "***\n");
}

TEST_F(Password, FlashInterfaceIsClosedWhileKeysAreRead) {
    Machine({});
    ASSERT_EQ(EnableFlashIfc(), eEID_NO_ERROR);
    unitmachine::ClearTrace();
    unit::CapturedOut out;
    unit::FedStdin keys("pw\r");
    EXPECT_EQ(Take(GetUserInputPWD(8)), "pw");
    std::vector<std::string> smis;
    for (const std::string& line : unitmachine::Trace()) {
        if (line.rfind("smi ", 0) == 0) smis.push_back(line.substr(0, 12));
    }
    EXPECT_EQ(smis, (std::vector<std::string>{"smi cmd=0x24", "smi cmd=0x20"}));
    CleanFlashIfc();
}

using Terminal = unit::PseudoTerminal;

TEST_F(Password, KeysFromATerminal) {
    Terminal tty;
    ASSERT_TRUE(tty.Ok());
    struct termios before;
    ASSERT_EQ(tcgetattr(0, &before), 0);
    unit::CapturedOut out;
    const char typed[] = "s3cr\r";
    tty.Type(typed);
    EXPECT_EQ(Take(GetUserInputPWD(6)), "s3cr");
    EXPECT_EQ(out.Text(), "****\n");
    struct termios after;
    ASSERT_EQ(tcgetattr(0, &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag) << "the terminal mode is put back";
}

}  // namespace
