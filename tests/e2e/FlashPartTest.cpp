// The emulated flash part and the flash library, end to end.
#include "E2eHarness.h"

using namespace e2e;

namespace {

TEST(YozemuFlash, InitRefusesBadFlashSettings) {
    std::string base = TempDir("flashinit");
    WriteFile(base + "/f.img", Filled(0x20000, 0xFF));
    std::vector<std::string> init{"init", "", "--flash", base + "/f.img", "--blocks", "2x64K:main", "--set", ""};
    const char* bad[] = {"flash_faults=write#0:keep", "flash_info_form=huge", "flash_info_patch=0x10fff:0000"};
    int n = 0;
    for (const char* setting : bad) {
        init[1] = base + "/bad" + std::to_string(n++);
        init[7] = setting;
        RunResult r = RunTool(init);
        EXPECT_EQ(r.status, 1) << setting;
        EXPECT_NE(r.err.find("yozemu: bad"), std::string::npos) << r.err;
    }
    init[1] = base + "/good";
    init[7] = "flash_faults=write@0x10000#2+:keep;info:1";
    EXPECT_EQ(RunTool(init).status, 0);
}

}  // namespace
