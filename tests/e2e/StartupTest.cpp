// The start-up road, the command-line check and the shutdown path, end to end.
#include "E2eHarness.h"

using namespace e2e;

namespace {

class Startup : public E2eWidth {};

const char kOptionsLine[] = "| Options:                                                                  |\n";

TEST_P(Startup, NoArgumentsPrintsUsageAndExitsZero) {
    Machine m = MakeMachine(Filled(0x40000, 0xFF), "4x64K:main");
    RunResult r = RunProgram(Width(), m, {});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find(kOptionsLine), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Unknown command"), std::string::npos);
}

TEST_P(Startup, UnclaimedWordsNameOnlyTheFirstAndExitOne) {
    Machine m = MakeMachine(Filled(0x40000, 0xFF), "4x64K:main");
    RunResult r = RunProgram(Width(), m, {"/nosuch", "/other"});
    EXPECT_EQ(r.status, 1);
    const std::string tail = "Unknown command or option : /nosuch\n1 - Error: Unknown command.\n";
    ASSERT_GE(r.out.size(), tail.size());
    EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail) << r.out;
    EXPECT_EQ(r.out.find("/other"), std::string::npos);
}

TEST_P(Startup, WithoutMachineTheTestBuildRefusesToRun) {
    RunResult r = RunProgramEnv(Width(), {"/x"}, {"PATH=/usr/bin:/bin"});
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("YOZ_EMU_MACHINE is not set"), std::string::npos) << r.err;
}

YOZ_E2E_BOTH_WIDTHS(Startup);

TEST(Yozemu, InitRefusesBadLayouts) {
    std::string base = TempDir("init");
    WriteFile(base + "/f.img", Filled(0x20000, 0xFF));
    EXPECT_EQ(RunTool({"init", base + "/m1", "--flash", base + "/f.img", "--blocks", "3x64K:main"}).status, 1)
        << "blocks must cover the flash exactly";
    EXPECT_EQ(RunTool({"init", base + "/m2", "--flash", base + "/f.img", "--blocks", "2x64K:bogus"}).status, 1);
    EXPECT_EQ(RunTool({"init", base + "/m3", "--flash", base + "/f.img"}).status, 2);
    EXPECT_EQ(RunTool({"init", base + "/m4", "--flash", base + "/f.img", "--blocks", "1x64K:nvram,1x64K:0x80"}).status,
              0);
    EXPECT_EQ(ReadFile(base + "/m4/flash.bin"), Filled(0x20000, 0xFF));
}

}  // namespace
