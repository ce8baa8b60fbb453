// Information commands end to end: "/U" reads the ROM file's identity, "/S"
// the running flash's, "/D" runs the pre-flash checks on an image and
// reports them; none of them erases or writes a block.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <string>
#include <vector>
#include "E2eHarness.h"
#include "FlashLines.h"
#include "SampleMachine.h"
#include "SampleUpdate.h"
#include "UsageListing.h"

namespace {

using romimg::Bytes;

std::string Str(const Bytes& b) { return std::string(b.begin(), b.end()); }

// The sample layout with firmware-ID files of these projects in the main
// and boot-block volumes (none where the name is empty).
romimg::Rom WithIds(const std::string& mainId, const std::string& bootId, uint8_t bootGuidLast = 0x02) {
    romimg::SampleSpec spec;
    spec.mainFiles = {romimg::PlainFile(21, 0x300)};
    spec.bootFiles = {romimg::PlainFile(3, 0x80)};
    romimg::FidSpec fid;
    fid.projectId = mainId;
    if (!mainId.empty()) spec.mainFiles.push_back(romimg::FidFile(fid));
    fid.projectId = bootId;
    fid.fwGuid.b[15] = bootGuidLast;
    if (!bootId.empty()) spec.bootFiles.push_back(romimg::FidFile(fid));
    return romimg::SampleRom(spec);
}

// The GUID line of the builder's default firmware GUID with its last byte.
std::string GuidLine(const char* last) { return std::string("44332211-6655-8877-99aabbccddeef0") + last + "\n"; }

const std::string kChecksums = " - FFS checksums ......... ok\n";
const std::string kVerified = " - ROM File Capsule Header checking.. Disable\n"
                              " - ROM File Size checking ........... ok\n"
                              " - ROM ID checking .................. ok\n"
                              " - ROM File verification status ..... ok\n";

class InfoCommands : public E2eWidth {
protected:
    romimg::SampleUpdate u = romimg::MakeSampleUpdate();
    e2e::Machine Machine(const Bytes& flash, const std::vector<std::string>& sets = {}) {
        return e2e::MakeMachine(Str(flash), romimg::BlockSpec(romimg::SampleBlocks()), sets);
    }
    e2e::RunResult Run(const e2e::Machine& m, const Bytes& image, const std::vector<std::string>& options) {
        romimg::WriteBytes(m.File("new.rom"), image);
        std::vector<std::string> args = {"new.rom"};
        args.insert(args.end(), options.begin(), options.end());
        return e2e::RunProgram(Width(), m, args);
    }
    size_t Writes(const e2e::Machine& m) {
        size_t n = 0;
        for (const std::string& l : e2e::TraceOfKind(m, "smi"))
            n += l.find("cmd=0x22") != std::string::npos || l.find("cmd=0x23") != std::string::npos;
        return n;
    }
    std::string Head() { return e2e::PlainBanner() + e2e::FlashRead(); }
};

TEST_P(InfoCommands, RomFileIdIsReadFromTheImageAlone) {
    e2e::Machine m = Machine(u.system.bytes);
    e2e::RunResult r = Run(m, u.image.bytes, {"/u"});
    EXPECT_EQ(r.out, e2e::PlainBanner() + " - ROM File ROM ID = PRJ00001\n - ROM File ROM GUID = " + GuidLine("01"));
    EXPECT_EQ(r.status, 0) << r.err;
    // The flash is not read: the command ends the parse before the global check.
    for (const std::string& l : e2e::TraceOfKind(m, "smi")) EXPECT_EQ(l.find("cmd=0x21"), std::string::npos) << l;

    // Without a firmware-ID record, or shorter than the search window.
    for (const Bytes& image : {WithIds("", "").bytes, Bytes(0x3FF, 0xFF)}) {
        e2e::RunResult none = Run(m, image, {"/U"});
        EXPECT_EQ(none.out, e2e::PlainBanner() + "99 - Error: ROM File ID don't exist.\n");
        EXPECT_EQ(none.status, 0x99);
    }
    e2e::RunResult missing = e2e::RunProgram(Width(), m, {"nosuch.rom", "/U"});
    EXPECT_EQ(missing.status, 0x30);
    // A second stand-alone command word is a command-line error.
    e2e::RunResult twice = Run(m, u.image.bytes, {"/U", "/u"});
    EXPECT_EQ(twice.out, e2e::UsageListing(Width()) + "1 - Error: Unknown command.\n");
    EXPECT_EQ(twice.status, 1);
    // It stands alone: a restart asked for follows it, an update is refused by name.
    e2e::Machine p = Machine(u.system.bytes);
    e2e::RunResult restart = Run(p, u.image.bytes, {"/U", "/REBOOT"});
    EXPECT_EQ(restart.out, e2e::PlainBanner() + " - ROM File ROM ID = PRJ00001\n - ROM File ROM GUID = " + GuidLine("01"));
    EXPECT_EQ(e2e::TraceOfKind(p, "shell"), std::vector<std::string>{"shell \"shutdown -r now\""});
    e2e::RunResult update = Run(p, u.image.bytes, {"/U", "/P"});
    EXPECT_EQ(update.out, e2e::UsageListing(Width()) + "\"/U\" stands alone: \"/P\" cannot be given with it (only "
                                                      "options that set how it runs, and one restart or power-off "
                                                      "after it).\n1 - Error: Unknown command.\n");
    EXPECT_EQ(update.status, 1);
}

TEST_P(InfoCommands, SystemIdOfTheBootBlockWinsAndSecureFlashIsReported) {
    romimg::Rom flash = WithIds("MAINPRJ1", "BOOTPRJ2", 0x22);
    const std::string ids = " - System ROM ID = BOOTPRJ2\n - System ROM GUID = " + GuidLine("22");
    for (const char* secure : {"0", "1"}) {
        e2e::Machine m = Machine(flash.bytes, {std::string("secure_flash=") + secure});
        e2e::RunResult r = e2e::RunProgram(Width(), m, {"/S"});
        EXPECT_EQ(r.out, Head() + ids + " - System ROM Secure Flash = " + (secure[0] == '1' ? "Enable.\n" : "Disable.\n"));
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(Writes(m), 0u);
    }
}

TEST_P(InfoCommands, SystemIdBesideAnUpdatePrintsFromTheBlockCheck) {
    e2e::Machine m = Machine(u.system.bytes);
    e2e::RunResult r = Run(m, u.image.bytes, {"/S"});
    EXPECT_EQ(r.status, 0) << r.out;
    const std::string ids = " - System ROM ID = PRJ00001\n - System ROM GUID = " + GuidLine("01");
    EXPECT_EQ(r.out.compare(0, Head().size() + kChecksums.size() + ids.size(), Head() + kChecksums + ids), 0) << r.out;
    EXPECT_EQ(r.out.find(" - System ROM Secure Flash"), std::string::npos);
    EXPECT_GT(Writes(m), 0u);  // the file name still flashes the main BIOS
}

TEST_P(InfoCommands, InformationCommandsBesideAnEmbeddedImageFlashNothing) {
    // The trailer puts the image's name before the options typed alone (or
    // given by its own command line): "/S" stays the information command.
    const std::string ids = " - System ROM ID = PRJ00001\n - System ROM GUID = " + GuidLine("01") +
                            " - System ROM Secure Flash = Disable.\n";
    const struct {
        std::string command;              // the trailer's command line
        std::vector<std::string> typed;   // the operator's words
        std::string out;
    } cases[] = {
        {"", {"/S"}, Head() + ids},
        {"/S", {}, Head() + ids},
        {"", {"/U"}, e2e::PlainBanner() + " - ROM File ROM ID = PRJ00001\n - ROM File ROM GUID = " + GuidLine("01")},
    };
    for (const auto& c : cases) {
        e2e::Machine m = Machine(u.system.bytes);
        std::string exe = e2e::EmbeddedImageProgram(Width(), u.image.bytes, c.command);
        ASSERT_FALSE(exe.empty());
        e2e::RunResult r = e2e::RunExecutable(Width(), exe, m, c.typed);
        EXPECT_EQ(r.out, c.out) << c.command;
        EXPECT_EQ(r.status, 0) << c.command;
        EXPECT_EQ(Writes(m), 0u) << c.command;
        EXPECT_EQ(e2e::ReadFile(m.File("flash.bin")), Str(u.system.bytes)) << c.command;
    }
}

TEST_P(InfoCommands, SaveCommandsBesideAnEmbeddedImageNeedTheOperatorsFileName) {
    // The image's name that the trailer puts before options typed alone is
    // no file of the operator's: "/O out.bin" would save the flash into
    // "UCPIMG", "/HOLE:" take the hole's data from it.
    const std::string guid = "05CA01FC0FC111DC901100173153EBA8";
    for (const std::vector<std::string>& typed :
         {std::vector<std::string>{"/O", "out.bin"}, {"/O"}, {"/HOLEOUT:" + guid}, {"/HOLEOUT:" + guid, "out.bin"},
          {"/HOLE:" + guid}}) {
        e2e::Machine m = Machine(u.system.bytes);
        std::string exe = e2e::EmbeddedImageProgram(Width(), u.image.bytes);
        ASSERT_FALSE(exe.empty());
        e2e::RunResult r = e2e::RunExecutable(Width(), exe, m, typed);
        EXPECT_EQ(r.status, 1) << typed[0];
        EXPECT_EQ(r.out, e2e::UsageListing(Width()) + "1 - Error: Unknown command.\n") << typed[0];
        struct stat st;
        EXPECT_NE(stat(m.File("UCPIMG").c_str(), &st), 0) << typed[0];
        EXPECT_NE(stat(m.File("out.bin").c_str(), &st), 0) << typed[0];
        EXPECT_EQ(Writes(m), 0u) << typed[0];
    }
}

TEST_P(InfoCommands, VerifyReportsWithoutFlashing) {
    e2e::Machine m = Machine(u.system.bytes);
    e2e::RunResult r = Run(m, u.image.bytes, {"/D"});
    EXPECT_EQ(r.out, Head() + kChecksums + kVerified);
    EXPECT_EQ(r.status, 0) << r.err;

    romimg::Rom broken = u.image;
    romimg::mut::FileDataSum(broken, broken.File(romimg::PlainGuid(21)));
    // A larger image keeps its volumes whole: its checksums hold.
    Bytes longer = u.image.bytes;
    longer.resize(longer.size() + 0x10000, 0xFF);
    romimg::Rom other = WithIds("OTHER001", "");
    struct Case {
        Bytes image;
        std::vector<std::string> options;
        int status;
        std::string out;
    } cases[] = {
        {broken.bytes, {"/D"}, 7, Head() + " - FFS checksums ......... bad\n7 - Error: BIOS checksum error.\n"},
        {longer, {"/D"}, 3, Head() + kChecksums + "3 - Error: ROM file size does not match existing BIOS size.\n"},
        {other.bytes, {"/D"}, 4, Head() + kChecksums + "4 - Error: ROM file ROMID is not compatible with existing BIOS ROMID.\n"},
        // "/X" leaves the ROM ID alone; quiet keeps the status behind the banner.
        {other.bytes, {"/D", "/X"}, 0, Head() + kChecksums + kVerified},
        {broken.bytes, {"/D", "/Q"}, 7, e2e::PlainBanner()},
    };
    for (const Case& c : cases) {
        e2e::RunResult f = Run(m, c.image, c.options);
        EXPECT_EQ(f.out, c.out) << c.options.size();
        EXPECT_EQ(f.status, c.status) << f.out;
    }
    EXPECT_EQ(Writes(m), 0u);
    EXPECT_EQ(e2e::ReadFile(m.File("flash.bin")), Str(u.system.bytes));
}

TEST_P(InfoCommands, RegionOptionsAloneAreACommandLineError) {
    e2e::Machine m = Machine(u.system.bytes);
    for (const char* word : {"/P", "/B", "/N", "/K", "/K3"}) {
        e2e::RunResult r = e2e::RunProgram(Width(), m, {word});
        EXPECT_EQ(r.status, 1) << word;
        EXPECT_EQ(r.out, e2e::UsageListing(Width()) + "1 - Error: Unknown command.\n") << word;
    }
    EXPECT_EQ(Writes(m), 0u);
}

}  // namespace

YOZ_E2E_BOTH_WIDTHS(InfoCommands);
