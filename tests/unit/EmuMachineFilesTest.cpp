// The emulated machine's files during a run: the flash, the trace and the
// state files hold every answer when the request returns (a run killed
// midway loses nothing it was answered), a reload of the machine reads them
// afresh, and the "$ASF" area is read only on a machine that has one.
#include <gtest/gtest.h>
#include <cstdio>
#include <string>
#include "E2eHarness.h"
#include "EmuFlashPart.h"
#include "EmuMachine.h"
#include "UnitMachine.h"

namespace {

TEST(EmuMachineFiles, EveryAnswerIsOnDiskWhenItReturns) {
    ASSERT_TRUE(unitmachine::Reset());
    e2e::WriteFile(unitmachine::File("flash.bin"), std::string(0x2000, '\xff'));
    for (int round = 0; round < 2; ++round) {
        std::string data(0x100, static_cast<char>(0x30 + round));
        ASSERT_TRUE(EmuFlash_Write(0x1000, data.data(), 0x100));
        EXPECT_EQ(e2e::ReadFile(unitmachine::File("flash.bin")).substr(0x1000, 0x100), data) << round;
        EmuTrace("event n=0x%x", round);
        EXPECT_EQ(unitmachine::Trace()[static_cast<size_t>(round)], "event n=0x" + std::to_string(round));
        EmuState_SetNum("counter", static_cast<UINT64>(round + 5));
        EXPECT_EQ(e2e::ReadFile(unitmachine::File("state/counter")), "0x" + std::to_string(round + 5));
        ASSERT_TRUE(EmuPhys_Write(0x5000, data.data(), 4));
        EXPECT_EQ(unitmachine::GetPhys(0x5000, 4), data.substr(0, 4));
    }
}

TEST(EmuMachineFiles, AReloadReadsTheMachineAfresh) {
    ASSERT_TRUE(unitmachine::Reset());
    e2e::WriteFile(unitmachine::File("flash.bin"), std::string(0x1000, 'a'));
    char byte = 0;
    ASSERT_TRUE(EmuFlash_Read(0, &byte, 1));
    EXPECT_EQ(byte, 'a');
    EmuState_Set("mode", "one");
    EXPECT_EQ(EmuState_Get("mode", ""), "one");

    // Files replaced behind the emulator's back, as a new machine would be:
    // a new flash file of another size, another state.
    std::string flash = unitmachine::File("flash.bin");
    e2e::WriteFile(flash + ".new", std::string(0x2000, 'b'));
    ASSERT_EQ(rename((flash + ".new").c_str(), flash.c_str()), 0);
    e2e::WriteFile(unitmachine::File("state/mode"), "two");
    e2e::WriteFile(unitmachine::File("state/other"), "three");
    EmuMachine_Reload();
    EXPECT_EQ(EmuFlash_Size(), 0x2000u);
    ASSERT_TRUE(EmuFlash_Read(0x1800, &byte, 1));
    EXPECT_EQ(byte, 'b');
    EXPECT_EQ(EmuState_Get("mode", ""), "two");
    EXPECT_EQ(EmuState_Get("other", ""), "three");
    EXPECT_EQ(EmuState_Get("missing", "none"), "none");
}

TEST(EmuMachineFiles, TheAsfAreaIsReadOnlyOnAMachineThatHasOne) {
    // "$ASF" with a 16-byte header; the program stored 0x7e000000 in its body.
    std::string asf(0x20, '\0');
    asf.replace(0, 4, "$ASF");
    asf[4] = 0x10;
    asf.replace(0x10, 4, std::string("\x00\x00\x00\x7e", 4));
    struct Case {
        std::vector<std::string> settings;
        std::string answer;
        std::string bodyAfter;
    } cases[] = {
        {{}, "", std::string("\x00\x00\x00\x7e", 4)},
        {{"asf_port=0xb0"}, " asf=ok", std::string(4, '\0')},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(unitmachine::Reset(c.settings));
        ASSERT_TRUE(unitmachine::PutPhys(0xF8000, asf));
        EXPECT_EQ(EmuFlashPart_AsfCheck(0x7e000000), c.answer) << c.settings.size();
        EXPECT_EQ(unitmachine::GetPhys(0xF8010, 4), c.bodyAfter) << c.settings.size();
    }
}

// NOR programming over erased pages: a write into pages the run erased
// stores its bytes; every later write, a write into pages erased only in
// part, a write over a plain write, and a write after the machine is
// reloaded still AND into the old bytes.
TEST(EmuMachineFiles, WritesAndIntoTheOldBytesUnlessThePagesAreErased) {
    struct Step {
        char op;  // 'e' erase, 'w' plain write, 'p' program, 'r' reload
        UINT32 at, size;
        char byte;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
        UINT32 at;
        std::string expect;
    } cases[] = {
        {"erased page takes the bytes", {{'e', 0x1000, 0x1000, 0}, {'p', 0x1000, 0x10, 0x35}}, 0x1000, std::string(0x10, 0x35)},
        {"second write ANDs", {{'e', 0x1000, 0x1000, 0}, {'p', 0x1000, 0x10, 0x35}, {'p', 0x1000, 0x10, 0x53}},
         0x1000, std::string(0x10, 0x35 & 0x53)},
        {"other bytes of a written page AND", {{'e', 0x1000, 0x1000, 0}, {'p', 0x1000, 0x10, 0x35}, {'p', 0x1010, 0x10, 0x53}},
         0x1010, std::string(0x10, 0x53)},
        {"erase of part of a page", {{'w', 0x2000, 0x1000, 0x0F}, {'e', 0x2000, 0x800, 0}, {'p', 0x2800, 0x10, 0x3C}},
         0x2800, std::string(0x10, 0x0F & 0x3C)},
        {"erase from the middle of a page", {{'w', 0x1000, 0x2000, 0x0F}, {'e', 0x1800, 0x1800, 0}, {'p', 0x1000, 0x10, 0x3C}},
         0x1000, std::string(0x10, 0x0F & 0x3C)},
        {"write across an erased and a written page", {{'w', 0x1000, 0x2000, 0x0F}, {'e', 0x1000, 0x1000, 0}, {'p', 0x1FF8, 0x10, 0x3C}},
         0x1FF8, std::string(8, 0x3C) + std::string(8, 0x0F & 0x3C)},
        {"plain write over an erased page", {{'e', 0x1000, 0x1000, 0}, {'w', 0x1000, 0x10, 0x0F}, {'p', 0x1000, 0x10, 0x3C}},
         0x1000, std::string(0x10, 0x0F & 0x3C)},
        {"reload forgets the erase", {{'e', 0x1000, 0x1000, 0}, {'r', 0, 0, 0}, {'w', 0x1000, 0x10, 0x0F}, {'p', 0x1000, 0x10, 0x3C}},
         0x1000, std::string(0x10, 0x0F & 0x3C)},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(unitmachine::Reset());
        e2e::WriteFile(unitmachine::File("flash.bin"), std::string(0x4000, '\x55'));
        for (const Step& s : c.steps) {
            std::string bytes(s.size, s.byte);
            bool done = true;
            if (s.op == 'e') done = EmuFlash_Erase(s.at, s.size);
            if (s.op == 'w') done = EmuFlash_Write(s.at, bytes.data(), s.size);
            if (s.op == 'p') done = EmuFlash_Program(s.at, bytes.data(), s.size);
            if (s.op == 'r') EmuMachine_Reload();
            ASSERT_TRUE(done) << c.name << " " << s.op;
        }
        EXPECT_EQ(e2e::ReadFile(unitmachine::File("flash.bin")).substr(c.at, c.expect.size()), c.expect) << c.name;
    }
}

}  // namespace
