// Operator prompts and the help pager, with keys fed through standard input
// (a pipe: no terminal attributes to read).
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>
#include <cstring>
#include "CaptureOut.h"
#include "PseudoTerminal.h"
#include "YozOptionStore.h"

namespace {

struct Prompts : ::testing::Test {
    UINT8 quiet = 0, defans = 0;
    void SetUp() override {
        YOZ_SetQuietCmdIsEnable(&quiet);
        YOZ_SetDefAnsCmdIsEnable(&defans);
        YOZ_InitGlobalLineCont();
    }
    void TearDown() override {
        YOZ_SetQuietCmdIsEnable(nullptr);
        YOZ_SetDefAnsCmdIsEnable(nullptr);
        YOZ_InitGlobalLineCont();
    }
};

TEST_F(Prompts, QuietModeAnswersAtOnceAndSilently) {
    quiet = 1;
    defans = 1;
    unit::CapturedOut out;
    unit::FedStdin keys("nf");
    EXPECT_EQ(YOZ_PromptYesOrNo("Go?"), 0);
    EXPECT_EQ(YOZ_PromptFOrEOrA("Which?"), 2);
    EXPECT_EQ(out.Text(), "");
}

TEST_F(Prompts, DefaultAnswersArePrinted) {
    defans = 1;
    unit::CapturedOut out;
    unit::FedStdin keys("nf");
    EXPECT_EQ(YOZ_PromptYesOrNo("Go?"), 0);
    EXPECT_EQ(YOZ_PromptFOrEOrA("Which?"), 2);
    EXPECT_EQ(out.Text(), "Go? Yes\nWhich? All Flash\n");
}

TEST_F(Prompts, OtherKeysAreEchoedAndThePromptRepeats) {
    {
        unit::CapturedOut out;
        unit::FedStdin keys("xY");
        EXPECT_EQ(YOZ_PromptYesOrNo("Go?"), 0);
        EXPECT_EQ(out.Text(), "Go?x\nGo?Y\n");
    }
    {
        unit::CapturedOut out;
        unit::FedStdin keys("n");
        EXPECT_EQ(YOZ_PromptYesOrNo("Go?"), 1);
        EXPECT_EQ(out.Text(), "Go?n\n");
    }
    const struct {
        const char* keys;
        UINT8 answer;
        const char* printed;
    } fea[] = {{"f", 0, "W?f\n"}, {"E", 1, "W?E\n"}, {"qa", 2, "W?q\nW?a\n"}};
    for (const auto& c : fea) {
        unit::CapturedOut out;
        unit::FedStdin keys(c.keys);
        EXPECT_EQ(YOZ_PromptFOrEOrA("W?"), c.answer) << c.keys;
        EXPECT_EQ(out.Text(), c.printed) << c.keys;
    }
}

TEST_F(Prompts, EndOfInputCancelsInsteadOfLoopingForever) {
    unit::CapturedOut out;
    {
        unit::FedStdin keys("x");
        EXPECT_EQ(YOZ_PromptYesOrNo("Go?"), 1);
    }
    {
        unit::FedStdin keys("");
        EXPECT_EQ(YOZ_PromptFOrEOrA("W?"), 1);
    }
    EXPECT_EQ(out.Text(), "Go?x\nGo?\nW?\n");
}

TEST_F(Prompts, PagerPausesAfterTheEighteenthLine) {
    unit::CapturedOut out;
    unit::FedStdin keys("ab");
    for (int i = 0; i < 17; ++i) YOZ_CheckGlobalLineCont(1);
    EXPECT_EQ(out.Text(), "");
    EXPECT_EQ(YOZ_LineCount, 17);
    YOZ_CheckGlobalLineCont(1);
    EXPECT_EQ(out.Text(), "<Press any key to continue>\r");
    EXPECT_EQ(YOZ_LineCount, 0);
    // Groups count together; the count starts again from 0 after the key.
    YOZ_CheckGlobalLineCont(7);
    YOZ_CheckGlobalLineCont(0);
    EXPECT_EQ(YOZ_LineCount, 7);
    YOZ_CheckGlobalLineCont(12);
    EXPECT_EQ(out.Text(), "<Press any key to continue>\r<Press any key to continue>\r");
    EXPECT_EQ(YOZ_LineCount, 0);
    // Each pause took one key: "b" is the next one.
    EXPECT_EQ(YOZ_PromptYesOrNo("?"), 1);
}

using Terminal = unit::PseudoTerminal;

TEST_F(Prompts, SingleKeysFromATerminalWithoutEnter) {
    Terminal tty;
    ASSERT_TRUE(tty.Ok());
    struct termios before;
    ASSERT_EQ(tcgetattr(0, &before), 0);
    ASSERT_NE(before.c_lflag & ICANON, 0u);
    unit::CapturedOut out;
    // No line end follows the keys: a line-buffered read would wait forever.
    tty.Type("zy");
    EXPECT_EQ(YOZ_PromptYesOrNo("Go?"), 0);
    tty.Type("e");
    EXPECT_EQ(YOZ_PromptFOrEOrA("W?"), 1);
    EXPECT_EQ(out.Text(), "Go?z\nGo?y\nW?e\n");
    struct termios after;
    ASSERT_EQ(tcgetattr(0, &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag) << "the terminal mode is put back";
}

}  // namespace
