// The manufacturing switch asks the firmware for its option words while the
// modules register, right after the configuration module's version
// handshake, in both widths (the record ends with a pointer: 13
// bytes in the 64-bit build, 9 in the 32-bit build); the ME-region module
// follows with the ME version query and the region table, on every run.
#include "E2eHarness.h"

using namespace e2e;

namespace {

class Mfg : public E2eWidth {};

std::vector<std::string> ZoktFields(const Machine& m) {
    std::vector<std::string> out;
    for (const std::string& line : TraceOfKind(m, "smi")) {
        size_t at = line.find(" zokt=");
        if (line.rfind("smi cmd=0x26 ", 0) == 0 && at != std::string::npos) out.push_back(line.substr(at + 1));
    }
    return out;
}

TEST_P(Mfg, TableIsAskedForOnceAtRegistration) {
    const char* size = Width() == 64 ? "0x0d" : "0x09";
    Machine m = MakeMachine(Filled(0x40000, 0xFF), "4x64K:main",
                            {"mfg=1", "mfg_table=1|/pw:|Password file;7|/DU|Delete trailer"});
    RunResult r = RunProgram(Width(), m, {});
    EXPECT_EQ(r.status, 0) << r.out;
    const std::string kHandshake = "zokt=0x00 ver=0x0000 rs=0x0001";
    const std::string kMeVersion = "zokt=0x55 ver=0x0210 sub=0x0b size=0x0018 query=ok done=1 rs=0x0001";
    const std::string kMeTable = "zokt=0x55 ver=0x0210 sub=0x09 size=0x0532 done=0 rs=0x0001";
    EXPECT_EQ(ZoktFields(m), (std::vector<std::string>{kHandshake,
                                                       std::string("zokt=0x71 ver=0x0210 size=") + size +
                                                           " mfg=0x01 offset=0x10 count=0x0002 entries=0x0002 rs=0x0001",
                                                       kMeVersion, kMeTable}));

    // Outside manufacturing mode, and without ZOKT, the run goes on the same way.
    Machine plain = MakeMachine(Filled(0x40000, 0xFF), "4x64K:main");
    RunResult p = RunProgram(Width(), plain, {});
    EXPECT_EQ(p.status, 0);
    EXPECT_EQ(p.out, r.out);
    EXPECT_EQ(ZoktFields(plain), (std::vector<std::string>{kHandshake,
                                                           std::string("zokt=0x71 ver=0x0210 size=") + size +
                                                               " mfg=0x02 rs=0x0001",
                                                           kMeVersion, kMeTable}));
    Machine none = MakeMachine(Filled(0x40000, 0xFF), "4x64K:main", {"zokt_version=0"});
    RunResult n = RunProgram(Width(), none, {"/nosuch"});
    EXPECT_EQ(n.status, 1);
    EXPECT_EQ(ZoktFields(none), (std::vector<std::string>{"zokt=0x00 ver=0x0000 answer=none",
                                                          "zokt=0x71 ver=0x0000 answer=none",
                                                          "zokt=0x55 ver=0x0000 answer=none",
                                                          "zokt=0x55 ver=0x0000 answer=none"}));
}

YOZ_E2E_BOTH_WIDTHS(Mfg);

}  // namespace
