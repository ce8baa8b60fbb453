// The pre-flash check and the global end item, run end to end through the
// pipeline driver (the program with two probe modules that publish check
// records in the first and the last walk slot) in an emulated machine whose
// flash holds the sample ROM.
#include <gtest/gtest.h>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <string>
#include <vector>
#include "E2eHarness.h"
#include "FlashLines.h"
#include "RomImageBuilder.h"
#include "UsageListing.h"

namespace {

using romimg::Bytes;

std::string Str(const Bytes& b) { return std::string(b.begin(), b.end()); }

// The sample ROM with a firmware-ID file of that project (none when empty).
romimg::Rom Sample(const std::string& projectId = "PRJ00001") {
    romimg::SampleSpec spec;
    romimg::FidSpec fid;
    fid.projectId = projectId;
    spec.mainFiles = {romimg::PlainFile(1, 0x300), romimg::PlainFile(2, 0x120)};
    if (!projectId.empty()) spec.mainFiles.insert(spec.mainFiles.begin() + 1, romimg::FidFile(fid));
    spec.bootFiles = {romimg::PlainFile(3, 0x80)};
    return romimg::SampleRom(spec);
}

class GlobalCheck : public E2eWidth {
protected:
    e2e::Machine Machine(const std::vector<std::string>& sets = {}, const std::string& projectId = "PRJ00001") {
        return e2e::MakeMachine(Str(Sample(projectId).bytes), romimg::BlockSpec(romimg::SampleBlocks()), sets);
    }
    std::string Image(const e2e::Machine& m, const Bytes& bytes) {
        std::string path = m.File("new.rom");
        romimg::WriteBytes(path, bytes);
        return path;
    }
    e2e::RunResult Run(const e2e::Machine& m, const std::vector<std::string>& args, const std::string& input = "") {
        return e2e::RunTestBuild(Width(), YOZ_PIPEDRV64, YOZ_PIPEDRV32, m, args, input);
    }
    size_t Count(const e2e::Machine& m, const std::string& needle) {
        size_t n = 0;
        for (const std::string& line : e2e::TraceOfKind(m, "smi")) n += line.find(needle) != std::string::npos;
        return n;
    }
};

TEST_P(GlobalCheck, ChecksumFailureInAFileWithDataSumStopsBeforeAnyBlockCheck) {
    e2e::Machine m = Machine();
    romimg::Rom image = Sample();
    romimg::mut::FileDataSum(image, image.File(romimg::PlainGuid(2)));
    e2e::RunResult r = Run(m, {Image(m, image.bytes), "/first:wfpce0,"});
    EXPECT_EQ(r.out, e2e::PlainBanner() + e2e::FlashRead() +
                         "first size check 0\n"
                         " - FFS checksums ......... bad\n"
                         "7 - Error: BIOS checksum error.\n");
    EXPECT_EQ(r.status, 7);
    // A failed run never reaches the end hooks.
    EXPECT_EQ(Count(m, "cmd=0x91"), 0u);
}

TEST_P(GlobalCheck, ShortImageGivesEverySizeCheckMinusOne) {
    e2e::Machine m = Machine();
    Bytes bytes = Sample().bytes;
    bytes.pop_back();
    e2e::RunResult r = Run(m, {Image(m, bytes), "/first:wfpc", "/last:pcs3,"});
    EXPECT_EQ(r.out, e2e::PlainBanner() + e2e::FlashRead() +
                         "first size check -1\n"
                         "last size check -1\n"
                         "3 - Error: ROM file size does not match existing BIOS size.\n");
    EXPECT_EQ(r.status, 3);
}

TEST_P(GlobalCheck, ChecksOfTwoRecordsRunInWalkOrderAndChecksumsOnce) {
    e2e::Machine m = Machine();
    e2e::RunResult r = Run(m, {Image(m, Sample().bytes), "/last:pcr", "/first:wfpc"});
    EXPECT_EQ(r.out, e2e::PlainBanner() + e2e::FlashRead() +
                         "first size check 0\n"
                         "last size check 0\n"
                         " - FFS checksums ......... ok\n"
                         "first block check\n"
                         "last block check\n");
    EXPECT_EQ(r.status, 0);
}

TEST_P(GlobalCheck, BlockCheckVerdictEndsTheRun) {
    e2e::Machine m = Machine();
    e2e::RunResult r = Run(m, {Image(m, Sample().bytes), "/first:wfpbBB,", "/last:p"});
    EXPECT_EQ(r.out, e2e::PlainBanner() + e2e::FlashRead() +
                         "first size check 0\n"
                         "last size check 0\n"
                         "first block check\n"
                         "bb - Error: Rom image layout detected Rom Hole is redesigned.\n");
    EXPECT_EQ(r.status, 187);
}

TEST_P(GlobalCheck, MissingFileForACommandThatNeedsOne) {
    // A FIFO is refused as it is, without waiting for a writer.
    e2e::Machine m = Machine();
    ASSERT_EQ(mkfifo(m.File("fifo.rom").c_str(), 0600), 0);
    for (const char* name : {"nosuch.rom", "fifo.rom"}) {
        e2e::RunResult r = Run(m, {m.File(name), "/first:wfp"});
        EXPECT_EQ(r.out, e2e::PlainBanner() + e2e::FlashRead() + "30 - Error: Problem opening file for reading.\n")
            << name;
        EXPECT_EQ(r.status, 48) << name;
    }
    // A file larger than any image of the flash (sparse: it takes no room)
    // is refused by its size before it is read, also one past 4 GiB.
    for (unsigned long long size : {3ull << 30, (4ull << 30) + 1}) {
        const std::string name = m.File("huge.rom");
        int fd = open(name.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, static_cast<off_t>(size)), 0);
        close(fd);
        e2e::RunResult r = Run(m, {name, "/first:wfp"});
        EXPECT_EQ(r.out, e2e::PlainBanner() + e2e::FlashRead() +
                             "3 - Error: ROM file size does not match existing BIOS size.\n")
            << size;
        EXPECT_EQ(r.status, 3) << size;
        unlink(name.c_str());
    }
}

TEST_P(GlobalCheck, NoFileNeededEndsThePipelineQuietly) {
    e2e::Machine m = Machine();
    e2e::RunResult r = Run(m, {"/first:"});
    EXPECT_EQ(r.out, e2e::PlainBanner() + e2e::FlashRead());
    EXPECT_EQ(r.status, 0);
}

TEST_P(GlobalCheck, ARecordThatNeedsOnlyAFileStillGetsItsSizeCheckAndMayAskForMore) {
    e2e::Machine m = Machine();
    // The size check switches checksums and the ROM-ID check on; both follow.
    romimg::Rom other = Sample("XYZ00001");
    e2e::RunResult r = Run(m, {Image(m, other.bytes), "/first:wfR"});
    EXPECT_EQ(r.out, e2e::PlainBanner() + e2e::FlashRead() +
                         "first size check 0\n"
                         " - FFS checksums ......... ok\n"
                         "first block check\n"
                         "4 - Error: ROM file ROMID is not compatible with existing BIOS ROMID.\n");
    EXPECT_EQ(r.status, 4);
}

TEST_P(GlobalCheck, RomIdOfTheSameProjectPasses) {
    e2e::Machine m = Machine();
    e2e::RunResult r = Run(m, {Image(m, Sample().bytes), "/first:wfr"});
    EXPECT_EQ(r.out, e2e::PlainBanner() + e2e::FlashRead() + "first size check 0\nfirst block check\n");
    EXPECT_EQ(r.status, 0);
}

TEST_P(GlobalCheck, FirmwareRomIdVerdictComesBeforeTheProgramsOwnCompare) {
    e2e::Machine m = Machine({"romid_answer=3", "romid_verdict=mismatch", "romid_text=Wrong board"});
    e2e::RunResult r = Run(m, {Image(m, Sample().bytes), "/first:wfr"});
    // The firmware shows its own text, so the error line is left out.
    EXPECT_EQ(r.out, e2e::PlainBanner() + e2e::FlashRead() + "first size check 0\nfirst block check\n - Wrong board \n");
    EXPECT_EQ(r.status, 0x81);
    EXPECT_EQ(Count(m, "zokt=0x53 ver=0x0210 fn=0x02 off=0x00000000 size=0x00000010 verdict=mismatch"), 1u);
}

TEST_P(GlobalCheck, FlashWithoutIdentityFailsTheCompareNotTheRead) {
    e2e::Machine m = Machine({}, "");
    e2e::RunResult r = Run(m, {Image(m, Sample().bytes), "/first:wfr"});
    EXPECT_EQ(r.out, e2e::PlainBanner() + e2e::FlashRead() + "first size check 0\nfirst block check\n" +
                         "4 - Error: ROM file ROMID is not compatible with existing BIOS ROMID.\n");
    EXPECT_EQ(r.status, 4);
}

TEST_P(GlobalCheck, FlashWithMoreThanSixteenRomHolesEndsTheRun) {
    romimg::SampleSpec spec;
    for (uint32_t n = 0; n < 17; ++n) spec.mainFiles.push_back(romimg::RomHoleFile(n % 16, 0x40));
    e2e::Machine m = e2e::MakeMachine(Str(romimg::SampleRom(spec).bytes), romimg::BlockSpec(romimg::SampleBlocks()));
    e2e::RunResult r = Run(m, {Image(m, Sample().bytes), "/first:wfp"});
    EXPECT_EQ(r.out, e2e::PlainBanner() + e2e::FlashRead() +
                         "6 - Error: This BIOS version has more Non-Critical blocks than supported.\n");
    EXPECT_EQ(r.status, 6);
    // Sixteen are fine.
    spec.mainFiles.pop_back();
    e2e::Machine ok = e2e::MakeMachine(Str(romimg::SampleRom(spec).bytes), romimg::BlockSpec(romimg::SampleBlocks()));
    EXPECT_EQ(Run(ok, {Image(ok, Sample().bytes), "/first:wfp"}).status, 0);
}

TEST_P(GlobalCheck, TwoPlusTwoModeReadsNoFlashAndSkipsBlockChecks) {
    e2e::Machine m = Machine();
    romimg::Rom other = Sample("XYZ00001");
    e2e::RunResult r = Run(m, {Image(m, other.bytes), "/first:wfprm"});
    EXPECT_EQ(r.out, e2e::PlainBanner() + "first size check 0\n" +
                         "4 - Error: ROM file ROMID is not compatible with existing BIOS ROMID.\n");
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(Count(m, "cmd=0x21"), 0u);
}

TEST_P(GlobalCheck, GreetingIsShownAndTheRunGoesOn) {
    e2e::Machine m = Machine({"zokt_greeting=Welcome"});
    e2e::RunResult r = Run(m, {"/first:"});
    EXPECT_EQ(r.out, e2e::PlainBanner() + " Welcome \n" + e2e::FlashRead());
    EXPECT_EQ(r.status, 0);
}

TEST_P(GlobalCheck, ErrorOutShowsOnlyTheFirmwareText) {
    e2e::Machine m = Machine({"zokt_greeting=Locked", "zokt_error_out=1"});
    e2e::RunResult r = Run(m, {Image(m, Sample().bytes), "/first:wfp"});
    EXPECT_EQ(r.out, e2e::PlainBanner() + " Locked \n");
    EXPECT_EQ(r.status, 13);
    EXPECT_EQ(Count(m, "cmd=0x21"), 0u);
    // Without a text of its own the run's error line is shown.
    e2e::Machine bare = Machine({"zokt_error_out=1"});
    r = Run(bare, {Image(bare, Sample().bytes), "/first:wfp"});
    EXPECT_EQ(r.out, e2e::PlainBanner() + "d - Error: BIOS Report Error.\n");
    EXPECT_EQ(r.status, 13);
}

TEST_P(GlobalCheck, EcbStatusBlocksUnlessTheBatteryCheckIsSkipped) {
    e2e::Machine m = Machine({"ecb=0x20", "ecb_msg20=Battery low."});
    e2e::RunResult blocked = Run(m, {Image(m, Sample().bytes), "/first:wfp"});
    EXPECT_EQ(blocked.out, e2e::PlainBanner() + "Battery low.\nd - Error: BIOS Report Error.\n");
    EXPECT_EQ(blocked.status, 13);
    // "/dpc" alone puts the skip back to off.
    e2e::RunResult dpc = Run(m, {Image(m, Sample().bytes), "/first:wfp", "/dpc"});
    EXPECT_EQ(dpc.out, blocked.out);
    EXPECT_EQ(dpc.status, 13);
    // "/jbc" takes effect before the check, also when "/dpc" is given.
    for (const std::vector<std::string>& words :
         {std::vector<std::string>{"/jbc"}, std::vector<std::string>{"/dpc", "/JBC"}}) {
        std::vector<std::string> args = {Image(m, Sample().bytes), "/first:wfp"};
        args.insert(args.end(), words.begin(), words.end());
        e2e::RunResult skipped = Run(m, args);
        EXPECT_EQ(skipped.out, e2e::PlainBanner() + e2e::FlashRead() + "first size check 0\nfirst block check\n");
        EXPECT_EQ(skipped.status, 0);
    }
}

TEST_P(GlobalCheck, FirmwareBatteryRefusalEndsTheRunUnlessSkipped) {
    // A check whose answer was lost goes out again.
    for (const char* lost : {"zokt_faults=0x5b#1-2:none", "zokt_faults="}) {
        e2e::Machine l = Machine({"ec_battery=2", "ec_battery_text=Battery 5%s left", lost});
        e2e::RunResult r = Run(l, {Image(l, Sample().bytes), "/first:wfp"});
        EXPECT_EQ(r.out, e2e::PlainBanner() + " - Battery 5%s left \nd - Error: BIOS Report Error.\n") << lost;
        EXPECT_EQ(r.status, 13) << lost;
        EXPECT_EQ(Count(l, "zokt=0x5b"), std::string(lost).find('#') != std::string::npos ? 3u : 1u) << lost;
    }
    e2e::Machine m = Machine({"ec_battery=2", "ec_battery_text=Battery 5%s left"});
    e2e::RunResult refused = Run(m, {Image(m, Sample().bytes), "/first:wfp"});
    EXPECT_EQ(refused.out, e2e::PlainBanner() + " - Battery 5%s left \nd - Error: BIOS Report Error.\n");
    EXPECT_EQ(refused.status, 13);
    EXPECT_EQ(Count(m, "zokt=0x5b ver=0x0210 func=0x01 status=0x02"), 1u);
    EXPECT_EQ(Count(m, "cmd=0x21"), 0u) << "refused before the flash is read";

    e2e::RunResult skipped = Run(m, {Image(m, Sample().bytes), "/first:wfp", "/jbc"});
    EXPECT_EQ(skipped.status, 0);
    EXPECT_EQ(Count(m, "zokt=0x5b"), 1u) << "\"/jbc\" sends no battery request";

    // A firmware without the battery request, or with another status, lets the run go on.
    for (const char* answer : {"ec_battery=none", "ec_battery=3"}) {
        e2e::Machine other = Machine({answer});
        e2e::RunResult r = Run(other, {Image(other, Sample().bytes), "/first:wfp"});
        EXPECT_EQ(r.out, e2e::PlainBanner() + e2e::FlashRead() + "first size check 0\nfirst block check\n") << answer;
        EXPECT_EQ(r.status, 0) << answer;
    }
}

TEST_P(GlobalCheck, CapsuleHeaderIsStrippedOnlyUnderSecureFlash) {
    Bytes capsule = romimg::SignedCapsule(Sample().bytes, 0x40);
    // Without secure flash the header stays: the image is larger than the flash.
    e2e::Machine plain = Machine();
    e2e::RunResult kept = Run(plain, {Image(plain, capsule), "/first:wfpcs3,"});
    EXPECT_EQ(kept.out, e2e::PlainBanner() + e2e::FlashRead() + "first size check 1\n" +
                            "3 - Error: ROM file size does not match existing BIOS size.\n");
    EXPECT_EQ(kept.status, 3);

    e2e::Machine secure = Machine({"secure_flash=1"});
    e2e::RunResult stripped = Run(secure, {Image(secure, capsule), "/first:wfpc"});
    EXPECT_EQ(stripped.out, e2e::PlainBanner() + e2e::FlashRead() +
                                " Secure Flash enabled, recalculate ROM size with signature... Enable.\n"
                                "first size check 0\n"
                                " - FFS checksums ......... ok\n"
                                "first block check\n");
    EXPECT_EQ(stripped.status, 0);

    // A header length below the header's own size is no header.
    for (uint16_t length : {0x10, 0}) {
        Bytes bad = capsule;
        romimg::mut::CapsuleHeaderLength(bad, length);
        e2e::RunResult r = Run(secure, {Image(secure, bad), "/first:wfpcs3,"});
        EXPECT_EQ(r.out, e2e::PlainBanner() + e2e::FlashRead() +
                             " Secure Flash enabled, recalculate ROM size with signature... Disable.\n"
                             "first size check 1\n"
                             "3 - Error: ROM file size does not match existing BIOS size.\n")
            << length;
        EXPECT_EQ(r.status, 3) << length;
    }
}

TEST_P(GlobalCheck, PasswordIsAskedWithTheFlashInterfaceClosedAroundTheKeys) {
    e2e::Machine m = Machine({"password=abc"});
    e2e::RunResult r = Run(m, {Image(m, Sample().bytes), "/first:wfp"}, "abc\n");
    EXPECT_EQ(r.out, e2e::PlainBanner() +
                         " - Please enter password and then press enter.\n"
                         " - Password: ***\n" +
                         e2e::FlashRead() + "first size check 0\nfirst block check\n");
    EXPECT_EQ(r.status, 0);
    std::vector<std::string> smi = e2e::TraceOfKind(m, "smi");
    size_t query = 0;
    while (query < smi.size() && smi[query].find("fn=0x01") == std::string::npos) ++query;
    ASSERT_LT(query + 4, smi.size());
    EXPECT_NE(smi[query + 1].find("cmd=0x24"), std::string::npos);
    EXPECT_NE(smi[query + 2].find("cmd=0x20"), std::string::npos);
    EXPECT_NE(smi[query + 3].find("pwd=\"abc\" status=0x02"), std::string::npos);
    EXPECT_NE(smi[query + 4].find("cmd=0x21"), std::string::npos);
}

TEST_P(GlobalCheck, PasswordRetriesUsedUpEndTheRunBeforeTheFlashIsRead) {
    e2e::Machine m = Machine({"password=abc", "password_tries=2"});
    e2e::RunResult r = Run(m, {Image(m, Sample().bytes), "/first:wfp"}, "xyz\nqqq\n");
    EXPECT_EQ(r.out, e2e::PlainBanner() +
                         " - Please enter password and then press enter.\n"
                         " - Password: ***\n"
                         " - Password: ***\n"
                         "9b - Error: Password Retry count exceeded.\n");
    EXPECT_EQ(r.status, 0x9B);
    EXPECT_EQ(Count(m, "cmd=0x21"), 0u);
}

TEST_P(GlobalCheck, MeVolumeIsSplitOffWhenTheFirmwareAnswersMeRequests) {
    romimg::Rom image = Sample();
    romimg::VolumeSpec me;
    me.files = {romimg::MeFile(0x100)};
    image.AppendVolume(me);
    for (const char* support : {"me_support=1", "me_support=0"}) {
        e2e::Machine m = Machine({support});
        e2e::RunResult r = Run(m, {Image(m, image.bytes), "/first:wfp"});
        bool split = support[11] == '1';
        EXPECT_EQ(r.out, e2e::PlainBanner() + e2e::FlashRead() + (split ? "first size check 0\n" : "first size check 1\n") +
                             "first block check\n")
            << support;
        EXPECT_EQ(r.status, 0);
    }
}

TEST_P(GlobalCheck, EndHooksRunInAppendOrderAfterTheFlashInterfaceIsClosed) {
    e2e::Machine m = Machine();
    e2e::RunResult r = Run(m, {"/first:e0,e0,", "/last:e0,"});
    EXPECT_EQ(r.out, e2e::PlainBanner() + e2e::FlashRead() + "end hook 1\nend hook 2\nend hook 3\n");
    EXPECT_EQ(r.status, 0);
    std::vector<std::string> smi = e2e::TraceOfKind(m, "smi");
    ASSERT_GE(smi.size(), 4u);
    const size_t n = smi.size();
    EXPECT_NE(smi[n - 4].find("cmd=0x24"), std::string::npos);
    EXPECT_NE(smi[n - 3].find("cmd=0x91"), std::string::npos);
    EXPECT_NE(smi[n - 2].find("cmd=0x92"), std::string::npos);
    EXPECT_NE(smi[n - 1].find("cmd=0x93"), std::string::npos);
}

// As in the execute pass, nothing follows a failed step: a restart or
// power-off hook after it is skipped.
TEST_P(GlobalCheck, FailedEndHookBecomesTheRunStatusAndEndsTheHooks) {
    e2e::Machine m = Machine();
    e2e::RunResult r = Run(m, {"/first:e0,eB0,eBB,e0,"});
    EXPECT_EQ(r.out, e2e::PlainBanner() + e2e::FlashRead() +
                         "end hook 1\nend hook 2\n"
                         "b0 - Error: Restore DMI Data error.\n");
    EXPECT_EQ(r.status, 0xB0);
}

YOZ_E2E_BOTH_WIDTHS(GlobalCheck);

}  // namespace
