// The firmware password and the firmware's ROM-ID verdict in the pre-flash
// check, end to end through the pipeline driver in a machine whose flash
// holds the sample ROM; keys come on standard input.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "E2eHarness.h"
#include "FlashLines.h"
#include "RomImageBuilder.h"
#include "UsageListing.h"

namespace {

std::string Str(const romimg::Bytes& b) { return std::string(b.begin(), b.end()); }

romimg::Rom Sample() {
    romimg::SampleSpec spec;
    romimg::FidSpec fid;
    fid.projectId = "PRJ00001";
    spec.mainFiles = {romimg::PlainFile(1, 0x300), romimg::FidFile(fid), romimg::PlainFile(2, 0x120)};
    spec.bootFiles = {romimg::PlainFile(3, 0x80)};
    return romimg::SampleRom(spec);
}

const char kChecks[] = "first size check 0\nfirst block check\n";
const char kAskPassword[] = " - Please enter password and then press enter.\n";

class PasswordRomId : public E2eWidth {
protected:
    e2e::Machine Machine(const std::vector<std::string>& sets) {
        return e2e::MakeMachine(Str(Sample().bytes), romimg::BlockSpec(romimg::SampleBlocks()), sets);
    }
    e2e::RunResult Run(const e2e::Machine& m, const std::string& spec, const std::string& keys = "") {
        std::string image = m.File("new.rom");
        romimg::WriteBytes(image, Sample().bytes);
        return e2e::RunTestBuild(Width(), YOZ_PIPEDRV64, YOZ_PIPEDRV32, m, {image, spec}, keys);
    }
    std::vector<std::string> PasswordTrace(const e2e::Machine& m) {
        std::vector<std::string> out;
        for (const std::string& line : e2e::TraceOfKind(m, "smi")) {
            size_t at = line.find("zokt=0x52 ");
            if (at != std::string::npos) out.push_back(line.substr(at));
        }
        return out;
    }
};

TEST_P(PasswordRomId, KeyboardPasswordAcceptedAfterARefusal) {
    e2e::Machine m = Machine({"password=secret"});
    e2e::RunResult r = Run(m, "/first:wf", "wrong\rsecret\r");
    EXPECT_EQ(r.out, e2e::PlainBanner() + kAskPassword + " - Password: *****\n - Password: ******\n" + e2e::FlashRead() +
                         kChecks);
    EXPECT_EQ(r.status, 0);
    std::vector<std::string> expected = {
        "zokt=0x52 ver=0x0210 fn=0x01 len=0x0006 status=0x01 rs=0x0001",
        "zokt=0x52 ver=0x0210 fn=0x02 len=0x0006 pwd=\"wrong\\x00\" status=0x01 rs=0x0001",
        "zokt=0x52 ver=0x0210 fn=0x02 len=0x0006 pwd=\"secret\" status=0x02 rs=0x0001"};
    EXPECT_EQ(PasswordTrace(m), expected);

    // A presence query whose answer was lost goes out again: the password is still asked for.
    e2e::Machine lost = Machine({"password=secret", "zokt_faults=0x52#1:none"});
    r = Run(lost, "/first:wf", "secret\r");
    EXPECT_EQ(r.out, e2e::PlainBanner() + kAskPassword + " - Password: ******\n" + e2e::FlashRead() + kChecks);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(PasswordTrace(lost), (std::vector<std::string>{"zokt=0x52 ver=0x0210 sub=0x00 answer=none fault=none",
                                                             expected[0], expected[2]}));
}

TEST_P(PasswordRomId, InputThatEndsStopsThePrompt) {
    e2e::Machine m = Machine({"password=secret", "password_text=Admin"});
    e2e::RunResult r = Run(m, "/first:wf", "sec");
    EXPECT_EQ(r.out, e2e::PlainBanner() + kAskPassword + " - Admin: ***\n" +
                         "9b - Error: Password Retry count exceeded.\n");
    EXPECT_EQ(r.status, 0x9B);
    EXPECT_EQ(PasswordTrace(m).size(), 1u) << "nothing unconfirmed is sent";
}

TEST_P(PasswordRomId, FirmwareThatAllowsNoAttempt) {
    e2e::Machine m = Machine({"password=secret", "password_tries=0"});
    e2e::RunResult r = Run(m, "/first:wf", "secret\r");
    EXPECT_EQ(r.out, e2e::PlainBanner() + "9b - Error: Password Retry count exceeded.\n");
    EXPECT_EQ(r.status, 0x9B);
}

TEST_P(PasswordRomId, FirmwareRomIdVerdict) {
    e2e::Machine same = Machine({"romid_answer=3", "romid_offset=0x1000", "romid_size=0x40"});
    e2e::RunResult r = Run(same, "/first:wfr");
    EXPECT_EQ(r.out, e2e::PlainBanner() + e2e::FlashRead() + kChecks);
    EXPECT_EQ(r.status, 0);

    // A refusal with the firmware's text: only that text is shown; a query
    // whose answer was lost goes out again.
    for (const char* lost : {"zokt_faults=", "zokt_faults=0x53#1:none"}) {
        e2e::Machine refused = Machine({"romid_answer=3", "romid_verdict=mismatch", "romid_text=Wrong board", lost});
        r = Run(refused, "/first:wfr");
        EXPECT_EQ(r.out, e2e::PlainBanner() + e2e::FlashRead() + kChecks + " - Wrong board \n") << lost;
        EXPECT_EQ(r.status, 0x81) << lost;
    }

    // A piece past the end of the image cannot match, whatever the firmware would say.
    e2e::Machine outside = Machine({"romid_answer=3", "romid_verdict=ok", "romid_offset=0xFFFFF0"});
    r = Run(outside, "/first:wfr");
    EXPECT_EQ(r.out, e2e::PlainBanner() + e2e::FlashRead() + kChecks + "81 - Error: ROM ID mismatch.\n");
    EXPECT_EQ(r.status, 0x81);
}

TEST_P(PasswordRomId, KeyboardAttemptsEndAfterThreeRefusals) {
    e2e::Machine m = Machine({"password=secret", "password_tries=10"});
    e2e::RunResult r = Run(m, "/first:wf", "a\rb\rc\rsecret\r");
    EXPECT_EQ(r.out, e2e::PlainBanner() + kAskPassword + " - Password: *\n - Password: *\n - Password: *\n" +
                         "9b - Error: Password Retry count exceeded.\n");
    EXPECT_EQ(r.status, 0x9B);
    EXPECT_EQ(PasswordTrace(m).size(), 4u) << "the query and three compares";
}

YOZ_E2E_BOTH_WIDTHS(PasswordRomId);

}  // namespace
