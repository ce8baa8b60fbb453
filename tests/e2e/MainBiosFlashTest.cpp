// The main road end to end: a ROM file named alone (or with "/P" or "/B")
// flashes its region of an emulated machine while the system's ROM holes and
// SLP key survive; the failure paths stop before or during the flash.
#include <gtest/gtest.h>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>
#include "E2eHarness.h"
#include "FlashLines.h"
#include "SampleUpdate.h"
#include "UsageListing.h"

namespace {

using romimg::Bytes;

std::string Str(const Bytes& b) { return std::string(b.begin(), b.end()); }

std::string Head() { return e2e::PlainBanner() + e2e::FlashRead(); }
const std::string kChecksums = " - FFS checksums ......... ok\n";

std::string MainPasses() {
    return e2e::Pass("Erasing Main Block ..........", romimg::kSampleMain, 12) +
           e2e::Pass("Updating Main Block .........", romimg::kSampleMain, 12) +
           e2e::Pass("Verifying Main Block ........", romimg::kSampleMain, 12);
}

std::string BootPasses() {
    return e2e::Passes("Boot", {romimg::kSampleBoot, romimg::kSampleBoot + 0x10000});
}

class MainBios : public E2eWidth {
protected:
    romimg::SampleUpdate u = romimg::MakeSampleUpdate();
    e2e::Machine Machine(const std::vector<std::string>& sets = {}) { return MachineOf(u.system.bytes, sets); }
    static e2e::Machine MachineOf(const Bytes& flash, const std::vector<std::string>& sets = {}) {
        return e2e::MakeMachine(Str(flash), romimg::BlockSpec(romimg::SampleBlocks()), sets);
    }
    // A system of the sample's layout with some of its protected files replaced.
    static romimg::Rom SystemWith(const romimg::FidSpec& fid, const romimg::FileSpec& hole0,
                                  const romimg::FileSpec& hole1) {
        romimg::SampleSpec spec;
        spec.mainFiles = {romimg::PlainFile(1, 0x300), romimg::FidFile(fid), hole0,
                          hole1, romimg::SlpKeyFile(0x80), romimg::SlpMarkerFile(0x20),
                          romimg::PlainFile(2, 0x120)};
        spec.bootFiles = {romimg::PlainFile(3, 0x80)};
        return romimg::SampleRom(spec);
    }
    std::string Image(const e2e::Machine& m, const Bytes& bytes) {
        romimg::WriteBytes(m.File("new.rom"), bytes);
        return "new.rom";
    }
    e2e::RunResult Run(const e2e::Machine& m, const std::vector<std::string>& args) {
        return e2e::RunProgram(Width(), m, args);
    }
    Bytes Flash(const e2e::Machine& m) {
        std::string f = e2e::ReadFile(m.File("flash.bin"));
        return Bytes(f.begin(), f.end());
    }
    size_t Count(const e2e::Machine& m, const std::string& needle) {
        size_t n = 0;
        for (const std::string& line : e2e::TraceOfKind(m, "smi")) n += line.find(needle) != std::string::npos;
        return n;
    }
    // The image with the system's protected files put back.
    Bytes Expected() { return romimg::ImageWithSystemFiles(u, romimg::KeptFiles()); }
    static Bytes Range(const Bytes& b, uint32_t at, uint32_t size) { return Bytes(b.begin() + at, b.begin() + at + size); }
    // The sample's protected files with the firmware-ID file in the main
    // volume or in the boot volume.
    static romimg::Rom WithFid(const romimg::FidSpec& fid, bool inBoot, uint32_t seed) {
        romimg::SampleSpec spec;
        spec.mainFiles = {romimg::PlainFile(seed, 0x300),  romimg::RomHoleFile(0, 0x40), romimg::RomHoleFile(1, 0x60),
                          romimg::SlpKeyFile(0x80),        romimg::SlpMarkerFile(0x20),  romimg::PlainFile(seed + 1, 0x120)};
        spec.bootFiles = {romimg::PlainFile(3, 0x80)};
        (inBoot ? spec.bootFiles : spec.mainFiles).push_back(romimg::FidFile(fid));
        return romimg::SampleRom(spec);
    }
};

TEST_P(MainBios, FileNameAloneFlashesTheMainBlocksAndKeepsHolesAndSlpKey) {
    e2e::Machine m = Machine();
    e2e::RunResult r = Run(m, {Image(m, u.image.bytes)});
    EXPECT_EQ(r.out, Head() + kChecksums + MainPasses());
    EXPECT_EQ(r.status, 0) << r.err;
    Bytes flash = Flash(m);
    Bytes expected = Expected();
    EXPECT_EQ(Range(flash, romimg::kSampleMain, romimg::kSampleMainLength),
              Range(expected, romimg::kSampleMain, romimg::kSampleMainLength));
    EXPECT_NE(Range(flash, u.hole0.offset, u.hole0.size), Range(u.image.bytes, u.hole0.offset, u.hole0.size));
    EXPECT_EQ(Range(flash, 0, romimg::kSampleMain), Range(u.system.bytes, 0, romimg::kSampleMain));
    EXPECT_EQ(Range(flash, romimg::kSampleBoot, romimg::kSampleBootLength),
              Range(u.system.bytes, romimg::kSampleBoot, romimg::kSampleBootLength));
    EXPECT_EQ(Count(m, "cmd=0x22"), 12u);  // one erase per main block
    EXPECT_EQ(Count(m, "cmd=0x23"), 12u);  // one write per main block
    for (uint32_t a = romimg::kSampleMain; a < romimg::kSampleBoot; a += 0x10000) {
        char addr[32];
        snprintf(addr, sizeof(addr), "addr=0x%08x", a);
        size_t erases = 0;
        for (const std::string& l : e2e::TraceOfKind(m, "smi"))
            erases += l.find("cmd=0x22") != std::string::npos && l.find(addr) != std::string::npos;
        EXPECT_EQ(erases, 1u) << addr;
    }
}

TEST_P(MainBios, SlashPDoesTheSameAndSlashBWritesOnlyTheBootBlocks) {
    e2e::Machine p = Machine();
    e2e::RunResult rp = Run(p, {Image(p, u.image.bytes), "/p"});
    EXPECT_EQ(rp.out, Head() + kChecksums + MainPasses());
    EXPECT_EQ(rp.status, 0) << rp.err;
    EXPECT_EQ(Flash(p), [&] {
        Bytes e = Expected();
        std::copy(u.system.bytes.begin() + romimg::kSampleBoot, u.system.bytes.end(), e.begin() + romimg::kSampleBoot);
        return e;
    }());

    // A new boot block only: the main blocks stay the system's.
    e2e::Machine b = Machine();
    e2e::RunResult rb = Run(b, {Image(b, u.image.bytes), "/B", "/b"});  // twice: flashed once
    EXPECT_EQ(rb.out, Head() + kChecksums + BootPasses());
    EXPECT_EQ(rb.status, 0) << rb.err;
    Bytes flash = Flash(b);
    EXPECT_EQ(Range(flash, 0, romimg::kSampleBoot), Range(u.system.bytes, 0, romimg::kSampleBoot));
    EXPECT_EQ(Range(flash, romimg::kSampleBoot, romimg::kSampleBootLength),
              Range(u.image.bytes, romimg::kSampleBoot, romimg::kSampleBootLength));
    EXPECT_EQ(Count(b, "cmd=0x22"), 2u);
    EXPECT_EQ(Count(b, "cmd=0x23"), 2u);
}

TEST_P(MainBios, FirmwareNamedBootBlockWordFlashesTheBootBlocks) {
    e2e::Machine m = Machine({"mfg=1", "mfg_table=12|/B2|Boot block 2"});
    e2e::RunResult r = Run(m, {Image(m, u.image.bytes), "/b2"});
    EXPECT_EQ(r.out, Head() + kChecksums + BootPasses());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Count(m, "cmd=0x22"), 2u);
    // Without the firmware's word there is no such option.
    e2e::Machine plain = Machine();
    e2e::RunResult no = Run(plain, {Image(plain, u.image.bytes), "/b2"});
    EXPECT_EQ(no.status, 1);
    EXPECT_EQ(Count(plain, "cmd=0x22"), 0u);
}

TEST_P(MainBios, OptionWordWithoutFileOrAMissingFileEndsWithTheUsage) {
    e2e::Machine m = Machine();
    e2e::RunResult r = Run(m, {"/P"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("1 - Error: Unknown command."), std::string::npos) << r.out;
    // A word that names no file selects nothing by default.
    e2e::RunResult missing = Run(m, {"nosuch.rom"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.out.find("Unknown command or option : nosuch.rom\n"), std::string::npos) << missing.out;
    EXPECT_EQ(Count(m, "cmd=0x22"), 0u);
}

TEST_P(MainBios, SizeMismatchAndBadChecksumsStopBeforeAnyErase) {
    e2e::Machine m = Machine();
    Bytes shorter(u.image.bytes.begin(), u.image.bytes.end() - 0x10000);
    e2e::RunResult small = Run(m, {Image(m, shorter)});
    EXPECT_EQ(small.out, Head() + "3 - Error: ROM file size does not match existing BIOS size.\n");
    EXPECT_EQ(small.status, 3);

    romimg::Rom broken = u.image;
    romimg::mut::FileDataSum(broken, broken.File(romimg::PlainGuid(21)));
    e2e::RunResult bad = Run(m, {Image(m, broken.bytes)});
    EXPECT_EQ(bad.out, Head() + " - FFS checksums ......... bad\n" + "7 - Error: BIOS checksum error.\n");
    EXPECT_EQ(bad.status, 7);
    EXPECT_EQ(Count(m, "cmd=0x22"), 0u);
    EXPECT_EQ(Flash(m), u.system.bytes);
}

TEST_P(MainBios, RomIdOfAnotherProjectStopsTheRunUnlessSlashX) {
    e2e::Machine m = Machine();
    romimg::FidSpec fid;
    fid.projectId = "OTHER001";
    fid.oaKey = Bytes(16, 0xFF);
    Bytes other = SystemWith(fid, romimg::RomHoleFile(0, 0x40), romimg::RomHoleFile(1, 0x60)).bytes;
    e2e::RunResult r = Run(m, {Image(m, other)});
    EXPECT_EQ(r.out, Head() + kChecksums + "4 - Error: ROM file ROMID is not compatible with existing BIOS ROMID.\n");
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(Count(m, "cmd=0x22"), 0u);
    EXPECT_EQ(Flash(m), u.system.bytes);
    // "/X" skips the compare: the main blocks are flashed.
    e2e::RunResult x = Run(m, {"new.rom", "/X"});
    EXPECT_EQ(x.out, Head() + kChecksums + MainPasses());
    EXPECT_EQ(x.status, 0);
    EXPECT_EQ(Count(m, "cmd=0x22"), 12u);
    // The firmware's check of a piece the file does not hold cannot pass, "/X" or not.
    for (const char* piece : {"romid_offset=0xffffffff", "romid_size=0xffffffff"}) {
        e2e::Machine far = Machine({"romid_answer=3", piece});
        e2e::RunResult f = Run(far, {Image(far, u.image.bytes), "/X"});
        EXPECT_EQ(f.out, Head() + kChecksums + "81 - Error: ROM ID mismatch.\n") << piece;
        EXPECT_EQ(f.status, 0x81) << piece;
        EXPECT_EQ(Flash(far), u.system.bytes) << piece;
    }
}

// The system's OEM activation key goes with the image when a block the run
// flashes holds its "$FID" record; a key that cannot go with it stops the
// run before any erase, unless the operator typed "Y" at the OA-key warning.
TEST_P(MainBios, SystemOaKeyGoesWithTheBlocksThatHoldIt) {
    const std::string warning =
        "WARNING !\nThis Image file doesn't match current System design!\n"
        "Force update it will destroy the System's Activation Key.\nWe do not recommend flashing your BIOS.\n"
        "  Press \"Y\" to force update BIOS.\n  Press \"N\" to quit flash.\n- Please select one of the options:";
    const std::string kB8 = "b8 - Error: OA key region incorrect\n";
    const Bytes key = romimg::Pattern(16, 0x0E);
    romimg::FidSpec noArea, shortArea, area;
    noArea.version = 3;
    shortArea.oaKey = Bytes(8, 0xFF);
    area.oaKey = Bytes(16, 0xFF);
    const struct {
        const char* what;
        bool systemKeyInBoot;
        romimg::FidSpec image;
        bool imageFidInBoot;
        std::vector<std::string> options;
        std::string input;
        int status;
        std::string tail;  // after the checksum line
    } cases[] = {
        {"image without a key area", false, noArea, false, {}, "", 0xB8, kB8},
        {"shorter key area", false, shortArea, false, {}, "", 0xB8, kB8},
        {"record outside the main blocks", false, area, true, {}, "", 0xB8, kB8},
        {"boot key kept", true, area, true, {"/B"}, "", 0, BootPasses()},
        {"operator declines", true, noArea, true, {"/B"}, "n\n", 0x0C,
         warning + "n\nc - Error: BIOS update cancelled by user.\n"},
        {"operator forces", true, noArea, true, {"/B"}, "y\n", 0, warning + "y\n" + BootPasses()},
        {"default answer is no force", true, noArea, true, {"/B", "/Q"}, "", 0xB8, ""},
    };
    for (const auto& c : cases) {
        romimg::FidSpec own;
        own.oaKey = key;
        romimg::Rom system = WithFid(own, c.systemKeyInBoot, 1);
        romimg::Rom image = WithFid(c.image, c.imageFidInBoot, 21);
        e2e::Machine m = MachineOf(system.bytes);
        std::vector<std::string> args = {Image(m, image.bytes)};
        args.insert(args.end(), c.options.begin(), c.options.end());
        e2e::RunResult r = e2e::RunProgram(Width(), m, args, c.input);
        EXPECT_EQ(r.status, c.status) << c.what << r.out;
        if (c.options.size() < 2) {
            EXPECT_EQ(r.out, Head() + kChecksums + c.tail) << c.what;
        }
        Bytes expected = system.bytes;
        if (c.status == 0) {
            std::copy(image.bytes.begin() + romimg::kSampleBoot, image.bytes.end(), expected.begin() + romimg::kSampleBoot);
            if (c.image.version == 4) romimg::PutFidKey(image, expected, key);
        } else {
            EXPECT_EQ(Count(m, "cmd=0x22"), 0u) << c.what;
        }
        EXPECT_EQ(Flash(m), expected) << c.what;
    }
}

TEST_P(MainBios, PersistentEraseFaultStopsWithTheEngineCodeAndLeavesLaterBlocks) {
    e2e::Machine m = Machine({"flash_faults=erase@0x40000:1"});
    e2e::RunResult r = Run(m, {Image(m, u.image.bytes)});
    EXPECT_EQ(r.status, 0x43) << r.out;
    EXPECT_NE(r.out.find("43 - Error:"), std::string::npos) << r.out;
    Bytes flash = Flash(m);
    EXPECT_EQ(Range(flash, 0x50000, romimg::kSampleBoot - 0x50000),
              Range(u.system.bytes, 0x50000, romimg::kSampleBoot - 0x50000));
    EXPECT_EQ(Count(m, "cmd=0x23"), 0u);
}

// A signal that would end the run (an operator's SIGTERM, hang-up or Ctrl-C,
// a timer's or a limit's, a power-supply daemon's SIGPWR, any other that
// ends a process by default) that arrives while the flash interface is open
// waits until the flash is written and the interface closed; then, or when
// it arrives outside that window, the run leaves through its shutdown path.
// A stop (Ctrl-Z, a background job's terminal read or write) waits as long,
// then the run goes on; a reader of the output
// that goes away costs only the output. The flash is unchanged or wholly
// written, and the driver is unloaded. A signal that ends the run once the
// update is written says so before its 0x0C, and stops only the restart or
// power-off that remained.
TEST_P(MainBios, SignalLeavesTheFlashUnchangedOrWhollyWrittenAndTheInterfaceClosed) {
    const std::string kCancelled = "c - Error: BIOS update cancelled by user.\n";
    const std::string kComplete =
        " - The BIOS update is complete; the signal stopped only what remained (the restart or power-off).\n";
    const struct {
        const char* rule;
        bool both;  // "/B /P": two region modules, the signal during the first
        bool written;
        int status;
        const char* power = nullptr;  // a power word after the others
    } rows[] = {
        {"0x7f:TERM", false, false, 0x0C},   // the memory hole asked for at start-up
        {"0x22#2:TERM", false, true, 0x0C},  // the second erase
        {"0x23#5:HUP", false, true, 0x0C},   // a write
        {"0x21#20:INT", false, true, 0x0C},  // a verify read
        {"0x22#2:TERM", true, true, 0x0C},   // the boot block's second erase, the main blocks after it
        {"0x22#3:ALRM", false, true, 0x0C},
        {"0x23#2:USR1", false, true, 0x0C},
        {"0x21#3:XFSZ", false, true, 0x0C},
        {"0x22#4:PIPE", false, true, 0},     // the output's reader killed at the fourth erase
        {"0x22#2:TSTP", true, true, 0},      // Ctrl-Z in the boot block
        // A power-supply daemon's, the other signals that end a process by
        // default, and the stops of a job that touches the terminal.
        {"0x22#2:PWR", false, true, 0x0C},
        {"0x23#3:IO", true, true, 0x0C},
        {"0x21#5:SYS", false, true, 0x0C},
        {"0x22#3:TRAP", false, true, 0x0C},
        {"0x23#2:STKFLT", false, true, 0x0C},
        {"0x22#2:ABRT", false, true, 0x0C},
        {"0x22#2:RTMIN", false, true, 0x0C},
        {"0x21#4:RTMIN+3", false, true, 0x0C},
        {"0x22#2:TTIN", true, true, 0},
        {"0x22#3:TTOU", false, true, 0},
        // The restart or power-off asked for is not done.
        {"0x22#1:TERM", false, true, 0x0C, "/REBOOT"},
        {"0x23#3:HUP", true, true, 0x0C, "/SHUTDOWN"},
        {"0x24:INT", false, true, 0x0C, "/REBOOT"},  // at the close, after the verify
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.rule) + (row.both ? " /B /P" : "") + (row.power ? row.power : ""));
        const std::string rule = row.rule;
        const bool stop = rule.find(":TSTP") != std::string::npos || rule.find(":TTIN") != std::string::npos ||
                          rule.find(":TTOU") != std::string::npos;
        e2e::Machine m = Machine({std::string("signal_smi=") + row.rule, "mem_hole=0"});
        e2e::WriteFile(m.File("nuvfldrv_mod.o"), "\x7f" "ELF prebuilt module\n");
        std::vector<std::string> args = {Image(m, u.image.bytes)};
        if (row.both) args.insert(args.end(), {"/B", "/P"});
        if (row.power) args.push_back(row.power);
        std::vector<std::string> smiAtStops;
        Bytes flashAtStop;
        e2e::RunResult r = e2e::RunProgramWatchingStops(Width(), m, args, [&] {
            smiAtStops.push_back(e2e::TraceOfKind(m, "smi").back());
            flashAtStop = Flash(m);
        });
        EXPECT_EQ(r.status, row.status);
        EXPECT_EQ(r.signal, 0);
        // Before the parse pass no banner is out yet.
        std::string flashed = Head() + kChecksums + (row.both ? BootPasses() : "") + MainPasses();
        if (std::string(row.rule).find("PIPE") != std::string::npos) {
            EXPECT_LT(r.out.size(), flashed.size()) << "written after the reader went: " << r.out;
            EXPECT_EQ(r.out, flashed.substr(0, r.out.size()));
        } else {
            EXPECT_EQ(r.out, !row.written ? kCancelled : flashed + (row.status == 0 ? "" : kComplete + kCancelled));
        }
        std::vector<std::string> power;
        if (row.power && row.status == 0)
            power.push_back(std::string("shell \"shutdown ") + (row.power[1] == 'R' ? "-r" : "-h") + " now\"");
        EXPECT_EQ(e2e::TraceOfKind(m, "shell"), power);
        Bytes expected = row.written ? Expected() : u.system.bytes;
        if (!row.both) std::copy(u.system.bytes.begin() + romimg::kSampleBoot, u.system.bytes.end(),
                                 expected.begin() + romimg::kSampleBoot);
        EXPECT_EQ(Flash(m), expected);
        EXPECT_EQ(Count(m, "cmd=0x20"), Count(m, "cmd=0x24"));
        std::vector<std::string> smi = e2e::TraceOfKind(m, "smi");
        ASSERT_FALSE(smi.empty());
        if (row.written) EXPECT_NE(smi.back().find("cmd=0x24"), std::string::npos) << "closed last: " << smi.back();
        else EXPECT_EQ(Count(m, "cmd=0x20"), 0u);
        EXPECT_EQ(e2e::TraceOfKind(m, "module").back(), "module unload name=\"nuvfldrv_mod\" result=removed");
        // A stop waits for the interface to close, with the flash written.
        if (stop) {
            ASSERT_EQ(smiAtStops.size(), 1u);
            EXPECT_NE(smiAtStops[0].find("cmd=0x24"), std::string::npos) << "stopped at " << smiAtStops[0];
            EXPECT_EQ(flashAtStop, expected);
        } else {
            EXPECT_TRUE(smiAtStops.empty()) << smiAtStops[0];
        }
    }
}

TEST_P(MainBios, ErrorLinesFollowAnEndedProgressLine) {
    // A failure in the middle of a progress line: the error line starts on a
    // line of its own instead of overprinting the progress.
    const struct {
        std::vector<std::string> sets;
        std::vector<std::string> args;
        std::string error;
    } cases[] = {
        {{"flash_faults=read@0x40000:1"}, {"new.rom"}, "42 - Error: Problem reading flash.\n"},
        {{"flash_faults=read@0x40000:1"}, {"saved.bin", "/O"}, "42 - Error: Problem reading flash.\n"},
        {{"secure_flash=1", "sf_refuse_offset=0x8800"}, {"new.cap"}, "1d - Error: Failed to load image into memory.\n"},
    };
    for (const auto& c : cases) {
        e2e::Machine m = Machine(c.sets);
        Image(m, u.image.bytes);
        romimg::WriteBytes(m.File("new.cap"), romimg::SignedCapsule(u.image.bytes, 0x40));
        e2e::RunResult r = Run(m, c.args);
        size_t at = r.out.rfind(c.error);
        ASSERT_NE(at, std::string::npos) << r.out;
        EXPECT_EQ(at + c.error.size(), r.out.size()) << r.out;
        ASSERT_GE(at, 3u);
        EXPECT_EQ(r.out.substr(at - 3, 3), " \r\n") << "the progress line ends first: " << r.out;
        EXPECT_EQ(Count(m, "cmd=0x22"), 0u);
    }
}

TEST_P(MainBios, ImageWithMoreHolesThanTheSystemKeepsItsOwnExtraHole) {
    // The system lacks hole 1: only hole 0 is paired; the image's hole 1 is flashed as it is.
    romimg::Rom system = SystemWith(romimg::FidSpec(), romimg::RomHoleFile(0, 0x40), romimg::PlainFile(9, 0x60));
    e2e::Machine m = MachineOf(system.bytes);
    e2e::RunResult r = Run(m, {Image(m, u.image.bytes)});
    EXPECT_EQ(r.status, 0) << r.out;
    Bytes flash = Flash(m);
    EXPECT_EQ(Range(flash, u.hole1.offset, u.hole1.size), Range(u.image.bytes, u.hole1.offset, u.hole1.size));
}

TEST_P(MainBios, ImageWithHolesForASystemWithoutAnyIsRefused) {
    romimg::Rom system = SystemWith(romimg::FidSpec(), romimg::PlainFile(8, 0x40), romimg::PlainFile(9, 0x60));
    e2e::Machine m = MachineOf(system.bytes);
    e2e::RunResult r = Run(m, {Image(m, u.image.bytes)});
    EXPECT_EQ(r.out, Head() + kChecksums + "bb - Error: Rom image layout detected Rom Hole is redesigned.\n");
    EXPECT_EQ(r.status, 0xBB);
    EXPECT_EQ(Count(m, "cmd=0x22"), 0u);
}

TEST_P(MainBios, HoleOfAnotherSizeUnderAnUnchangedLayoutIsNotMerged) {
    romimg::Rom system = SystemWith(romimg::FidSpec(), romimg::RomHoleFile(0, 0x50), romimg::RomHoleFile(1, 0x60));
    e2e::Machine m = MachineOf(system.bytes);
    e2e::RunResult r = Run(m, {Image(m, u.image.bytes)});
    EXPECT_EQ(r.out, Head() + kChecksums +
                         "14 - Error: Non-critical blocks in ROM image file do not match those in the system.\n");
    EXPECT_EQ(r.status, 0x14);
    EXPECT_EQ(Count(m, "cmd=0x22"), 0u);
    EXPECT_EQ(Flash(m), system.bytes);
}

// System and image whose protected files differ in structure: each system
// ROM hole and SLP file is carried to the image's file of its GUID, or the
// run stops before any erase; an image whose volume header is damaged is
// refused by the checksum step.
TEST_P(MainBios, ProtectedFilesArePairedByGuidOrTheRunStopsBeforeAnyErase) {
    using romimg::ProtectedLayout;
    using romimg::RomHoleFile;
    const romimg::Guid h0 = romimg::RomHoleGuid(0), h1 = romimg::RomHoleGuid(1), h2 = romimg::RomHoleGuid(2);
    const romimg::Guid key = romimg::kSlpKey, marker = romimg::kSlpMarker, fid = romimg::kFidFile;
    const ProtectedLayout plain, bootHole = ProtectedLayout().AddBoot(0, RomHoleFile(2, 0x40));
    void (*const none)(romimg::Rom&) = nullptr;
    struct Row {
        const char* name;
        ProtectedLayout system, image;
        const char* options;  // after the file name, blank-separated; none: the file alone
        void (*damage)(romimg::Rom&);
        int status;
        std::vector<romimg::Guid> carried;  // on success, in the flashed region
    } rows[] = {
        {"no holes in the image", plain, ProtectedLayout(plain).Drop(h0).Drop(h1), nullptr, none, 0xBB, {}},
        {"one hole of two", plain, ProtectedLayout(plain).Drop(h1), "/P", none, 0xBB, {}},
        {"hole moved out of the main blocks", plain, ProtectedLayout(plain).MoveToBoot(h1), nullptr, none, 0x14, {}},
        {"boot hole after a new one", bootHole, ProtectedLayout(bootHole).AddBoot(0, RomHoleFile(3, 0x30)), "/B",
         none, 0, {h2}},
        {"main only, boot holes differ", bootHole, ProtectedLayout(plain).AddBoot(0, RomHoleFile(3, 0x40)), "/P",
         none, 0, {h0, h1, key, marker, fid}},
        {"boot hole the image lacks", bootHole, ProtectedLayout(plain).AddBoot(0, RomHoleFile(3, 0x40)), "/B",
         none, 0xBB, {}},
        {"SLP files in the other order", plain, ProtectedLayout(plain).Swap(key, marker), nullptr, none, 0,
         {h0, h1, key, marker, fid}},
        {"SLP key file of another size", plain, ProtectedLayout(plain).Resize(key, 0xA0), nullptr, none, 0x14, {}},
        {"no SLP files in the image", plain, ProtectedLayout(plain).Drop(key).Drop(marker), nullptr, none, 0x14, {}},
        {"file-system GUID damaged", plain, plain, nullptr, [](romimg::Rom& r) { romimg::mut::VolumeFsGuid(r, 0); },
         7, {}},
        {"volume signature damaged", plain, plain, nullptr,
         [](romimg::Rom& r) { romimg::mut::VolumeSignature(r, 0); }, 7, {}},
        // Cases the property test found.
        {"several regions, a main hole the image lacks", plain, ProtectedLayout(plain).Drop(h1), "/B /P /N", none,
         0xBB, {}},
        {"SLP marker file of another size", plain, ProtectedLayout(plain).Resize(marker, 0x30), nullptr, none, 0x14,
         {}},
        {"all holes over a damaged boot volume", plain, plain, "/L",
         [](romimg::Rom& r) { romimg::mut::VolumeFsGuid(r, 1); }, 7, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        romimg::SampleUpdate update = romimg::MakeSampleUpdate(row.system, row.image);
        if (row.damage != nullptr) row.damage(update.image);
        e2e::Machine m = MachineOf(update.system.bytes);
        std::vector<std::string> args = {Image(m, update.image.bytes)};
        std::istringstream words(row.options != nullptr ? row.options : "");
        for (std::string w; words >> w;) args.push_back(w);
        e2e::RunResult r = Run(m, args);
        EXPECT_EQ(r.status, row.status) << r.out;
        bool boot = row.options != nullptr && std::string(row.options) == "/B";
        uint32_t at = boot ? romimg::kSampleBoot : romimg::kSampleMain;
        uint32_t size = boot ? romimg::kSampleBootLength : romimg::kSampleMainLength;
        Bytes expected = update.system.bytes;
        std::string tail;
        if (row.status == 0) {
            Bytes carried = romimg::ImageWithSystemFiles(update, row.carried);
            std::copy(carried.begin() + at, carried.begin() + at + size, expected.begin() + at);
            tail = kChecksums + (boot ? BootPasses() : MainPasses());
        } else if (row.status == 7) {
            tail = " - FFS checksums ......... bad\n7 - Error: BIOS checksum error.\n";
        } else {
            tail = kChecksums + (row.status == 0xBB ? "bb - Error: Rom image layout detected Rom Hole is redesigned.\n"
                                                    : "14 - Error: Non-critical blocks in ROM image file do not match "
                                                      "those in the system.\n");
            EXPECT_EQ(Count(m, "cmd=0x22"), 0u);
        }
        EXPECT_EQ(r.out, Head() + tail);
        EXPECT_TRUE(Flash(m) == expected);
    }
}

TEST_P(MainBios, BlockTablesAndReadsTheRunCannotTrustFailBeforeAnyErase) {
    const std::string corrupt = "flash_faults=read@" + std::to_string(u.hole0.offset) + "#1:corrupt";
    const std::string redesigned = kChecksums + "bb - Error: Rom image layout detected Rom Hole is redesigned.\n";
    struct Row {
        std::string blocks, set;
        const char* option;  // none: the file alone
        std::string tail;    // after the banner (and the flash read, for a run that reads it)
        int status;
    } rows[] = {
        {"2x64K:nvram,14x64K:boot", "", nullptr, "2 - Error: BIOS has no flash information available.\n", 2},
        {"2x64K:nvram,14x64K:boot", "", "/P", "2 - Error: BIOS has no flash information available.\n", 2},
        {"2x64K:nvram,14x64K:main", "", "/B", "2 - Error: BIOS has no flash information available.\n", 2},
        {"14x64K:main,2x64K:boot", "", "/N", "2 - Error: BIOS has no flash information available.\n", 2},
        // The main volume runs past the main blocks: its holes and SLP key are not walked.
        {"2x64K:nvram,11x64K:main,3x64K:boot", "", nullptr, redesigned, 0xBB},
        {"2x64K:nvram,5x64K:main,1x64K:ft,6x64K:main,2x64K:boot", "", nullptr, redesigned, 0xBB},
        // The first read of hole 0 answers done with a wrong byte; two more reads tell.
        {romimg::BlockSpec(romimg::SampleBlocks()), corrupt, nullptr, kChecksums + "42 - Error: Problem reading flash.\n",
         0x42},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.blocks + " " + row.set + " " + (row.option != nullptr ? row.option : ""));
        e2e::Machine m = e2e::MakeMachine(Str(u.system.bytes), row.blocks,
                                          row.set.empty() ? std::vector<std::string>{} : std::vector<std::string>{row.set});
        std::vector<std::string> args = {Image(m, u.image.bytes)};
        if (row.option != nullptr) args.push_back(row.option);
        e2e::RunResult r = Run(m, args);
        EXPECT_EQ(r.out, row.status == 2 ? e2e::PlainBanner() + row.tail : Head() + row.tail);
        EXPECT_EQ(r.status, row.status);
        EXPECT_EQ(Count(m, "cmd=0x22") + Count(m, "cmd=0x23"), 0u);
        if (row.status == 2) EXPECT_EQ(Count(m, "cmd=0x21"), 0u);
        EXPECT_TRUE(Flash(m) == u.system.bytes);
    }
}

TEST_P(MainBios, CafComparesOnceAndWritesOnlyTheBlockThatDiffers) {
    // The flash already holds the update except for one byte of one main block.
    Bytes system = Expected();
    system[0xA0100] ^= 0x5A;
    e2e::Machine m = MachineOf(system);
    e2e::RunResult r = Run(m, {Image(m, u.image.bytes), "/caf"});
    EXPECT_EQ(r.out, Head() + kChecksums + e2e::Pass("Verifying Main Block ........", romimg::kSampleMain, 12) +
                         e2e::Passes("Main", {0xA0000}));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Flash(m), Expected());
    EXPECT_EQ(Count(m, "cmd=0x22"), 1u);
    EXPECT_EQ(Count(m, "cmd=0x22 port=0xb2 ebx=0x7e000000 addr=0x000a0000 size=0x00010000 status=0x00"), 1u);
    EXPECT_EQ(Count(m, "cmd=0x23"), 1u);
    // Nothing left to write: the compare line alone.
    e2e::RunResult again = Run(m, {"new.rom", "/caf"});
    EXPECT_EQ(again.out, Head() + kChecksums + e2e::Pass("Verifying Main Block ........", romimg::kSampleMain, 12));
    EXPECT_EQ(again.status, 0);
    EXPECT_EQ(Count(m, "cmd=0x22"), 1u);
}

TEST_P(MainBios, RuntimeSecureFlashUploadsTheMergedCapsuleOnceAndFlashesBothRegions) {
    e2e::Machine m = Machine({"secure_flash=1", "sf_policy0=0x04", "sf_policy1=0x06"});
    Bytes capsule = romimg::SignedCapsule(u.image.bytes, 0x400);
    romimg::WriteBytes(m.File("new.cap"), capsule);
    e2e::RunResult r = Run(m, {"new.cap", "/B", "/P"});
    EXPECT_EQ(r.out, Head() + " Secure Flash enabled, recalculate ROM size with signature... Enable.\n" + kChecksums +
                         e2e::Upload(static_cast<uint32_t>(capsule.size())) +
                         BootPasses() + MainPasses());
    EXPECT_EQ(r.status, 0) << r.err;
    // Holes and SLP key kept, and the system's OA key carried in with its
    // file checksum fixed: the whole firmware-ID file is the system's.
    Bytes expected = Expected();
    const romimg::FileAt& fid = u.system.File(romimg::kFidFile);
    std::copy(u.system.bytes.begin() + fid.offset, u.system.bytes.begin() + fid.offset + fid.size,
              expected.begin() + fid.offset);
    EXPECT_EQ(Flash(m), expected);
    // The merged data went into the uploaded image; the upload and the
    // session, for both areas, were sent once, before the first erase.
    Bytes uploaded = romimg::CapsuleHeader(0x400);
    uploaded.insert(uploaded.end(), expected.begin(), expected.end());
    std::string sent = e2e::ReadFile(m.File("state/sf_image.bin"));
    EXPECT_TRUE(Bytes(sent.begin(), sent.end()) == uploaded);
    EXPECT_EQ(Count(m, "sub=0x02"), (capsule.size() + 0x87FF) / 0x8800);
    EXPECT_EQ(Count(m, "sub=0x08"), 1u);
    EXPECT_EQ(Count(m, "sub=0x08 op=0x04 areas=0x00000003 name=\"\" size=0x00100400 status=0x00"), 1u);
    EXPECT_EQ(Count(m, "cmd=0x22"), 14u);

    // A policy without runtime update of the boot block stops "/B" before the upload.
    e2e::Machine denied = Machine({"secure_flash=1", "sf_policy0=0x04", "sf_policy1=0x02"});
    romimg::WriteBytes(denied.File("new.cap"), capsule);
    e2e::RunResult no = Run(denied, {"new.cap", "/B"});
    EXPECT_EQ(no.status, 0x17);
    EXPECT_NE(no.out.find("17 - Error: Unsupported Secure Flash policy.\n"), std::string::npos) << no.out;
    EXPECT_EQ(Count(denied, "sub=0x02"), 0u);
    // An image without the capsule header is refused before anything is processed.
    e2e::RunResult plain = Run(denied, {Image(denied, u.image.bytes)});
    EXPECT_EQ(plain.status, 0x1E);
    EXPECT_NE(plain.out.find("1e - Error: Secure Flash function is not supported on this file.\n"), std::string::npos)
        << plain.out;
    EXPECT_EQ(Count(denied, "cmd=0x22"), 0u);

    // The policy request refused: secure flash of unknown rules, nothing is
    // read or written. Its answer lost or missing once: asked again, the
    // policy holds (a signed image is flashed, a plain one refused).
    struct Row {
        const char* fault;
        bool capsule;
        std::string out;
        int status;
        size_t erases;
    } rows[] = {
        {"zokt_faults=0x70/4#1:2", true, e2e::PlainBanner() + "16 - Error: Unable to get Secure Flash policy from BIOS.\n",
         0x16, 0},
        {"zokt_faults=0x70/4#1:2", false, e2e::PlainBanner() + "16 - Error: Unable to get Secure Flash policy from BIOS.\n",
         0x16, 0},
        {"zokt_faults=0x70/4#1:none", true, r.out, 0, 14},
        {"zokt_faults=0x70/4#1:lost", false, plain.out, 0x1E, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.fault) + (row.capsule ? " signed" : " plain"));
        e2e::Machine f = Machine({"secure_flash=1", "sf_policy0=0x04", "sf_policy1=0x06", row.fault});
        romimg::WriteBytes(f.File("new.cap"), row.capsule ? capsule : u.image.bytes);
        e2e::RunResult fr = Run(f, {"new.cap", "/B", "/P"});
        EXPECT_EQ(fr.out, row.out);
        EXPECT_EQ(fr.status, row.status);
        EXPECT_EQ(Count(f, "cmd=0x22"), row.erases);
        if (row.status == 0x16) {
            EXPECT_EQ(Count(f, "cmd=0x21"), 0u);
        }
    }
}
}  // namespace

YOZ_E2E_BOTH_WIDTHS(MainBios);
