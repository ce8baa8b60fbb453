// "/CMD:" and "/OEMCMD:" end to end: their requests reach the firmware at
// the begin, start, after and begin-end stages around the flash, a refused
// request stops the run, and malformed or oversized values are refused.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "E2eHarness.h"
#include "FlashLines.h"
#include "SampleMachine.h"
#include "SampleUpdate.h"
#include "UsageListing.h"

namespace {

using romimg::Bytes;
const uint32_t kBlock = 0x10000;

std::string Str(const Bytes& b) { return std::string(b.begin(), b.end()); }

class OemCmd : public E2eWidth {
protected:
    romimg::SampleUpdate u = romimg::MakeSampleUpdate();
    OemCmd() { u.image.Fill(0, 2 * kBlock, 0x62); }
    e2e::Machine Machine(const std::vector<std::string>& sets = {}) {
        return e2e::MakeSampleMachine(u, sets);
    }
    e2e::RunResult Run(const e2e::Machine& m, const std::vector<std::string>& args) {
        return e2e::RunProgram(Width(), m, args);
    }
    // The flash and OEM command requests in order, runs of one flash request kind as one.
    static std::vector<std::string> Stages(const e2e::Machine& m) {
        std::vector<std::string> out;
        for (const std::string& line : e2e::TraceOfKind(m, "smi")) {
            std::string what;
            const std::string oem = "zokt=0x57 ver=0x0210 code=";
            size_t at = line.find(oem);
            if (at != std::string::npos) {
                at += oem.size();
                what = line.substr(at, line.find(" status=") - at);
            } else {
                for (const char* kind : {"0x21 read", "0x22 erase", "0x23 write"})
                    if (line.find(std::string("cmd=") + std::string(kind, 4) + " ") != std::string::npos) what = kind + 5;
            }
            if (!what.empty() && (out.empty() || out.back() != what)) out.push_back(what);
        }
        return out;
    }
};

TEST_P(OemCmd, RequestsGoOutAtEachStageOfTheFlash) {
    // The text typed with a blank arrives as two words, joined again; "cd}"
    // is no word of its own any more.
    e2e::Machine m = Machine({"oemcmd_text=noted"});
    e2e::RunResult r = Run(m, {"new.rom", "/N", "/CMD:{ab", "cd}", "/oemcmd:0x1F"});
    const std::string noted = " - noted\n";
    EXPECT_EQ(r.out, e2e::PlainBanner() + noted + noted + e2e::FlashRead() + " - FFS checksums ......... ok\n" + noted +
                         noted + e2e::Passes("NVRAM", {0, kBlock}) + noted + noted);
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string text = "value=0x00000400 len=0x00000005 text=\"ab cd\"";
    EXPECT_EQ(Stages(m), (std::vector<std::string>{
                             "0x0005 " + text, "0x0001 value=0x0000001f len=0x00000000", "read",
                             "0x0006 " + text, "0x0004 value=0x0000001f len=0x00000000", "erase", "write", "read",
                             "0x0007 " + text, "0x0008 " + text}))
        << "nothing is sent for \"/OEMCMD:\" after the flash";
}

TEST_P(OemCmd, ARefusedRequestStopsTheRunAndBadValuesAreRefused) {
    // The begin request of "/CMD:" fails: nothing is read or flashed.
    e2e::Machine m = Machine({"oemcmd_status_5=4"});
    e2e::RunResult r = Run(m, {"new.rom", "/N", "/CMD:{x}"});
    EXPECT_EQ(r.out, e2e::PlainBanner() + "d - Error: BIOS Report Error.\n");
    EXPECT_EQ(r.status, 0x0D);
    EXPECT_EQ(Stages(m), std::vector<std::string>{"0x0005 value=0x00000400 len=0x00000001 text=\"x\""});

    // Every hexadecimal form gives 0x1F; a firmware without the request stops the run.
    for (const char* value : {"1F", "1f", "0x1F"}) {
        e2e::Machine f = Machine({"oemcmd_status=2"});
        e2e::RunResult rf = Run(f, {"new.rom", std::string("/OEMCMD:") + value});
        EXPECT_EQ(rf.out, e2e::PlainBanner() + "ae - Error: BIOS doesn't support OEMCMD function.\n") << value;
        EXPECT_EQ(rf.status, 0xAE) << value;
        EXPECT_EQ(Stages(f), std::vector<std::string>{"0x0001 value=0x0000001f len=0x00000000"}) << value;
    }

    // Refused before anything is sent: a value past 32 bits, a text past 255
    // characters, "/CMD:" with nothing else; a text without its closing
    // brace leaves the option word unknown (the words it took are gone).
    const std::string usageError = e2e::UsageListing(Width()) + "1 - Error: Unknown command.\n";
    struct Case {
        std::vector<std::string> args;
        std::string out;
    } cases[] = {
        {{"new.rom", "/OEMCMD:123456789"}, usageError},
        {{"new.rom", "/CMD:{" + std::string(250, 'a'), std::string(5, 'b') + "}"}, usageError},
        {{"/CMD:{x}"}, usageError},
        {{"new.rom", "/CMD:{abc", "def"}, e2e::UnknownWordListing(Width(), "/CMD:{abc")},
    };
    e2e::Machine b = Machine();
    for (const Case& c : cases) {
        e2e::RunResult rb = Run(b, c.args);
        EXPECT_EQ(rb.out, c.out) << c.args.back();
        EXPECT_EQ(rb.status, 1) << c.args.back();
    }
    EXPECT_TRUE(Stages(b).empty());
    EXPECT_EQ(e2e::ReadFile(b.File("flash.bin")), Str(u.system.bytes));
}

}  // namespace

YOZ_E2E_BOTH_WIDTHS(OemCmd);
