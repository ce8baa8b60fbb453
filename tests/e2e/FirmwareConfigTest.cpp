// The firmware's part in a run, end to end: the configuration words go to
// the firmware and its answer switches modules; the pattern query and check
// of the ROM file; "/CLNEVNLOG" clears the firmware's event log.
#include <gtest/gtest.h>
#include <algorithm>
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
const std::string kChecksums = " - FFS checksums ......... ok\n";
const std::string kCleared = " Clear Event Log ....... ok\n";

std::string Str(const Bytes& b) { return std::string(b.begin(), b.end()); }
std::string Head() { return e2e::PlainBanner() + e2e::FlashRead(); }

class FirmwareModules : public E2eWidth {
protected:
    romimg::SampleUpdate u = romimg::MakeSampleUpdate();
    FirmwareModules() {
        u.system.Fill(0, 2 * kBlock, 0x61);
        u.image.Fill(0, 2 * kBlock, 0x62);
    }
    // A machine with the sample system and the image as "new.rom".
    e2e::Machine Machine(const std::vector<std::string>& sets = {}) {
        return e2e::MakeSampleMachine(u, sets);
    }
    e2e::RunResult Run(const e2e::Machine& m, const std::vector<std::string>& args) {
        return e2e::RunProgram(Width(), m, args);
    }
    std::string Flash(const e2e::Machine& m) { return e2e::ReadFile(m.File("flash.bin")); }
    // The system with the image's NVRAM in place.
    std::string NvramFlashed() {
        Bytes b = u.system.bytes;
        std::copy(u.image.bytes.begin(), u.image.bytes.begin() + 2 * kBlock, b.begin());
        return Str(b);
    }
    // The ZOKT requests of type `type`, from the type on.
    static std::vector<std::string> Zokt(const e2e::Machine& m, const std::string& type) {
        std::vector<std::string> out;
        for (const std::string& line : e2e::TraceOfKind(m, "smi")) {
            size_t at = line.find(" zokt=" + type + " ");
            if (at != std::string::npos) out.push_back(line.substr(at + 1));
        }
        return out;
    }
};

TEST_P(FirmwareModules, ConfigurationWordsReachTheFirmwareAndItsAnswerSwitchesModules) {
    // A clearing word leaves the command line; setting words stay for their
    // modules; the event log is cleared after the flash.
    e2e::Machine m = Machine();
    e2e::RunResult r = Run(m, {"new.rom", "/N", "~REBOOT", "/CLNEVNLOG"});
    EXPECT_EQ(r.out, Head() + kChecksums + e2e::Passes("NVRAM", {0, kBlock}) + kCleared);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Flash(m), NvramFlashed());
    EXPECT_EQ(Zokt(m, "0x51"), std::vector<std::string>{"zokt=0x51 ver=0x0210 disable=0x00000040 "
                                                        "enable=0x00004004 answer=echo rs=0x0001"});
    EXPECT_EQ(Zokt(m, "0x58"), std::vector<std::string>{"zokt=0x58 ver=0x0210 func=0x0001 status=0x0001 rs=0x0001"});

    // The firmware switches "/Q" on: nothing after the banner is printed.
    e2e::Machine q = Machine({"cfg_answer=masks", "cfg_enable=0x20"});
    e2e::RunResult rq = Run(q, {"new.rom", "/N"});
    EXPECT_EQ(rq.out, e2e::PlainBanner());
    EXPECT_EQ(rq.status, 0) << rq.err;
    EXPECT_EQ(Flash(q), NvramFlashed());

    // The firmware's error-out stops the run before the flash is read, after
    // its text; a request whose answer was lost goes out again.
    for (const char* lost : {"zokt_faults=", "zokt_faults=0x51#1:none"}) {
        e2e::Machine e = Machine({"cfg_answer=error", "cfg_text=Locked by owner", lost});
        e2e::RunResult re = Run(e, {"new.rom", "/N"});
        EXPECT_EQ(re.out, e2e::PlainBanner() + " Locked by owner \nd - Error: BIOS Report Error.\n") << lost;
        EXPECT_EQ(re.status, 0x0D) << lost;
        EXPECT_EQ(Flash(e), Str(u.system.bytes)) << lost;
    }
}

TEST_P(FirmwareModules, ClearEventLogAloneNeedsNoRomFileAndReportsTheFirmwareRefusal) {
    e2e::Machine m = Machine();
    e2e::RunResult r = Run(m, {"/clnevnlog"});
    EXPECT_EQ(r.out, Head() + kCleared);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Zokt(m, "0x5c").empty()) << "no region is opened: no pattern query";

    struct Case {
        const char* set;
        int status;
        const char* line;
    } cases[] = {
        {"evlog_status=2", 0xBA, "ba - Error: Clear event log error.\n"},
        {"evlog_status=4", 0xB9, "b9 - Error: BIOS doesn't support Clear event log function.\n"},
        {"zokt_version=0", 0xB9, "b9 - Error: BIOS doesn't support Clear event log function.\n"},
    };
    for (const Case& c : cases) {
        e2e::Machine f = Machine({c.set});
        e2e::RunResult rf = Run(f, {"/CLNEVNLOG"});
        EXPECT_EQ(rf.out, Head() + c.line) << c.set;
        EXPECT_EQ(rf.status, c.status) << c.set;
    }
}

TEST_P(FirmwareModules, PatternQueryChecksTheRomFileBeforeAnyFlashWork) {
    // Eight bytes of the image's main block; the firmware gets 0x400 bytes
    // from their first place in the file.
    const size_t from = romimg::kSampleMain + 0x40;
    Bytes pattern(u.image.bytes.begin() + from, u.image.bytes.begin() + from + 8);
    size_t at = std::search(u.image.bytes.begin(), u.image.bytes.end(), pattern.begin(), pattern.end()) -
                u.image.bytes.begin();
    std::string hex;
    for (uint8_t b : pattern) hex += "0123456789abcdef"[b >> 4], hex += "0123456789abcdef"[b & 15];

    e2e::Machine m = Machine({"pattern_hex=" + hex, "pattern_form=0x88", "pattern_text=Checked"});
    e2e::RunResult r = Run(m, {"new.rom", "/N"});
    EXPECT_EQ(r.out, e2e::PlainBanner() + " Checked \n Checked \n" + e2e::FlashRead() + kChecksums +
                         e2e::Passes("NVRAM", {0, kBlock}));
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::string> requests = Zokt(m, "0x5c");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].find("zokt=0x5c ver=0x0210 pat=0x01 form=0x88 status=0x01 send=0x0000 "), 0u) << requests[0];
    EXPECT_EQ(requests[1].find("zokt=0x5c ver=0x0210 pat=0x02 n=0x0400 addr=0x7e000400 "), 0u) << requests[1];
    EXPECT_EQ(e2e::ReadFile(m.File("state/pattern_data")), Str(Bytes(u.image.bytes.begin() + at,
                                                                     u.image.bytes.begin() + at + 0x400)));
    EXPECT_EQ(Flash(m), NvramFlashed());

    // A pattern the file lacks: the firmware refuses it and nothing is read or
    // flashed; a query whose answer was lost goes out again.
    for (const char* lost : {"zokt_faults=", "zokt_faults=0x5c#1:none"}) {
        e2e::Machine no = Machine({"pattern=NOT IN THE IMAGE", lost});
        e2e::RunResult rn = Run(no, {"new.rom", "/N"});
        EXPECT_EQ(rn.out, e2e::PlainBanner() + "d - Error: BIOS Report Error.\n") << lost;
        EXPECT_EQ(rn.status, 0x0D) << lost;
        EXPECT_EQ(Zokt(no, "0x5c").back(), "zokt=0x5c ver=0x0210 pat=0x04 status=0x02 rs=0x0001") << lost;
        EXPECT_EQ(Flash(no), Str(u.system.bytes)) << lost;
    }
}

}  // namespace

YOZ_E2E_BOTH_WIDTHS(FirmwareModules);
