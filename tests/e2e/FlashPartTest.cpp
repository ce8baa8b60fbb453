// The flash library against the emulated flash part, end to end: the test
// driver runs the program's own start-up, the BIOS-information module and
// the flash requests in an emulated machine, then the program's shutdown.
#include "E2eHarness.h"

#ifndef YOZ_FLASHDRV64
#define YOZ_FLASHDRV64 ""
#define YOZ_FLASHDRV32 ""
#endif

using namespace e2e;

namespace {

const char kBlocks[] = "1x64K:boot,2x64K:main,1x64K:nvram";
const char kHole[] = " ebx=0x7e000000";

class FlashLib : public E2eWidth {
protected:
    RunResult Drive(const Machine& m, const std::vector<std::string>& calls) {
        return RunTestBuild(Width(), YOZ_FLASHDRV64, YOZ_FLASHDRV32, m, calls);
    }
    // The flash requests of the trace (0x20-0x2F), without the platform's.
    static std::vector<std::string> FlashSmis(const Machine& m) {
        std::vector<std::string> out;
        for (const auto& l : TraceOfKind(m, "smi")) {
            if (l.compare(0, 11, "smi cmd=0x2") == 0) out.push_back(l);
        }
        return out;
    }
    static std::string Smi(const std::string& cmd, const std::string& fields) {
        return "smi cmd=" + cmd + " port=0xb2" + kHole + fields;
    }
    static std::string Block(const char* cmd, unsigned addr, unsigned size, unsigned status, const char* extra = "") {
        char text[128];
        snprintf(text, sizeof(text), " addr=0x%08x size=0x%08x status=0x%02x%s", addr, size, status, extra);
        return Smi(cmd, text);
    }
    static std::string Pattern(size_t size, unsigned first) {
        std::string s(size, '\0');
        for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>(first + i);
        return s;
    }
    static std::string Flash(const Machine& m) { return ReadFile(m.File("flash.bin")); }
};

const std::string kOpen = " status=0x00";
const std::string kInfo = " info=head16 status=0x00";

TEST_P(FlashLib, OpenRefusalsEndTheRunWithoutAskingForTheRomInformation) {
    const struct {
        int status;
        const char* line;
        int exitCode;
    } cases[] = {{1, "40 - Error: BIOS is write-protected.\n", 64},
                 {2, "48 - Error: Power cord not connected. Plug in power cord to flash.\n", 72},
                 {3, "49 - Error: A platform condition has prevented flashing.\n", 73}};
    for (const auto& c : cases) {
        Machine m = MakeMachine(Filled(0x40000, 0x5A), kBlocks, {"flash_open_status=" + std::to_string(c.status)});
        RunResult r = Drive(m, {"exec", "table"});
        char exec[32];
        snprintf(exec, sizeof(exec), "exec=0x%x\n", c.exitCode);
        EXPECT_EQ(r.out, exec + std::string(c.line));
        EXPECT_EQ(r.status, c.exitCode);
        EXPECT_EQ(FlashSmis(m), (std::vector<std::string>{Smi("0x20", " status=0x0" + std::to_string(c.status))}))
            << "no 0x25, and no close of an interface that never opened";
        EXPECT_EQ(Flash(m), Filled(0x40000, 0x5A));
    }
}

TEST_P(FlashLib, BiosInformationReadsTheTableAndClosesTheInterfaceAtShutdown) {
    Machine m = MakeMachine(Filled(0x40000, 0xFF), kBlocks, {"ec_version_offset=0x1234", "ec_version_mask=0xff"});
    RunResult r = Drive(m, {"exec", "table"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "exec=0x0\n"
              "table rom=0x40000 block=0x10000 count=4 form=0x0c large=0 idlen=0x05 v=1 ec=0x1234/0xff "
              "chip=\"EMULATED SPI FLASH\"\n"
              "  0x00000000 0x00010000 0x00\n"
              "  0x00010000 0x00010000 0x01\n"
              "  0x00020000 0x00010000 0x01\n"
              "  0x00030000 0x00010000 0x02\n");
    EXPECT_EQ(FlashSmis(m), (std::vector<std::string>{Smi("0x20", kOpen), Smi("0x25", kInfo), Smi("0x24", "")}));
}

TEST_P(FlashLib, RomInformationFailuresAndAcceptedForms) {
    // Status 1 with form 0: not given.
    Machine a = MakeMachine(Filled(0x40000, 0xFF), kBlocks,
                            {"flash_info_form=short", "flash_info_status=1", "flash_info_version=0"});
    RunResult r = Drive(a, {"exec"});
    EXPECT_EQ(r.out, "exec=0x46\n46 - Error: Problem getting flash information.\n");
    EXPECT_EQ(r.status, 70);
    EXPECT_EQ(FlashSmis(a),
              (std::vector<std::string>{Smi("0x20", kOpen), Smi("0x25", " info=short status=0x01"), Smi("0x24", "")}));

    // Status 1 with form 0x0C: accepted.
    Machine b = MakeMachine(Filled(0x40000, 0xFF), kBlocks, {"flash_info_status=1"});
    r = Drive(b, {"exec", "table"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("exec=0x0\ntable rom=0x40000 block=0x10000 count=4 form=0x0c"), std::string::npos) << r.out;

    // The short form: the block size is entry 0's size, not a field inside entry 1.
    Machine c = MakeMachine(Filled(0x40000, 0xFF), "2x32K:nvram,3x64K:main", {"flash_info_form=short"});
    r = Drive(c, {"exec", "table"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("table rom=0x40000 block=0x8000 count=5 form=0x01"), std::string::npos) << r.out;

    // Entry 0 of size 0: no block size.
    Machine d = MakeMachine(Filled(0x40000, 0xFF), kBlocks, {"flash_info_patch=0x14:00000000"});
    r = Drive(d, {"exec"});
    EXPECT_EQ(r.out, "exec=0x4d\n4d - Error: Get block size error.\n");
    EXPECT_EQ(r.status, 77);

    // A block table with a gap does not tile the ROM.
    Machine e = MakeMachine(Filled(0x40000, 0xFF), kBlocks, {"flash_info_patch=0x22:00800200"});
    r = Drive(e, {"exec", "table"});
    EXPECT_EQ(r.out, "exec=0x46\n46 - Error: Problem getting flash information.\n");

    // No "$BPT" and no "$FPS": length unknown, no V flag, no part text.
    Machine f = MakeMachine(Filled(0x40000, 0xFF), kBlocks, {"bpt=0", "fps_text=none"});
    r = Drive(f, {"exec", "table"});
    EXPECT_NE(r.out.find("idlen=0xff v=0 ec=0x0/0x0 chip=\"\""), std::string::npos) << r.out;
}

TEST_P(FlashLib, LargeFormIsAskedAgainAndCutIntoTheSameBlocksAsTheHead16Form) {
    const char blocks[] = "4x64K:nvram,10x64K:main,2x64K:boot";
    Machine head = MakeMachine(Filled(0x100000, 0xFF), blocks);
    Machine large = MakeMachine(Filled(0x100000, 0xFF), blocks, {"flash_info_form=large", "flash_info_status=3"});
    RunResult rh = Drive(head, {"exec", "table"});
    RunResult rl = Drive(large, {"exec", "table"});
    ASSERT_EQ(rh.status, 0);
    ASSERT_EQ(rl.status, 0) << rl.out;
    EXPECT_NE(rl.out.find("table rom=0x100000 block=0x10000 count=16 form=0x0e large=1"), std::string::npos) << rl.out;
    EXPECT_EQ(rl.out.substr(rl.out.find("\n  0x")), rh.out.substr(rh.out.find("\n  0x")));
    EXPECT_EQ(FlashSmis(large),
              (std::vector<std::string>{Smi("0x20", kOpen), Smi("0x25", " info=large status=0x03"),
                                        Smi("0x25", " info=large-retry b4=0x03 status=0x00"), Smi("0x24", "")}))
        << "the retry carries byte 5 = 0x0E and the first answer's byte 4";

    Machine refused = MakeMachine(Filled(0x100000, 0xFF), blocks, {"flash_info_form=large", "flash_info_retry_status=1"});
    RunResult r = Drive(refused, {"exec"});
    EXPECT_EQ(r.status, 0x46);
    EXPECT_EQ(FlashSmis(refused).size(), 4u);

    // Blocks larger than the interface buffer can carry are refused.
    Machine big = MakeMachine(Filled(0x100000, 0xFF), blocks, {"flash_info_form=large", "flash_info_block_size=0x20000"});
    r = Drive(big, {"exec"});
    EXPECT_EQ(r.out, "exec=0x4d\n4d - Error: Get block size error.\n");
}

TEST_P(FlashLib, RetryingRequestsRepeatOnlyUnansweredRequests) {
    // Never answered: five sends per chunk, each with its callback, then failure.
    Machine m = MakeMachine(Filled(0x40000, 0xFF), kBlocks, {"flash_faults=write@0x10000:keep"});
    RunResult r = Drive(m, {"exec", "write:0x10000,0x10000,1"});
    std::string cb = "  cb 0x10000 0x40000 0x10000\n";
    EXPECT_EQ(r.out, "exec=0x0\n" + cb + cb + cb + cb + cb + "write=0\n");
    std::vector<std::string> smis = FlashSmis(m);
    ASSERT_EQ(smis.size(), 8u);
    for (int i = 2; i < 7; ++i) EXPECT_EQ(smis[i], Block("0x23", 0x10000, 0x10000, 0xFF, " fault=keep"));
    EXPECT_EQ(Flash(m), Filled(0x40000, 0xFF));

    // Status 1 fails at once; status 2 is success for this family.
    Machine f = MakeMachine(Filled(0x40000, 0xFF), kBlocks, {"flash_faults=write#1:1;erase#1:2"});
    r = Drive(f, {"exec", "write:0x10000,0x10000,1", "erase:0x20000,0x10000", "write:0x20000,0x10000,1"});
    EXPECT_EQ(r.out, "exec=0x0\n" + cb + "write=0\n  cb 0x20000 0x40000 0x10000\nerase=1\n"
                     "  cb 0x20000 0x40000 0x10000\nwrite=1\n");
    EXPECT_EQ(FlashSmis(f)[2], Block("0x23", 0x10000, 0x10000, 0x01, " fault=1"));
    EXPECT_EQ(FlashSmis(f)[3], Block("0x22", 0x20000, 0x10000, 0x02, " fault=2"));
    EXPECT_EQ(Flash(f).substr(0x20000, 0x10000), Pattern(0x10000, 1));
}

TEST_P(FlashLib, ChunkedRequestsSendTheRemainderAndVerifyComparesTheData) {
    Machine m = MakeMachine(Filled(0x40000, 0xFF), kBlocks);
    RunResult r = Drive(m, {"exec", "erase:0x10000,0x20000", "write:0x10000,0x18000,3", "verify:0x10000,0x18000,3",
                            "verify:0x10000,0x18000,4"});
    EXPECT_EQ(r.out,
              "exec=0x0\n"
              "  cb 0x10000 0x40000 0x20000\nerase=1\n"
              "  cb 0x10000 0x40000 0x10000\n  cb 0x20000 0x40000 0x8000\nwrite=1\n"
              "  cb 0x10000 0x40000 0x10000\n  cb 0x20000 0x40000 0x8000\nverify=1\n"
              "  cb 0x10000 0x40000 0x10000\nverify=0\n");
    std::vector<std::string> smis = FlashSmis(m);
    std::vector<std::string> expected{Smi("0x20", kOpen),
                                      Smi("0x25", kInfo),
                                      Block("0x22", 0x10000, 0x20000, 0),
                                      Block("0x23", 0x10000, 0x10000, 0),
                                      Block("0x23", 0x20000, 0x8000, 0),
                                      Block("0x21", 0x10000, 0x10000, 0),
                                      Block("0x21", 0x20000, 0x8000, 0),
                                      Block("0x21", 0x10000, 0x10000, 0),
                                      Smi("0x24", "")};
    EXPECT_EQ(smis, expected) << "a mismatch fails at once, without another request";
    std::string flash = Flash(m);
    EXPECT_EQ(flash.substr(0x10000, 0x18000), Pattern(0x18000, 3));
    EXPECT_EQ(flash.substr(0x28000, 0x8000), Filled(0x8000, 0xFF));
}

TEST_P(FlashLib, VerifyOfAnUnansweredReadFails) {
    Machine m = MakeMachine(Filled(0x40000, 0x00), kBlocks, {"flash_faults=read:keep"});
    RunResult r = Drive(m, {"exec", "verify:0x10000,1,0"});
    EXPECT_EQ(r.out, "exec=0x0\nverify=0\n") << "a zeroed buffer must not pass for an all-zero block";
    EXPECT_EQ(FlashSmis(m).size(), 8u);
    EXPECT_EQ(FlashSmis(m)[2], Block("0x21", 0x10000, 1, 0xFF, " fault=keep"));

    // The single request: after a write whose bytes came out wrong, the
    // interface buffer still holds the written bytes; an unanswered read
    // must not compare them with themselves.
    Machine w = MakeMachine(Filled(0x40000, 0xFF), kBlocks, {"flash_faults=write:corrupt;read:keep"});
    RunResult single = Drive(w, {"exec", "writex:0x10000,0x100,5", "verifyx:0x10000,0x100,5"});
    EXPECT_EQ(single.out, "exec=0x0\n  cb 0x100 0x10000 0x0\nwritex=0x0\n  cb 0x100 0x10000 0x45\nverifyx=0x45\n");
    EXPECT_NE(Flash(w).substr(0x10000, 0x100), Pattern(0x100, 5)) << "the flash really differs";
}

TEST_P(FlashLib, SingleRequestsReportTheirOwnErrorsAndCanBeRepeated) {
    Machine m = MakeMachine(Filled(0x40000, 0xFF), kBlocks, {"flash_faults=write#1:1;read#1:2"});
    RunResult r = Drive(m, {"retry", "exec", "writex:0x20000,0x100,5", "retry", "readx:0x20000,0x100", "verifyx:0x20000,0x100,5",
                            "verifyx:0x20000,0x100,6", "readx:0,0x11000", "readblock:0x8000,0x18000", "readblock:0,0"});
    EXPECT_EQ(r.out,
              "retry=0x0\n"
              "exec=0x0\n"
              "  cb 0x100 0x20000 0x44\nwritex=0x44\n"
              "  cb 0x100 0x20000 0x0\nretry=0x0\n"
              "  cb 0x100 0x20000 0x42\nreadx=0x42 sum=0x7f80\n"
              "  cb 0x100 0x20000 0x0\nverifyx=0x0\n"
              "  cb 0x100 0x20000 0x45\nverifyx=0x45\n"
              "  cb 0x11000 0x0 0x42\nreadx=0x42 sum=0x0\n"
              "  cb 0x18000 0x0 0x0\n  cb 0x18000 0x10000 0x0\n  cb 0x18000 0x18000 0x0\nreadblock=0x0 sum=0x17e8000\n"
              "  cb 0x0 0x0 0x0\nreadblock=0x0 sum=0x0\n");
    std::vector<std::string> expected{Smi("0x20", kOpen),
                                      Smi("0x25", kInfo),
                                      Block("0x23", 0x20000, 0x100, 1, " fault=1"),
                                      Block("0x23", 0x20000, 0x100, 0),
                                      Block("0x21", 0x20000, 0x100, 2, " fault=2"),
                                      Block("0x21", 0x20000, 0x100, 0),
                                      Block("0x21", 0x20000, 0x100, 0),
                                      Block("0x21", 0x8000, 0x10000, 0),
                                      Block("0x21", 0x18000, 0x8000, 0),
                                      Smi("0x24", "")};
    EXPECT_EQ(FlashSmis(m), expected) << "no request before the first single request, for 0x11000 bytes or for 0 bytes";
    EXPECT_EQ(Flash(m).substr(0x20000, 0x100), Pattern(0x100, 5));
}

TEST_P(FlashLib, EraseClearsWholeBlocksAndNorWritesOnlyClearBits) {
    std::string image = Pattern(0x40000, 0);
    Machine plain = MakeMachine(image, kBlocks);
    RunResult r = Drive(plain, {"exec", "erasex:0x18000,0x10", "writex:0x10000,0x10,0x40"});
    EXPECT_EQ(r.status, 0) << r.out;
    std::string flash = Flash(plain);
    EXPECT_EQ(flash.substr(0, 0x10000), image.substr(0, 0x10000));
    EXPECT_EQ(flash.substr(0x10000, 0x10), Pattern(0x10, 0x40));
    EXPECT_EQ(flash.substr(0x10010, 0xFFF0), Filled(0xFFF0, 0xFF));
    EXPECT_EQ(flash.substr(0x20000), image.substr(0x20000));

    Machine nor = MakeMachine(Filled(0x40000, 0xF0), kBlocks);
    r = Drive(nor, {"exec", "writex:0,0x4,0x0e", "erasex:0x10000,1", "writex:0x10000,0x4,0x0e"});
    flash = Flash(nor);
    EXPECT_EQ(flash.substr(0, 4), std::string("\x00\x00\x10\x10", 4)) << "0xF0 & (0x0E..0x11)";
    EXPECT_EQ(flash.substr(0x10000, 4), Pattern(4, 0x0E));
}

TEST_P(FlashLib, CorruptedDataIsCaughtByTheVerify) {
    Machine m = MakeMachine(Filled(0x40000, 0xFF), kBlocks, {"flash_faults=write@0x10010#1:corrupt"});
    // NOR flash keeps the cleared bit of the corrupted write until an erase.
    RunResult r = Drive(m, {"exec", "writex:0x10000,0x100,0", "verifyx:0x10000,0x100,0", "retry", "erasex:0x10000,0x100",
                            "writex:0x10000,0x100,0", "verifyx:0x10000,0x100,0"});
    EXPECT_NE(r.out.find("writex=0x0\n  cb 0x100 0x10000 0x45\nverifyx=0x45\n  cb 0x100 0x10000 0x45\nretry=0x45\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("writex=0x0\n  cb 0x100 0x10000 0x0\nverifyx=0x0\n"), std::string::npos) << r.out;
    EXPECT_EQ(FlashSmis(m)[2], Block("0x23", 0x10000, 0x100, 0, " fault=corrupt"));
    EXPECT_EQ(Flash(m).substr(0x10000, 0x100), Pattern(0x100, 0)) << "the rewrite after the erase stores every byte";
}

TEST_P(FlashLib, LayoutChangeAndOemSmi) {
    Machine m = MakeMachine(Filled(0x40000, 0xFF), kBlocks);
    RunResult r = Drive(m, {"exec", "layout:0x20,7", "layout:0x10fe8,0", "oem:0x5b"});
    EXPECT_EQ(r.out, "exec=0x0\nlayout=0x0\nlayout=0x46\noem=1\n");
    EXPECT_EQ(ReadFile(m.File("state/layout")), Pattern(0x20, 7));
    std::vector<std::string> smis = FlashSmis(m);
    ASSERT_EQ(smis.size(), 4u) << "a layout too long for the buffer is not sent";
    EXPECT_EQ(smis[2], Smi("0x25", " layout size=0x00000020 status=0x00"));
    std::vector<std::string> all = TraceOfKind(m, "smi");
    EXPECT_EQ(all[all.size() - 2], "smi cmd=0x5b port=0xb2" + std::string(kHole) + " unhandled");
}

TEST_P(FlashLib, AsfShadowBeforeEveryRequestButTheOpenWhenThePortComesFromAsf) {
    Machine m = MakeMachine(Filled(0x40000, 0xFF), kBlocks, {"fadt_smi_cmd=0", "asf_port=0xb0"});
    RunResult r = Drive(m, {"exec", "read:0,0x10", "erasex:0,0x10"});
    EXPECT_EQ(r.status, 0) << r.out;
    std::vector<std::string> smis = FlashSmis(m);
    ASSERT_EQ(smis.size(), 5u);
    EXPECT_EQ(smis[0], "smi cmd=0x20 port=0xb0" + std::string(kHole) + " status=0x00 asf=stale");
    EXPECT_EQ(smis[1], "smi cmd=0x25 port=0xb0" + std::string(kHole) + " info=head16 status=0x00 asf=ok");
    EXPECT_EQ(smis[2], "smi cmd=0x21 port=0xb0" + std::string(kHole) + " addr=0x00000000 size=0x00000010 status=0x00 asf=ok");
    EXPECT_EQ(smis[4], "smi cmd=0x24 port=0xb0" + std::string(kHole) + " asf=ok");

    // With the port from the FADT nothing is shadowed.
    Machine fadt = MakeMachine(Filled(0x40000, 0xFF), kBlocks, {"asf_port=0xb0"});
    Drive(fadt, {"exec"});
    for (const auto& l : FlashSmis(fadt)) {
        EXPECT_NE(l.find("port=0xb2"), std::string::npos) << l;
        EXPECT_EQ(l.find("asf=ok"), std::string::npos) << l;
    }
}

TEST_P(FlashLib, AsfRecordsAtTheEndOfTheBiosAreaAreReadOnlyAsFarAsTheyLie) {
    // The port field lies inside the area, the body does not: the port is
    // used, nothing is shadowed.
    Machine body = MakeMachine(Filled(0x40000, 0xFF), kBlocks, {"fadt_smi_cmd=0", "asf_port=0xb0", "asf_addr=0xffff0"});
    RunResult r = Drive(body, {"exec"});
    EXPECT_EQ(r.status, 0) << r.out;
    std::vector<std::string> smis = FlashSmis(body);
    ASSERT_EQ(smis.size(), 3u);
    EXPECT_EQ(smis[1], "smi cmd=0x25 port=0xb0" + std::string(kHole) + " info=head16 status=0x00 asf=bad");

    // The port field lies past the area: no record, the default port.
    Machine port = MakeMachine(Filled(0x40000, 0xFF), kBlocks, {"fadt_smi_cmd=0", "asf_port=0xb0", "asf_addr=0xffff4"});
    r = Drive(port, {"exec"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(FlashSmis(port), (std::vector<std::string>{Smi("0x20", kOpen), Smi("0x25", kInfo), Smi("0x24", "")}));

    // A header too short to hold the port is no record: its body would lie
    // over the header. The default port, nothing shadowed.
    Machine shortHeader =
        MakeMachine(Filled(0x40000, 0xFF), kBlocks, {"fadt_smi_cmd=0", "asf_port=0xb0", "asf_header=0x08"});
    r = Drive(shortHeader, {"exec"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(FlashSmis(shortHeader),
              (std::vector<std::string>{Smi("0x20", kOpen), Smi("0x25", kInfo), Smi("0x24", "")}));
}

YOZ_E2E_BOTH_WIDTHS(FlashLib);

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
