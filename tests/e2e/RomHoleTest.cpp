// The ROM-hole commands end to end: "/L" rewrites every hole from the image,
// "/L" with a number the chosen ones, "/HOLE:" one hole from a hole file and
// "/HOLEOUT:" saves one to a file; every other byte of the flash stays.
#include <gtest/gtest.h>
#include <cstdio>
#include <string>
#include <vector>
#include "E2eHarness.h"
#include "FlashLines.h"
#include "SampleUpdate.h"
#include "UsageListing.h"

namespace {

using romimg::Bytes;

std::string Str(const Bytes& b) { return std::string(b.begin(), b.end()); }

// The GUID as the command line gives it: 32 hex digits, fields as numbers.
std::string GuidArg(const romimg::Guid& g) {
    char text[40];
    snprintf(text, sizeof(text), "%08X%04X%04X", romimg::Get32(Bytes(g.b, g.b + 4), 0),
             romimg::Get16(Bytes(g.b + 4, g.b + 6), 0), romimg::Get16(Bytes(g.b + 6, g.b + 8), 0));
    std::string arg = text;
    for (int i = 8; i < 16; ++i) {
        snprintf(text, sizeof(text), "%02X", g.b[i]);
        arg += text;
    }
    return arg;
}

const std::string kChecksums = " - FFS checksums ......... ok\n";

std::string Head() { return e2e::PlainBanner() + e2e::FlashRead(); }

// Erase, write and verify of the one main block that holds the holes.
std::string HoleBlockPasses() { return e2e::Passes("RomHole", {romimg::kSampleMain}); }

class RomHole : public E2eWidth {
protected:
    romimg::SampleUpdate u = romimg::MakeSampleUpdate();
    e2e::Machine Machine(const Bytes& flash, const std::vector<std::string>& sets = {}) {
        return e2e::MakeMachine(Str(flash), romimg::BlockSpec(romimg::SampleBlocks()), sets);
    }
    std::string Put(const e2e::Machine& m, const std::string& name, const Bytes& bytes) {
        romimg::WriteBytes(m.File(name), bytes);
        return name;
    }
    e2e::RunResult Run(const e2e::Machine& m, const std::vector<std::string>& args, const std::string& input = "") {
        return e2e::RunProgram(Width(), m, args, input);
    }
    Bytes Flash(const e2e::Machine& m) { return Read(m.File("flash.bin")); }
    static Bytes Read(const std::string& path) {
        std::string f = e2e::ReadFile(path);
        return Bytes(f.begin(), f.end());
    }
    static Bytes Range(const Bytes& b, uint32_t at, uint32_t size) { return Bytes(b.begin() + at, b.begin() + at + size); }
    static Bytes Payload(const Bytes& b, const romimg::FileAt& f) { return Range(b, f.offset + 24, f.size - 24); }
    // `flash` with the bytes of `files` taken from `from`.
    static Bytes With(Bytes flash, const Bytes& from, const std::vector<romimg::FileAt>& files) {
        for (const romimg::FileAt& f : files)
            std::copy(from.begin() + f.offset, from.begin() + f.offset + f.size, flash.begin() + f.offset);
        return flash;
    }
    // SMI trace lines that hold `needle` (and `also`).
    size_t Smi(const e2e::Machine& m, const std::string& needle, const std::string& also = "") {
        size_t n = 0;
        for (const std::string& line : e2e::TraceOfKind(m, "smi"))
            n += line.find(needle) != std::string::npos && line.find(also) != std::string::npos;
        return n;
    }
    // A system whose hole 1 is blank (never programmed), its data checksum right.
    romimg::Rom BlankHoleSystem() {
        romimg::Rom r = u.system;
        for (uint32_t i = 24; i < u.hole1.size; ++i) r.bytes[u.hole1.offset + i] = 0xFF;
        romimg::RefreshFile(r.bytes, u.hole1.offset);
        return r;
    }
};

TEST_P(RomHole, SlashLRewritesEveryHoleFromTheImageAndNothingElse) {
    e2e::Machine m = Machine(u.system.bytes);
    e2e::RunResult r = Run(m, {Put(m, "new.rom", u.image.bytes), "/L"});
    EXPECT_EQ(r.out, Head() + kChecksums + HoleBlockPasses());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Flash(m), With(u.system.bytes, u.image.bytes, {u.hole0, u.hole1}));
    EXPECT_EQ(Smi(m, "cmd=0x22"), 1u);
    EXPECT_EQ(Smi(m, "cmd=0x22", "addr=0x00020000"), 1u);
}

TEST_P(RomHole, SecureSlashLHasTheMainBiosModulesFlashTheVolumeThatHoldsTheHoles) {
    e2e::Machine m = Machine(u.system.bytes, {"secure_flash=1"});
    e2e::RunResult r = Run(m, {Put(m, "new.cap", romimg::SignedCapsule(u.image.bytes, 0x40)), "/L"});
    EXPECT_EQ(r.status, 0) << r.out;
    const std::string done = " done                \n";
    const std::string tail = " Erasing RomHole Block ......." + done + " Updating RomHole Block ......" + done +
                             " Verifying RomHole Block ....." + done;
    ASSERT_GE(r.out.size(), tail.size());
    EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail) << "the hole stage only ends its progress lines";
    EXPECT_EQ(Smi(m, "cmd=0x22"), 12u) << "the main-BIOS modules flashed the main volume";
    std::vector<std::string> sessions;
    for (const std::string& l : e2e::TraceOfKind(m, "smi"))
        if (l.find("sub=0x08") != std::string::npos) sessions.push_back(l);
    EXPECT_EQ(sessions.size(), 1u) << "the session opens once in a run";
}

TEST_P(RomHole, SecureSlashLFailsWithTheMainBiosModulesError) {
    // The main module erases the holes' block, then an erase is refused at
    // the next main block: its error is the run's.
    for (const char* option : {"/L", "/L1"}) {
        e2e::Machine m = Machine(u.system.bytes, {"secure_flash=1", "flash_faults=erase@0x30000:1"});
        e2e::RunResult r = Run(m, {Put(m, "new.cap", romimg::SignedCapsule(u.image.bytes, 0x40)), option});
        EXPECT_EQ(r.status, 0x43) << option << r.out;
        const std::string error = "43 - Error: Problem erasing flash.\n";
        ASSERT_GE(r.out.size(), error.size()) << option;
        EXPECT_EQ(r.out.substr(r.out.size() - error.size()), error) << option;
        EXPECT_EQ(r.out.find(" Erasing RomHole Block"), std::string::npos) << option << ": no hole progress after it";
        EXPECT_EQ(Smi(m, "cmd=0x23"), 0u) << option;
    }
}

TEST_P(RomHole, SecureSlashLChecksEveryVolumeBeforeWritingAny) {
    // Holes in both volumes; the image's SLP key file has another size, so
    // the main volume cannot keep the system's key: the run stops before the
    // boot block (whose turn comes first) is erased. With "/B" or "/N" the
    // main volume is checked before that region is written, in the same words.
    using romimg::ProtectedLayout;
    const ProtectedLayout bootHole = ProtectedLayout().AddBoot(0, romimg::RomHoleFile(2, 0x40));
    romimg::SampleUpdate update =
        romimg::MakeSampleUpdate(bootHole, ProtectedLayout(bootHole).Resize(romimg::kSlpKey, 0xA0));
    const std::vector<std::vector<std::string>> lines = {
        {"/L"},       {"/L", "/caf"},      {"/L0", "/L2"},      {"/B", "/L"},
        {"/N", "/L"}, {"/N", "/L", "/caf"}, {"/B", "/L0", "/L2"}, {"/N", "/L0", "/L2"}};
    for (const std::vector<std::string>& options : lines) {
        std::string name;
        for (const std::string& o : options) name += o + " ";
        SCOPED_TRACE(name);
        e2e::Machine m = Machine(update.system.bytes, {"secure_flash=1"});
        std::vector<std::string> args = {Put(m, "new.cap", romimg::SignedCapsule(update.image.bytes, 0x40))};
        args.insert(args.end(), options.begin(), options.end());
        e2e::RunResult r = Run(m, args);
        EXPECT_EQ(r.out, Head() + " Secure Flash enabled, recalculate ROM size with signature... Enable.\n" +
                             kChecksums +
                             "14 - Error: Non-critical blocks in ROM image file do not match those in the system.\n");
        EXPECT_EQ(r.status, 0x14);
        EXPECT_EQ(Smi(m, "cmd=0x22") + Smi(m, "cmd=0x23"), 0u) << "no erase, no write";
        EXPECT_TRUE(Flash(m) == update.system.bytes);
    }
}

TEST_P(RomHole, SlashLChecksItsHolesBeforeAnotherRegionIsWritten) {
    // Without secure flash too: the image's hole 0 is larger, so it cannot
    // go into the system's place; a system with one hole has no hole 1.
    // Either refusal comes before the NVRAM or the boot block is erased.
    using romimg::ProtectedLayout;
    const ProtectedLayout plain;
    romimg::SampleUpdate resized =
        romimg::MakeSampleUpdate(plain, ProtectedLayout(plain).Resize(romimg::RomHoleGuid(0), 0x50));
    const ProtectedLayout oneHole = ProtectedLayout(plain).Drop(romimg::RomHoleGuid(1));
    romimg::SampleUpdate single = romimg::MakeSampleUpdate(oneHole, oneHole);
    const std::string mismatch = "14 - Error: Non-critical blocks in ROM image file do not match those in the system.\n";
    const std::string none = "b - Error: Rom Hole not exist.\n";
    // The hole block's first file header reads wrong once: two more reads tell.
    const std::string lies = "flash_faults=read@" + std::to_string(u.system.File(romimg::PlainGuid(1)).offset) + "#1:corrupt";
    const std::string unread = "42 - Error: Problem reading flash.\n";
    const struct {
        const romimg::SampleUpdate* update;
        std::vector<std::string> options;
        std::string error;
        int status;
        std::string fault = "";
    } cases[] = {
        {&resized, {"/N", "/L"}, mismatch, 0x14},
        {&resized, {"/B", "/L0"}, mismatch, 0x14},
        {&single, {"/N", "/L1"}, none, 0x0B},
        {&single, {"/B", "/L1", "/caf"}, none, 0x0B},
        {&u, {"/L"}, unread, 0x42, lies},
    };
    for (const auto& c : cases) {
        std::string name;
        for (const std::string& o : c.options) name += o + " ";
        SCOPED_TRACE(name);
        e2e::Machine m = Machine(c.update->system.bytes, c.fault.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.fault});
        std::vector<std::string> args = {Put(m, "new.rom", c.update->image.bytes)};
        args.insert(args.end(), c.options.begin(), c.options.end());
        e2e::RunResult r = Run(m, args);
        EXPECT_EQ(r.out, Head() + kChecksums + c.error);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(Smi(m, "cmd=0x22") + Smi(m, "cmd=0x23"), 0u) << "no erase, no write";
        EXPECT_TRUE(Flash(m) == c.update->system.bytes);
    }
}

TEST_P(RomHole, SecureSlashLAfterAnotherRegionWritesTheHolesVolumeOnceInItsTurn) {
    // The main volume, checked before the other region is written, is still
    // written after it in the hole stage's turn, and only once.
    const struct {
        std::vector<std::string> options;
        std::string region;
        uint32_t at, length;
    } cases[] = {
        {{"/B", "/L"}, "Boot Block", romimg::kSampleBoot, romimg::kSampleBootLength},
        {{"/B", "/L1"}, "Boot Block", romimg::kSampleBoot, romimg::kSampleBootLength},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options[0] + " " + c.options[1]);
        e2e::Machine m = Machine(u.system.bytes, {"secure_flash=1"});
        std::vector<std::string> args = {Put(m, "new.cap", romimg::SignedCapsule(u.image.bytes, 0x40))};
        args.insert(args.end(), c.options.begin(), c.options.end());
        e2e::RunResult r = Run(m, args);
        ASSERT_EQ(r.status, 0) << r.out;
        const size_t region = r.out.find(" Erasing " + c.region), main = r.out.find(" Erasing Main Block"),
                     holes = r.out.find(" Erasing RomHole Block");
        ASSERT_NE(holes, std::string::npos) << r.out;
        EXPECT_LT(region, main) << r.out;
        EXPECT_LT(main, holes) << r.out;
        const std::string mainDone = " Erasing Main Block .......... done";
        EXPECT_EQ(r.out.find(mainDone, r.out.find(mainDone) + 1), std::string::npos) << r.out;
        const Bytes flash = Flash(m);
        EXPECT_EQ(Smi(m, "cmd=0x22", "addr=0x00020000"), 1u) << "the holes' block, erased once";
        EXPECT_TRUE(Range(flash, c.at, c.length) == Range(u.image.bytes, c.at, c.length)) << "the region is the image's";
        EXPECT_TRUE(Range(flash, u.hole1.offset, u.hole1.size) == Range(u.image.bytes, u.hole1.offset, u.hole1.size));
    }
}

TEST_P(RomHole, MistypedGuidIsACommandLineErrorBeforeAnyFileOrFlashChange) {
    e2e::Machine m = Machine(u.system.bytes);
    Bytes data = romimg::Pattern(u.hole1.size - 24, 0x77);
    Put(m, "hole.bin", data);
    Put(m, "saved.bin", Bytes(4, 0x5A));
    const std::string guid = GuidArg(romimg::RomHoleGuid(1));
    for (const std::string& text : {guid.substr(0, 31), guid + "0", guid.substr(0, 31) + "G", guid.substr(0, 31) + ":",
                                    guid.substr(0, 8) + "-" + guid.substr(8, 4) + "-" + guid.substr(12, 4) + "-" +
                                        guid.substr(16, 4) + "-" + guid.substr(20)}) {
        for (const std::string option : {"/HOLE:", "/HOLEOUT:"}) {
            e2e::RunResult r = Run(m, {option == "/HOLE:" ? "hole.bin" : "saved.bin", option + text});
            EXPECT_EQ(r.status, 1) << option << text;
            EXPECT_EQ(r.out, e2e::UsageListing(Width()) + "1 - Error: Unknown command.\n") << option << text;
        }
    }
    EXPECT_EQ(Read(m.File("saved.bin")), Bytes(4, 0x5A));
    EXPECT_EQ(Smi(m, "cmd=0x22") + Smi(m, "cmd=0x23"), 0u);
    EXPECT_EQ(Flash(m), u.system.bytes);
}

TEST_P(RomHole, SlashLWithANumberTakesTheChosenHolesFromTheImage) {
    // The firmware keeps the command line's choice.
    e2e::Machine m = Machine(u.system.bytes);
    e2e::RunResult r = Run(m, {Put(m, "new.rom", u.image.bytes), "/l1"});
    EXPECT_EQ(r.out, Head() + kChecksums + HoleBlockPasses());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Flash(m), With(u.system.bytes, u.image.bytes, {u.hole1}));

    // Its answer 0x0002 ^ 0x0003 chooses hole 0 instead.
    e2e::Machine other = Machine(u.system.bytes, {"cfg_answer=masks", "cfg_enable=0", "cfg_l=0x0002,0x0003"});
    EXPECT_EQ(Run(other, {Put(other, "new.rom", u.image.bytes), "/L1"}).status, 0);
    EXPECT_EQ(Flash(other), With(u.system.bytes, u.image.bytes, {u.hole0}));
}

TEST_P(RomHole, SlashLWithANumberNextToBKeepsTheChosenHoleInPlaceWhenTheImageMovesIt) {
    // The image has a file more before hole 1: the main volume, which "/B"
    // does not write, keeps the system's layout, so hole 1 takes the image's
    // bytes at its old place and nothing after it moves.
    const romimg::ProtectedLayout plain;
    romimg::SampleUpdate moved =
        romimg::MakeSampleUpdate(plain, romimg::ProtectedLayout(plain).AddMain(1, romimg::PlainFile(9, 0x30)));
    const romimg::FileAt* from = nullptr;
    for (const romimg::VolumeAt& v : moved.image.volumes) {
        for (const romimg::FileAt& f : v.files) {
            if (f.name == romimg::RomHoleGuid(1)) from = &f;
        }
    }
    ASSERT_NE(from, nullptr);
    ASSERT_NE(from->offset, moved.hole1.offset);
    ASSERT_EQ(from->size, moved.hole1.size);
    e2e::Machine m = Machine(moved.system.bytes);
    e2e::RunResult r = Run(m, {Put(m, "new.rom", moved.image.bytes), "/B", "/L1"});
    EXPECT_EQ(r.out, Head() + kChecksums + e2e::Passes("Boot", {romimg::kSampleBoot, romimg::kSampleBoot + 0x10000}) +
                         HoleBlockPasses());
    EXPECT_EQ(r.status, 0) << r.err;
    Bytes expected = moved.system.bytes;
    std::copy(moved.image.bytes.begin() + romimg::kSampleBoot,
              moved.image.bytes.begin() + romimg::kSampleBoot + romimg::kSampleBootLength, expected.begin() + romimg::kSampleBoot);
    std::copy(moved.image.bytes.begin() + from->offset, moved.image.bytes.begin() + from->offset + from->size,
              expected.begin() + moved.hole1.offset);
    EXPECT_EQ(Flash(m), expected);
}

TEST_P(RomHole, SlashLWithANumberWritesAHoleFileIntoTheChosenBlankHole) {
    romimg::Rom system = BlankHoleSystem();
    e2e::Machine m = Machine(system.bytes);
    Bytes data = romimg::Pattern(u.hole1.size - 24, 0x78);
    // The compare reads the system copy: the file holds one hole only.
    e2e::RunResult r = Run(m, {Put(m, "hole.bin", data), "/L1", "/caf"});
    EXPECT_EQ(r.status, 0) << r.out;
    ASSERT_GE(r.out.size(), HoleBlockPasses().size());
    EXPECT_EQ(r.out.substr(r.out.size() - HoleBlockPasses().size()), HoleBlockPasses());
    // The hole keeps a data checksum: it goes with the data.
    Bytes expected = system.bytes;
    std::copy(data.begin(), data.end(), expected.begin() + u.hole1.offset + 24);
    romimg::RefreshFile(expected, u.hole1.offset);
    EXPECT_EQ(Flash(m), expected);

    data.push_back(0);
    e2e::RunResult big = Run(m, {Put(m, "hole.bin", data), "/L1"});
    EXPECT_EQ(big.status, 0xBE);
    EXPECT_EQ(Flash(m), expected);
}

TEST_P(RomHole, SlashLRefusesASystemWithoutHolesAndBadHoleNumbers) {
    romimg::SampleSpec spec;
    spec.mainFiles = {romimg::PlainFile(1, 0x300), romimg::FidFile(romimg::FidSpec())};
    spec.bootFiles = {romimg::PlainFile(3, 0x80)};
    romimg::Rom bare = romimg::SampleRom(spec);
    e2e::Machine m = Machine(bare.bytes);
    std::string image = Put(m, "new.rom", u.image.bytes);
    e2e::RunResult none = Run(m, {image, "/L"});
    EXPECT_EQ(none.out, Head() + kChecksums + "b - Error: Rom Hole not exist.\n");
    EXPECT_EQ(none.status, 0x0B);

    e2e::RunResult sixteen = Run(m, {image, "/L16"});
    EXPECT_EQ(sixteen.status, 0xBD);
    EXPECT_NE(sixteen.out.find("bd - Error: Requested Rom Hole not available in ROM file.\n"), std::string::npos);
    e2e::RunResult suffix = Run(m, {image, "/L1X"});
    EXPECT_EQ(suffix.out, e2e::UnknownWordListing(Width(), "/L1X"));
    EXPECT_EQ(suffix.status, 1);
    EXPECT_EQ(Smi(m, "cmd=0x22"), 0u);
    EXPECT_EQ(Flash(m), bare.bytes);

    // With the whole BIOS given the image's holes come along.
    e2e::RunResult whole = Run(m, {image, "/B", "/P", "/N", "/L"});
    EXPECT_EQ(whole.status, 0) << whole.out;
    EXPECT_EQ(Range(Flash(m), u.hole0.offset, u.hole1.offset + u.hole1.size - u.hole0.offset),
              Range(u.image.bytes, u.hole0.offset, u.hole1.offset + u.hole1.size - u.hole0.offset));
}

TEST_P(RomHole, HoleOutSavesTheHolePayloadAndAsksBeforeReplacing) {
    e2e::Machine m = Machine(u.system.bytes);
    std::string guid = GuidArg(romimg::RomHoleGuid(1));
    e2e::RunResult saved = Run(m, {"hole1.bin", "/HOLEOUT:" + guid});
    EXPECT_EQ(saved.out, Head() + " Saving current Rom Hole into file: hole1.bin\n"
                                  " Saveing RomHole Block ....... done                \n");
    EXPECT_EQ(saved.status, 0) << saved.err;
    EXPECT_EQ(Read(m.File("hole1.bin")), Payload(u.system.bytes, u.hole1));

    // The SLP key is found among the SLP records; "n" keeps the old file.
    e2e::RunResult kept = Run(m, {"hole1.bin", "/holeout:" + GuidArg(romimg::kSlpKey)}, "n");
    EXPECT_EQ(kept.status, 0);
    EXPECT_NE(kept.out.find(" hole1.bin already exists.\n"), std::string::npos) << kept.out;
    EXPECT_EQ(Read(m.File("hole1.bin")), Payload(u.system.bytes, u.hole1));
    e2e::RunResult replaced = Run(m, {"hole1.bin", "/HOLEOUT:" + GuidArg(romimg::kSlpKey)}, "y");
    EXPECT_EQ(replaced.status, 0);
    EXPECT_EQ(Read(m.File("hole1.bin")), Payload(u.system.bytes, u.slpKey));
    // Input that ends gives no answer: the run fails and the file stays.
    e2e::RunResult ended = Run(m, {"hole1.bin", "/HOLEOUT:" + guid});
    EXPECT_EQ(ended.status, 0x0C);
    EXPECT_EQ(ended.out, Head() + " hole1.bin already exists.\n Would you like to repalce the exist file(Y) or exit(N)?...\n"
                                  "c - Error: BIOS update cancelled by user.\n");
    EXPECT_EQ(Read(m.File("hole1.bin")), Payload(u.system.bytes, u.slpKey));

    e2e::RunResult absent = Run(m, {"other.bin", "/HOLEOUT:" + GuidArg(romimg::RomHoleGuid(7))});
    EXPECT_EQ(absent.status, 0x14);
    EXPECT_NE(absent.out.find("14 - Error: Non-critical blocks in ROM image file do not match those in the system.\n"),
              std::string::npos);
    EXPECT_FALSE(Read(m.File("other.bin")).size());
    EXPECT_EQ(Smi(m, "cmd=0x22") + Smi(m, "cmd=0x23"), 0u);

    // A read of the copy that lied in the hole's payload never reaches the file.
    e2e::Machine lied =
        Machine(u.system.bytes, {"flash_faults=read@" + std::to_string(u.hole1.offset + 32) + "#1:corrupt"});
    e2e::RunResult caught = Run(lied, {"hole1.bin", "/HOLEOUT:" + guid});
    EXPECT_EQ(caught.status, 0x42) << caught.out;
    EXPECT_FALSE(Read(lied.File("hole1.bin")).size());
}

TEST_P(RomHole, HoleOutFileIsNewAndOwnerOnlyAndNeverALink) {
    e2e::Machine m = Machine(u.system.bytes);
    std::string guid = GuidArg(romimg::RomHoleGuid(1));
    e2e::ExpectSavedFileRules(m.dir, [&](const std::string& name) { return Run(m, {name, "/HOLEOUT:" + guid}, "y"); });
}

TEST_P(RomHole, HoleWritesAFileIntoABlankHole) {
    romimg::Rom system = BlankHoleSystem();
    e2e::Machine m = Machine(system.bytes);
    Bytes data = romimg::Pattern(u.hole1.size - 24, 0x77);
    e2e::RunResult r = Run(m, {Put(m, "hole.bin", data), "/HOLE:" + GuidArg(romimg::RomHoleGuid(1))});
    EXPECT_EQ(r.out, Head() + HoleBlockPasses());
    EXPECT_EQ(r.status, 0) << r.err;
    Bytes expected = system.bytes;
    std::copy(data.begin(), data.end(), expected.begin() + u.hole1.offset + 24);
    romimg::RefreshFile(expected, u.hole1.offset);
    EXPECT_EQ(Flash(m), expected);
    EXPECT_EQ(Smi(m, "cmd=0x22"), 1u);
}

// Under secure flash holes are written once, without any erase, as files
// made for write-once data (no data checksum) are; each module of a run
// writes its own hole. A hole whose data checksum the data would change
// cannot be written so: it is refused before anything is written.
TEST_P(RomHole, SecureHolesAreWrittenOnceWithoutAnyErase) {
    // The secure firmware's flash holds the embedded capsule file; holes 0,
    // 1 and 2 are blank, hole 2 keeps a data checksum.
    romimg::FileSpec blank0{romimg::RomHoleGuid(0), Bytes(0x40, 0xFF)}, blank1{romimg::RomHoleGuid(1), Bytes(0x60, 0xFF)};
    blank0.attributes = blank1.attributes = 0x00;
    romimg::SampleSpec spec;
    spec.mainFiles = {romimg::PlainFile(1, 0x300), romimg::FidFile(romimg::FidSpec()), blank0, blank1,
                      romimg::FileSpec{romimg::RomHoleGuid(2), Bytes(0x60, 0xFF)}, romimg::CapsuleFile(0x40)};
    spec.bootFiles = {romimg::PlainFile(3, 0x80)};
    romimg::Rom system = romimg::SampleRom(spec);
    const romimg::FileAt& hole0 = system.File(romimg::RomHoleGuid(0));
    const romimg::FileAt& hole1 = system.File(romimg::RomHoleGuid(1));
    Bytes data = romimg::Pattern(0x30, 0x79);
    struct Row {
        const char* name;
        std::vector<std::string> words;
        int status;
        std::vector<const romimg::FileAt*> written;
    } rows[] = {
        {"one hole by GUID", {"/HOLE:" + GuidArg(romimg::RomHoleGuid(1))}, 0, {&hole1}},
        {"one by GUID, one by number", {"/HOLE:" + GuidArg(romimg::RomHoleGuid(1)), "/L0"}, 0, {&hole1, &hole0}},
        {"a hole that keeps a data checksum", {"/HOLE:" + GuidArg(romimg::RomHoleGuid(2))}, 0x4A, {}},
        // The number's hole is refused before the GUID's is written.
        {"one by GUID, then one by number that keeps a data checksum",
         {"/HOLE:" + GuidArg(romimg::RomHoleGuid(1)), "/L2"}, 0x4A, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        e2e::Machine m = Machine(system.bytes, {"secure_flash=1"});
        std::vector<std::string> args = {Put(m, "hole.bin", data)};
        args.insert(args.end(), row.words.begin(), row.words.end());
        e2e::RunResult r = Run(m, args);
        EXPECT_EQ(r.status, row.status) << r.out;
        Bytes expected = system.bytes;
        size_t writes = 0;
        for (const romimg::FileAt* hole : row.written) {
            std::copy(data.begin(), data.end(), expected.begin() + hole->offset + 24);
            char at[32];
            snprintf(at, sizeof(at), "addr=0x%08x", hole->offset + 24);
            EXPECT_GE(Smi(m, "cmd=0x23", at), 1u);
            writes += Smi(m, "cmd=0x23", at);
        }
        EXPECT_EQ(Flash(m), expected);
        EXPECT_EQ(Smi(m, "cmd=0x22"), 0u);
        EXPECT_EQ(Smi(m, "cmd=0x23"), writes);
    }
}

// An SLP key written into the blank key area of a file that keeps a data
// checksum: the flash holds a file that passes the program's own checksum
// step, or the key is refused before anything is written (under secure
// flash the write-once item leaves the file checksum as it was).
TEST_P(RomHole, SlpKeyLeavesAConsistentFileOrIsRefusedBeforeWriting) {
    romimg::SampleSpec spec;
    spec.mainFiles = {romimg::PlainFile(1, 0x300), romimg::FidFile(romimg::FidSpec()), romimg::RomHoleFile(0, 0x40),
                      romimg::FileSpec{romimg::kSlpKey, Bytes(0x80, 0xFF)}, romimg::SlpMarkerFile(0x20),
                      romimg::CapsuleFile(0x40)};
    spec.bootFiles = {romimg::PlainFile(3, 0x80)};
    romimg::Rom system = romimg::SampleRom(spec);
    const romimg::FileAt& key = system.File(romimg::kSlpKey);
    struct Row {
        const char* name;
        size_t keySize;  // the key area holds 0x7C bytes
        bool secure;
        int status;
    } rows[] = {
        {"a key shorter than its area", 0x40, false, 0},
        {"secure flash, a key that changes the file's sum", 0x7C, true, 0x4A},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        e2e::Machine m = Machine(system.bytes, row.secure ? std::vector<std::string>{"secure_flash=1"}
                                                          : std::vector<std::string>{});
        Bytes data = romimg::Pattern(row.keySize, 0x7A);
        e2e::RunResult r = Run(m, {Put(m, "key.bin", data), "/HOLE:" + GuidArg(romimg::kSlpKey)});
        EXPECT_EQ(r.status, row.status) << r.out;
        Bytes flash = Flash(m);
        if (row.status != 0) {
            EXPECT_EQ(r.out, Head() + "4a - Error: Platform data is not empty, And data address is not Alignment Block "
                                      "Address.\n");
            EXPECT_EQ(Smi(m, "cmd=0x22") + Smi(m, "cmd=0x23"), 0u);
            EXPECT_TRUE(flash == system.bytes);
            continue;
        }
        EXPECT_TRUE(Range(flash, key.offset + 0x1C, static_cast<uint32_t>(data.size())) == data);
        e2e::RunResult again = Run(m, {Put(m, "again.rom", flash), "/D"});
        EXPECT_NE(again.out.find(kChecksums), std::string::npos) << again.out;
    }
}

TEST_P(RomHole, HoleRefusals) {
    romimg::Rom system = BlankHoleSystem();
    e2e::Machine m = Machine(system.bytes);
    std::string hole1 = "/HOLE:" + GuidArg(romimg::RomHoleGuid(1));
    struct Case {
        Bytes file;
        std::string option;
        int status;
        std::string error;
    } cases[] = {
        {Bytes(u.hole1.size - 23, 0x11), hole1, 0xBE,
         "be - Error: Rom Hole's in ROM image file do not match those in the system.\n"},
        {Bytes(0x20, 0x11), "/HOLE:" + GuidArg(romimg::RomHoleGuid(0)), 0x4A,
         "4a - Error: Platform data is not empty, And data address is not Alignment Block Address.\n"},
        {Bytes(0x20, 0x11), "/HOLE:" + GuidArg(romimg::RomHoleGuid(9)), 0x0A, "a - Error: Unable to update ROM hole\n"},
        {u.image.bytes, hole1, 0x09, "9 - Error: Size of ROM file does not match the size of system ROM.\n"},
    };
    for (const Case& c : cases) {
        e2e::RunResult r = Run(m, {Put(m, "hole.bin", c.file), c.option});
        EXPECT_EQ(r.out, Head() + c.error) << c.option;
        EXPECT_EQ(r.status, c.status) << c.option;
    }
    EXPECT_EQ(Smi(m, "cmd=0x22") + Smi(m, "cmd=0x23"), 0u);
    EXPECT_EQ(Flash(m), system.bytes);
}

}  // namespace

YOZ_E2E_BOTH_WIDTHS(RomHole);
