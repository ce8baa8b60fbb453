// The EC modules end to end, both widths: "/E" and "/ECUF" rewrite the EC
// block of the flash from the ROM image ("/ECUF" only when the image's EC
// version word is the higher one), "/EC" hands an EC image to the firmware's
// EC interface page by page, and the EC-file option (manufacturing mode)
// programs a separate EC file through the ECX interface. Exact output after
// the banner, exit status, flash, EC ROM and trace.
#include <gtest/gtest.h>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include "E2eHarness.h"
#include "FlashLines.h"
#include "RomImageBuilder.h"
#include "UafBuilder.h"
#include "UsageListing.h"

namespace {

using romimg::Bytes;
const uint32_t kBlock = 0x10000;
const uint32_t kEc = 0x20000;          // the EC block of the machine
const uint32_t kEcHeader = kEc + 0x10;  // "$NUVEC" of the image's EC firmware
const char kBlocks[] = "2x64K:nvram,1x64K:ec,11x64K:main,2x64K:boot";
const std::string kChecksums = " - FFS checksums ......... ok\n";
const std::string kNotNewer = " Embedded Controller in system is newer than in ROM file.  EC not updated.\n";

std::string Str(const Bytes& b) { return std::string(b.begin(), b.end()); }
Bytes FromStr(const std::string& s) { return Bytes(s.begin(), s.end()); }
std::string Head() { return e2e::PlainBanner() + e2e::FlashRead(); }

// NVRAM, the EC block (its own fill per seed), the main volume behind it and
// the boot block.
Bytes EcRom(uint32_t ecSeed) {
    romimg::Rom r(romimg::kSampleSize);
    romimg::VolumeSpec main;
    main.length = 0xB0000;
    main.files = {romimg::PlainFile(1, 0x300), romimg::FidFile(romimg::FidSpec()), romimg::PlainFile(2, 0x120)};
    r.AddVolume(0x30000, main);
    romimg::VolumeSpec boot;
    boot.ffs3 = true;
    boot.length = 0x20000;
    boot.files = {romimg::PlainFile(3, 0x80)};
    r.AddVolume(0xE0000, boot);
    r.Fill(0, 2 * kBlock, 7);
    r.Fill(kEc, kBlock, ecSeed);
    return r.bytes;
}

void PutWord(Bytes& b, uint32_t at, uint32_t value) { romimg::Put32(b, at, value); }

// The header lines the program prints for an EC header of default fields.
std::string EcLines(const Bytes& image, uint32_t at) {
    char sum[64];
    snprintf(sum, sizeof(sum), " - CheckSum: 0x%04X\n", romimg::Get16(image, at + 10));
    return std::string(sum) + " - Core Version: 1.01\n - OEM Version: 2.02.03\n - EC File checking ........ ok\n";
}

class EcFlash : public E2eWidth {
protected:
    Bytes system = EcRom(0x51);
    Bytes image = WithEc(system, EcRom(0x52));

    static Bytes WithEc(Bytes base, const Bytes& from) {
        std::copy(from.begin() + kEc, from.begin() + kEc + kBlock, base.begin() + kEc);
        return base;
    }
    e2e::Machine MachineWith(const Bytes& flash, const std::vector<std::string>& sets = {}) {
        return e2e::MakeMachine(Str(flash), kBlocks, sets);
    }
    e2e::Machine Machine(const std::vector<std::string>& sets = {}) { return MachineWith(system, sets); }
    e2e::RunResult Run(const e2e::Machine& m, const Bytes& rom, const std::vector<std::string>& options,
                       const std::string& name = "new.rom") {
        romimg::WriteBytes(m.File(name), rom);
        std::vector<std::string> args = {name};
        args.insert(args.end(), options.begin(), options.end());
        return e2e::RunProgram(Width(), m, args);
    }
    static Bytes Flash(const e2e::Machine& m) { return FromStr(e2e::ReadFile(m.File("flash.bin"))); }
    static size_t Count(const e2e::Machine& m, const std::string& needle) {
        size_t n = 0;
        for (const std::string& line : e2e::TraceOfKind(m, "smi")) n += line.find(needle) != std::string::npos;
        return n;
    }
    // Address and size of every read, in order.
    static std::vector<std::string> Reads(const e2e::Machine& m) {
        std::vector<std::string> out;
        for (const std::string& line : e2e::TraceOfKind(m, "smi")) {
            if (line.find("cmd=0x21 ") == std::string::npos) continue;
            size_t at = line.find("addr=");
            out.push_back(line.substr(at, std::string("addr=0x00000000 size=0x00000000").size()));
        }
        return out;
    }
    static std::vector<std::string> PipelineReads() {
        std::vector<std::string> out;
        char line[64];
        for (uint32_t a = 0; a < romimg::kSampleSize; a += kBlock) {
            snprintf(line, sizeof(line), "addr=0x%08x size=0x%08x", a, kBlock);
            out.push_back(line);
        }
        return out;
    }
};

// ---- "/E" ----

TEST_P(EcFlash, SlashEFlashesExactlyTheEcBlock) {
    e2e::Machine m = Machine();
    e2e::RunResult r = Run(m, image, {"/E"});
    EXPECT_EQ(r.out, Head() + kChecksums + e2e::Passes("EC", {kEc}));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Flash(m), image);
    EXPECT_EQ(Count(m, "cmd=0x22"), 1u);
    EXPECT_EQ(Count(m, "cmd=0x23"), 1u);
    EXPECT_EQ(Count(m, "cmd=0x22 port=0xb2 ebx=0x7e000000 addr=0x00020000 size=0x00010000"), 1u);

    // Under "/caf" an EC block that equals the flash is compared and left.
    e2e::Machine same = MachineWith(image);
    e2e::RunResult c = Run(same, image, {"/e", "/caf"});
    EXPECT_EQ(c.out, Head() + kChecksums + e2e::Pass("Verifying EC Block ..........", {kEc}));
    EXPECT_EQ(c.status, 0) << c.err;
    EXPECT_EQ(Count(same, "cmd=0x22"), 0u);
    EXPECT_EQ(Count(same, "cmd=0x23"), 0u);
    EXPECT_EQ(Flash(same), image);
}

TEST_P(EcFlash, SlashEStopsBeforeTheFlashOnAWrongSystemOrImage) {
    // No EC block in the system: nothing is erased.
    e2e::Machine none = e2e::MakeMachine(Str(system), "3x64K:nvram,11x64K:main,2x64K:boot");
    e2e::RunResult n = Run(none, image, {"/E"});
    EXPECT_EQ(n.out, Head() + kChecksums + "c6 - Error: No EC blocks found in system ROM.\n");
    EXPECT_EQ(n.status, 0xC6);
    EXPECT_EQ(Count(none, "cmd=0x22"), 0u);

    // An image of another size.
    e2e::Machine m = Machine();
    Bytes shorter(image.begin(), image.end() - kBlock);
    e2e::RunResult s = Run(m, shorter, {"/E"});
    EXPECT_EQ(s.out, Head() + "3 - Error: ROM file size does not match existing BIOS size.\n");
    EXPECT_EQ(s.status, 3);
    EXPECT_EQ(Count(m, "cmd=0x22"), 0u);
    EXPECT_EQ(Flash(m), system);

    // The option alone.
    e2e::RunResult alone = e2e::RunProgram(Width(), m, {"/E"});
    EXPECT_EQ(alone.out, e2e::UsageListing(Width()) + "1 - Error: Unknown command.\n");
    EXPECT_EQ(alone.status, 1);
}

TEST_P(EcFlash, SlashEUnderSecureFlashUploadsTheSignedImageForTheEcArea) {
    const std::string stripped = " Secure Flash enabled, recalculate ROM size with signature... Enable.\n";
    Bytes capsule = romimg::SignedCapsule(image, 0x40);
    e2e::Machine m = Machine({"secure_flash=1"});
    e2e::RunResult r = Run(m, capsule, {"/E"});
    EXPECT_EQ(r.out, Head() + stripped + kChecksums + e2e::Upload(static_cast<uint32_t>(capsule.size())) +
                         e2e::Passes("EC", {kEc}));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Flash(m), image);
    char session[96];
    snprintf(session, sizeof(session), "sub=0x08 op=0x04 areas=0x00000008 name=\"\" size=0x%08x status=0x00",
             static_cast<unsigned>(capsule.size()));
    EXPECT_EQ(Count(m, session), 1u);
    EXPECT_EQ(e2e::ReadFile(m.File("state/sf_image.bin")), Str(capsule));
    // The session is open before the EC block is erased.
    std::vector<std::string> smis = e2e::TraceOfKind(m, "smi");
    size_t opened = 0, erased = 0;
    for (size_t i = 0; i < smis.size(); ++i) {
        if (smis[i].find("sub=0x08 ") != std::string::npos) opened = i;
        if (smis[i].find("cmd=0x22 ") != std::string::npos) erased = i;
    }
    EXPECT_LT(opened, erased);

    // Policy byte 0 without the runtime bit (4): nothing is erased.
    e2e::Machine refused = Machine({"secure_flash=1", "sf_policy0=0x03"});
    e2e::RunResult p = Run(refused, capsule, {"/E"});
    EXPECT_EQ(p.out, Head() + stripped + kChecksums + "17 - Error: Unsupported Secure Flash policy.\n");
    EXPECT_EQ(p.status, 0x17);
    EXPECT_EQ(Count(refused, "cmd=0x22"), 0u);
    EXPECT_EQ(Flash(refused), system);

    // An unsigned image is refused before any upload or erase.
    e2e::Machine plain = Machine({"secure_flash=1"});
    e2e::RunResult u = Run(plain, image, {"/E"});
    EXPECT_EQ(u.out, Head() + kChecksums + "1e - Error: Secure Flash function is not supported on this file.\n");
    EXPECT_EQ(u.status, 0x1E);
    EXPECT_EQ(Count(plain, "zokt=0x70"), 1u) << "the policy question only";
    EXPECT_EQ(Count(plain, "cmd=0x22"), 0u);
}

// ---- "/ECUF" ----

// Version words at +0x100 and +0x200 of the EC block, of the flash and of
// the image; the image's EC block carries the "$NUVEC" header, whose
// checksum covers the whole image.
struct Words {
    uint32_t flash100, image100, flash200, image200;
};

class Ecuf : public EcFlash {
protected:
    Bytes EcufFlash(const Words& w) {
        Bytes b = system;
        PutWord(b, kEc + 0x100, w.flash100);
        PutWord(b, kEc + 0x200, w.flash200);
        return b;
    }
    Bytes EcufImage(const Words& w, int checksum = -1) {
        Bytes b = image;
        PutWord(b, kEc + 0x100, w.image100);
        PutWord(b, kEc + 0x200, w.image200);
        romimg::EcSpec spec;
        spec.checksumOverride = checksum;
        romimg::PutEcHeader(b, kEcHeader, spec);
        return b;
    }
};

const std::vector<std::string> kRomInfoWord = {"ec_version_offset=0x100", "ec_version_mask=0xffff"};
// A "$ECB" header whose word lies at +0x200 of the EC block (with the ROM
// information's word at +0x100 as well).
std::vector<std::string> EcbWord(const std::string& status, const std::string& size = "0x10000",
                                 const std::string& offset = "0x200") {
    std::vector<std::string> sets = kRomInfoWord;
    for (const std::string& s : {"ecb=" + status, std::string("ecb_area_start=0x20000"), "ecb_area_size=" + size,
                                 "ecb_version_offset=" + offset, std::string("ecb_version_mask=0xffff")})
        sets.push_back(s);
    return sets;
}

TEST_P(Ecuf, TheImagesEcIsFlashedOnlyWhenItsVersionWordIsHigher) {
    struct Row {
        const char* what;
        std::vector<std::string> sets;
        Words words;
        std::vector<std::string> extra;
        bool flashed;
        bool compared;  // the EC area is read
    } rows[] = {
        {"ROM information: 1.2 in the flash, 1.3 in the image", kRomInfoWord, {0x0102, 0x0103, 0, 0}, {}, true, true},
        {"ROM information: equal words", kRomInfoWord, {0x0103, 0x0103, 0x0102, 0x0103}, {}, false, true},
        {"ROM information: higher only outside the mask", kRomInfoWord, {0x0103, 0x10103, 0, 0}, {}, false, true},
        // The "$ECB" word decides where the ROM information's says otherwise.
        {"$ECB: newer", EcbWord("0x01"), {0x0103, 0x0102, 0x0102, 0x0103}, {}, true, true},
        {"$ECB: newer, no battery step", EcbWord("0x01"), {0x0103, 0x0102, 0x0102, 0x0103}, {"/jbc"}, true, true},
        {"$ECB: equal", EcbWord("0x01"), {0x0102, 0x0103, 0x0103, 0x0103}, {}, false, true},
        {"$ECB: equal, no battery step", EcbWord("0x01"), {0x0102, 0x0103, 0x0103, 0x0103}, {"/JBC"}, false, true},
        {"$ECB status without bit 0", EcbWord("0x00"), {0x0102, 0x0103, 0x0102, 0x0103}, {}, false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Bytes flash = EcufFlash(row.words);
        Bytes rom = EcufImage(row.words);
        e2e::Machine m = MachineWith(flash, row.sets);
        std::vector<std::string> options = {"/ECUF"};
        options.insert(options.end(), row.extra.begin(), row.extra.end());
        e2e::RunResult r = Run(m, rom, options);
        std::string expected = Head() + kChecksums + EcLines(rom, kEcHeader);
        EXPECT_EQ(r.out, expected + (row.flashed ? e2e::Passes("EC", {kEc}) : kNotNewer));
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(Flash(m), row.flashed ? rom : flash);
        if (row.flashed) {
            EXPECT_EQ(Count(m, "cmd=0x22"), 1u);
            continue;
        }
        EXPECT_EQ(Count(m, "cmd=0x22"), 0u);
        EXPECT_EQ(Count(m, "cmd=0x23"), 0u);
        std::vector<std::string> reads = PipelineReads();
        if (row.compared) reads.push_back("addr=0x00020000 size=0x00010000");
        EXPECT_EQ(Reads(m), reads);
    }
}

TEST_P(Ecuf, AnEcImageThatFailsItsChecksOrAWordOutsideItsAreaStopsBeforeAnyErase) {
    const Words w = {0x0102, 0x0103, 0x0102, 0x0103};
    Bytes rom = EcufImage(w);
    Bytes wrongSum = EcufImage(w, romimg::Get16(rom, kEcHeader + 10) ^ 1);
    std::string lines = EcLines(wrongSum, kEcHeader);
    e2e::Machine m = MachineWith(EcufFlash(w), kRomInfoWord);
    e2e::RunResult a4 = Run(m, wrongSum, {"/ECUF"});
    EXPECT_EQ(a4.out, Head() + kChecksums + lines.substr(0, lines.rfind(" - EC File")) +
                          "a4 - Error: EC ROM file checksum error.\n");
    EXPECT_EQ(a4.status, 0xA4);
    // Also next to a region that would be written first.
    e2e::RunResult withMain = Run(m, wrongSum, {"/P", "/ECUF"});
    EXPECT_EQ(withMain.out, a4.out);
    EXPECT_EQ(withMain.status, 0xA4);

    Bytes noHeader = image;
    e2e::RunResult ac = Run(m, noHeader, {"/ECUF"});
    EXPECT_EQ(ac.out, Head() + kChecksums + "ac - Error: Invalid EC Header Table.\n");
    EXPECT_EQ(ac.status, 0xAC);

    // A version word past the end of its area.
    e2e::Machine far = MachineWith(EcufFlash(w), EcbWord("0x01", "0x200", "0x1fd"));
    e2e::RunResult a3 = Run(far, rom, {"/ECUF"});
    EXPECT_EQ(a3.out, Head() + kChecksums + EcLines(rom, kEcHeader) + "a3 - Error: Invalid EC ROM file.\n");
    EXPECT_EQ(a3.status, 0xA3);
    EXPECT_EQ(Reads(far), PipelineReads());

    // A firmware that flashes only signed images gets no unsigned one.
    e2e::Machine secure = MachineWith(EcufFlash(w), {"ec_version_offset=0x100", "ec_version_mask=0xffff", "secure_flash=1"});
    e2e::RunResult u = Run(secure, rom, {"/ECUF"});
    EXPECT_EQ(u.out, Head() + kChecksums + "1e - Error: Secure Flash function is not supported on this file.\n");
    EXPECT_EQ(u.status, 0x1E);

    for (const e2e::Machine* machine : {&m, &far, &secure}) {
        EXPECT_EQ(Count(*machine, "cmd=0x22"), 0u);
        EXPECT_EQ(Flash(*machine), EcufFlash(w));
    }
}

// A signed image goes as "/E" sends it: uploaded, then the EC block written
// inside a runtime session of the EC area.
TEST_P(Ecuf, UnderSecureFlashTheNewerEcGoesThroughTheRuntimeSession) {
    const Words w = {0x0102, 0x0103, 0, 0};
    Bytes rom = EcufImage(w);
    Bytes capsule = romimg::SignedCapsule(rom, 0x40);
    e2e::Machine m = MachineWith(EcufFlash(w), {"ec_version_offset=0x100", "ec_version_mask=0xffff", "secure_flash=1"});
    e2e::RunResult r = Run(m, capsule, {"/ECUF"});
    EXPECT_EQ(r.out, Head() + " Secure Flash enabled, recalculate ROM size with signature... Enable.\n" + kChecksums +
                         EcLines(rom, kEcHeader) + e2e::Upload(static_cast<uint32_t>(capsule.size())) +
                         e2e::Passes("EC", {kEc}));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Flash(m), rom);
    EXPECT_EQ(Count(m, "sub=0x08 op=0x04 areas=0x00000008"), 1u);
}

// ---- "/EC" ----

// An EC request of the trace as its sub-function, length and chip id
// ("unanswered" in place of the length for one left without answer); empty
// for another line.
std::string EcFields(const std::string& line) {
    size_t at = line.find(" zokt=0x54 ");
    if (at == std::string::npos) return "";
    size_t sub = line.find("sub=", at);
    if (sub == std::string::npos) return "unanswered";
    std::string fields = line.substr(sub, std::string("sub=0x01").size());
    size_t len = line.find(" len=", sub);
    fields += len == std::string::npos ? " unanswered" : line.substr(len, std::string(" len=0x00000000").size());
    size_t chip = line.find(" chip=");
    if (chip != std::string::npos) fields += line.substr(chip, std::string(" chip=0x0000").size());
    return fields;
}

std::vector<std::string> EcRequests(const e2e::Machine& m) {
    std::vector<std::string> out;
    for (const std::string& line : e2e::TraceOfKind(m, "smi"))
        if (!EcFields(line).empty()) out.push_back(EcFields(line));
    return out;
}

// The flash interface requests and the EC requests of a run, from the first
// close on: "close", "open", or the EC request's fields.
std::vector<std::string> EcBracket(const e2e::Machine& m) {
    std::vector<std::string> out;
    for (const std::string& line : e2e::TraceOfKind(m, "smi")) {
        if (line.find("cmd=0x24 ") != std::string::npos) out.push_back("close");
        if (out.empty()) continue;
        if (line.find("cmd=0x20 ") != std::string::npos) out.push_back("open");
        if (!EcFields(line).empty()) out.push_back(EcFields(line));
    }
    return out;
}

size_t CountOf(const std::vector<std::string>& lines, const std::string& line) {
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}

class EcImageFlash : public EcFlash {
protected:
    // Not the machine's EC ROM file "ec.bin": that one shows what the controller took.
    static constexpr const char* kImageName = "ecimg.bin";
    Bytes ec = EcFile(-1);
    static Bytes EcFile(int checksum) {
        romimg::EcSpec spec;
        spec.size = 0x2801;
        spec.chip = 0x1234;
        spec.checksumOverride = checksum;
        return romimg::EcImage(spec);
    }
    static std::string Progress(uint32_t done) {
        char line[80];
        snprintf(line, sizeof(line), " Updating EC Block ...... 0x%08X (%u%%) \r", done,
                 static_cast<unsigned>(done * 100ull / 0x2801));
        return line;
    }
};

TEST_P(EcImageFlash, TheControllerGetsTheImageInPagesWithTheFlashInterfaceClosed) {
    e2e::Machine m = Machine();
    e2e::RunResult r = Run(m, ec, {"/EC"}, kImageName);
    EXPECT_EQ(r.out, Head() + EcLines(ec, 0x100) + Progress(0x1000) + Progress(0x2000) +
                         " Updating EC Block ...... done                \n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(EcBracket(m), (std::vector<std::string>{"close", "sub=0x01 len=0x00000000 chip=0x1234",
                                                      "sub=0x02 len=0x00001000", "sub=0x02 len=0x00001000",
                                                      "sub=0x02 len=0x00000801", "sub=0x04 len=0x00000000", "open",
                                                      "close"}));
    EXPECT_EQ(e2e::ReadFile(m.File("ec.bin")).substr(0, ec.size()), Str(ec));
    EXPECT_EQ(Flash(m), system);

    // A page the controller took but whose answer was lost: the retry notice
    // and a new start from the first page, so that no page lands one further on.
    e2e::Machine lost = Machine({"zokt_faults=0x54/2#2:lost"});
    e2e::RunResult l = Run(lost, ec, {"/EC"}, kImageName);
    EXPECT_EQ(l.out, Head() + EcLines(ec, 0x100) + Progress(0x1000) + Progress(0x1000) + Progress(0x1000) +
                         Progress(0x2000) + " Updating EC Block ...... done                \n");
    EXPECT_EQ(l.status, 0) << l.err;
    EXPECT_EQ(e2e::ReadFile(lost.File("ec.bin")).substr(0, ec.size()), Str(ec));
    EXPECT_EQ(CountOf(EcBracket(lost), "sub=0x40 len=0x00000000"), 1u);

    // Another chip: refused at the start, the bracket stays.
    e2e::Machine chip = Machine({"ec_chip_id=0x5678"});
    e2e::RunResult c = Run(chip, ec, {"/EC"}, kImageName);
    EXPECT_EQ(c.out, Head() + EcLines(ec, 0x100) + "ab - Error: ROM Chip ID mismatch.\n");
    EXPECT_EQ(c.status, 0xAB);
    EXPECT_EQ(EcBracket(chip),
              (std::vector<std::string>{"close", "sub=0x01 len=0x00000000 chip=0x1234", "open", "close"}));

    // A START the controller took with its answer lost: END before any page
    // (again while it goes unanswered), so the controller leaves flash mode;
    // an END never answered after the last page is the exit error. An END
    // carried out with its answer lost: the resent END is refused, as the
    // controller is out of flash mode, and the run ends as written.
    const std::string start = "sub=0x01 len=0x00000000 chip=0x1234", end = "sub=0x04 len=0x00000000";
    const std::string written = Progress(0x1000) + Progress(0x2000) + " Updating EC Block ...... done                \n";
    struct Row {
        const char* fault;
        std::string tail;
        int status;
        size_t ends;
        const char* mode;  // state/ec_mode afterwards
    } rows[] = {
        {"zokt_faults=0x54/1#1:lost", "ad - Error: EC does not permit BIOS update.\n", 0xAD, 1, "0x0"},
        {"zokt_faults=0x54/4#1:none", written, 0, 2, "0x0"},
        {"zokt_faults=0x54/4#1:lost", written, 0, 2, "0x0"},
        {"zokt_faults=0x54/4:none",
         written + " - The EC may still be in flash mode: leaving it was not confirmed.\n"
                   "aa - Error: Exit EC programming mode fail.\n",
         0xAA, 3, "0x1"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.fault);
        e2e::Machine f = Machine({row.fault});
        e2e::RunResult fr = Run(f, ec, {"/EC"}, kImageName);
        EXPECT_EQ(fr.out, Head() + EcLines(ec, 0x100) + row.tail);
        EXPECT_EQ(fr.status, row.status);
        std::vector<std::string> requests = EcBracket(f);
        EXPECT_EQ(CountOf(requests, start), 1u);
        EXPECT_EQ(CountOf(requests, end) + CountOf(requests, "sub=0x04 unanswered"), row.ends);
        EXPECT_EQ(CountOf(requests, "sub=0x02 len=0x00001000"), row.status == 0xAD ? 0u : 2u);
        EXPECT_EQ(e2e::ReadFile(f.File("state/ec_mode")).substr(0, 3), row.mode);
        EXPECT_EQ(requests.back(), "close");
    }
}

TEST_P(EcImageFlash, APageRefusedEveryTimeEndsAfterFiveAttemptsInFlashMode) {
    e2e::Machine m = Machine({"ec_refuse=0x1000:1000"});
    e2e::RunResult r = Run(m, ec, {"/EC"}, kImageName);
    // Each attempt: the first page and the refused second one, 21 times,
    // each refusal but the last followed by the retry notice and a new start
    // from the first page; the attempt's own notice after the last.
    std::string attempts;
    for (int i = 0; i < 5 * 42; ++i) attempts += Progress(0x1000);
    EXPECT_EQ(r.out, Head() + EcLines(ec, 0x100) + attempts +
                         "\n - The EC stays in flash mode: its firmware update did not complete.\n"
                         "44 - Error: Problem writting flash.\n");
    EXPECT_EQ(r.status, 0x44);
    std::vector<std::string> requests = EcBracket(m);
    EXPECT_EQ(CountOf(requests, "sub=0x02 len=0x00001000"), 5u * 42);
    EXPECT_EQ(CountOf(requests, "sub=0x40 len=0x00000000"), 5u * 21);
    EXPECT_EQ(CountOf(requests, "sub=0x04 len=0x00000000"), 0u);
    EXPECT_EQ(requests.back(), "close");
    EXPECT_EQ(requests[requests.size() - 2], "open");
    EXPECT_EQ(e2e::ReadFile(m.File("state/ec_mode")).substr(0, 3), "0x1");
}

TEST_P(EcImageFlash, AWrongChecksumOrAStatusThatForbidsSendsNoEcRequest) {
    Bytes wrong = EcFile(0x1111);
    e2e::Machine m = Machine();
    e2e::RunResult r = Run(m, wrong, {"/EC"}, kImageName);
    std::string lines = EcLines(wrong, 0x100);
    EXPECT_EQ(r.out, Head() + lines.substr(0, lines.rfind(" - EC File")) + "a4 - Error: EC ROM file checksum error.\n");
    EXPECT_EQ(r.status, 0xA4);
    EXPECT_EQ(EcBracket(m), (std::vector<std::string>{"close", "open", "close"}));

    // A "$ECB" status that blocks: the battery step stops the run first; with
    // that step skipped the module refuses without reading the image.
    const std::vector<std::string> status = {"ecb=0x20", "ecb_msg20=Battery low."};
    e2e::RunResult b = Run(Machine(status), ec, {"/EC"}, kImageName);
    EXPECT_EQ(b.out, e2e::PlainBanner() + "Battery low.\nd - Error: BIOS Report Error.\n");
    EXPECT_EQ(b.status, 0x0D);
    e2e::Machine skipped = Machine(status);
    e2e::RunResult j = Run(skipped, ec, {"/EC", "/jbc"}, kImageName);
    EXPECT_EQ(j.out, Head() + "Battery low.\nad - Error: EC does not permit BIOS update.\n");
    EXPECT_EQ(j.status, 0xAD);
    EXPECT_EQ(EcBracket(skipped), (std::vector<std::string>{"close", "open", "close"}));
}

// ---- The EC-file option ----

const std::string kMfgTable = "mfg_table=13|/ECX:|Program EC from its own file";

class EcFile : public EcFlash {
protected:
    static std::string EcxPass(const char* label, uint32_t size) {
        std::string out;
        char line[96];
        uint32_t units = 0;
        for (uint32_t done = 0x1000; done <= size; done += 0x1000) {
            units += 4;  // 0x1000 bytes, in thousands
            snprintf(line, sizeof(line), " %s 0x%08X (%u%%) \r", label, done, units * 100 / (size / 1000));
            out += line;
        }
        return out + " " + label + " done                \n";
    }
    e2e::RunResult RunEcx(const e2e::Machine& m, const std::string& word) {
        return e2e::RunProgram(Width(), m, {word});
    }
};

TEST_P(EcFile, TheFileGoesThroughSizeEraseWriteAndVerify) {
    Bytes file = romimg::Pattern(0x10000, 0x64);
    e2e::Machine m = Machine({"mfg=1", kMfgTable, "ec_size_kb=64"});
    romimg::WriteBytes(m.File("ec64.bin"), file);
    e2e::RunResult r = RunEcx(m, "/ECX:ec64.bin");
    EXPECT_EQ(r.out, Head() + EcxPass("Erasing ECX Block ...........", 0x10000) +
                         EcxPass("Updating ECX Block ..........", 0x10000) +
                         EcxPass("Verifying ECX Block .........", 0x10000));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(e2e::ReadFile(m.File("ec.bin")), Str(file));
    std::vector<std::string> expected = {"sub=0x08 len=0x00000000", "sub=0x01 len=0x00000000 chip=0x0000"};
    for (const char* sub : {"sub=0x10", "sub=0x02", "sub=0x20"})
        for (int i = 0; i < 16; ++i) expected.push_back(std::string(sub) + " len=0x00001000");
    expected.push_back("sub=0x04 len=0x00000000");
    EXPECT_EQ(EcRequests(m), expected);
    EXPECT_EQ(Flash(m), system);

    // A write or verify refused for a while, or a verify page taken with its
    // answer lost: before every repeat the retry notice (and for a write the
    // erase) puts the controller back at the start, so the EC ROM ends as
    // the file. An END carried out with its answer lost: the resent END is
    // refused by a controller out of flash mode, and the run ends as written.
    struct Row {
        const char* fault;
        size_t notices;  // retry notices; 0: not counted
    } rows[] = {{"ec_refuse=0x1000:21", 0},
                {"zokt_faults=0x54/0x20#2-22:0x40", 0},
                {"zokt_faults=0x54/0x20#2:lost", 1},
                {"zokt_faults=0x54/4#1:lost", 0}};
    for (const Row& row : rows) {
        const char* fault = row.fault;
        e2e::Machine t = Machine({"mfg=1", kMfgTable, "ec_size_kb=64", "ec_page_size=0x1800", fault});
        romimg::WriteBytes(t.File("ec64.bin"), file);
        e2e::RunResult tr = RunEcx(t, "/ECX:ec64.bin");
        EXPECT_EQ(tr.status, 0) << fault << tr.out;
        EXPECT_EQ(e2e::ReadFile(t.File("ec.bin")), Str(file)) << fault;
        EXPECT_EQ(e2e::ReadFile(t.File("state/ec_mode")).substr(0, 3), "0x0") << fault;
        const std::string tail = EcxPass("Verifying ECX Block .........", 0x10000);
        ASSERT_GE(tr.out.size(), tail.size()) << fault;
        EXPECT_EQ(tr.out.substr(tr.out.size() - tail.size()), tail) << fault;
        if (row.notices != 0) {
            EXPECT_EQ(CountOf(EcRequests(t), "sub=0x40 len=0x00000000"), row.notices) << fault;
        }
    }

    // A START taken with its answer lost: END goes out before any erase.
    e2e::Machine lost = Machine({"mfg=1", kMfgTable, "ec_size_kb=64", "zokt_faults=0x54/1#1:lost"});
    romimg::WriteBytes(lost.File("ec64.bin"), file);
    e2e::RunResult l = RunEcx(lost, "/ECX:ec64.bin");
    EXPECT_EQ(l.out, Head() + "ad - Error: EC does not permit BIOS update.\n");
    EXPECT_EQ(l.status, 0xAD);
    EXPECT_EQ(EcRequests(lost), (std::vector<std::string>{"sub=0x08 len=0x00000000", "sub=0x01 len=0x00000000 chip=0x0000",
                                                          "sub=0x04 len=0x00000000"}));
    EXPECT_EQ(e2e::ReadFile(lost.File("state/ec_mode")).substr(0, 3), "0x0");

    // An absolute path is read as well.
    e2e::Machine abs = Machine({"mfg=1", kMfgTable, "ec_size_kb=64"});
    romimg::WriteBytes(abs.File("ec64.bin"), file);
    ASSERT_EQ(abs.File("ec64.bin")[0], '/');
    e2e::RunResult a = RunEcx(abs, "/ecx:" + abs.File("ec64.bin"));
    EXPECT_EQ(a.out, r.out);
    EXPECT_EQ(a.status, 0) << a.err;
    EXPECT_EQ(e2e::ReadFile(abs.File("ec.bin")), Str(file));
}

TEST_P(EcFile, SizesThatDoNotMatchAndAVerifyThatFails) {
    struct Row {
        const char* what;
        uint32_t size;
        const char* controllerKb;
        bool asked;  // the size request goes out
    } rows[] = {
        {"a controller of 128 KiB", 0x10000, "128", true},
        {"a byte past the last KiB", 0x10001, "64", false},
        {"less than one KiB", 0x3FF, "64", false},
        {"an empty file", 0, "64", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        e2e::Machine m = Machine({"mfg=1", kMfgTable, std::string("ec_size_kb=") + row.controllerKb});
        romimg::WriteBytes(m.File("ec.file"), romimg::Pattern(row.size, 1));
        e2e::RunResult r = RunEcx(m, "/ECX:ec.file");
        EXPECT_EQ(r.out, Head() + "a3 - Error: Invalid EC ROM file.\n");
        EXPECT_EQ(r.status, 0xA3);
        EXPECT_EQ(EcRequests(m), row.asked ? std::vector<std::string>{"sub=0x08 len=0x00000000"}
                                           : std::vector<std::string>{});
    }

    e2e::Machine v = Machine({"mfg=1", kMfgTable, "ec_size_kb=64", "ec_status_32=0x40"});
    romimg::WriteBytes(v.File("ec64.bin"), romimg::Pattern(0x10000, 2));
    e2e::RunResult r = RunEcx(v, "/ECX:ec64.bin");
    const std::string tail = " Verifying ECX Block ......... \n"
                             " - The EC stays in flash mode: its firmware update did not complete.\n"
                             "45 - Error: Problem verifying flash.\n";
    ASSERT_GE(r.out.size(), tail.size());
    EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
    EXPECT_EQ(r.status, 0x45);
    std::vector<std::string> requests = EcRequests(v);
    // Four attempts, each sent once more without progress; each refused 21 times.
    EXPECT_EQ(CountOf(requests, "sub=0x20 len=0x00001000"), 4u * 2 * 21);
    EXPECT_EQ(CountOf(requests, "sub=0x04 len=0x00000000"), 0u);
}

TEST_P(EcFile, TheOptionExistsOnlyInManufacturingModeAndTakesNoLongName) {
    e2e::Machine m = Machine({"ec_size_kb=64"});
    romimg::WriteBytes(m.File("ec64.bin"), romimg::Pattern(0x10000, 3));
    e2e::RunResult r = RunEcx(m, "/ECX:ec64.bin");
    EXPECT_EQ(r.out, e2e::UnknownWordListing(Width(), "/ECX:ec64.bin"));
    EXPECT_EQ(r.status, 1);

    e2e::Machine mfg = Machine({"mfg=1", kMfgTable});
    e2e::RunResult longName = RunEcx(mfg, "/ECX:" + std::string(256, 'n'));
    EXPECT_EQ(longName.out, e2e::UsageListing(Width()) + "1 - Error: Unknown command.\n");
    EXPECT_EQ(longName.status, 1);
    EXPECT_TRUE(EcRequests(mfg).empty());
}

// ---- Capsule and recovery mode ----

TEST_P(EcFile, InCapsuleOrRecoveryModeTheFourClaimTheirWordsAndDoNothing) {
    const std::string secure = " Secure Flash enabled, recalculate ROM size with signature... Enable.\n";
    Bytes cap = romimg::SignedCapsule(image, 0x400);
    struct Row {
        const char* mode;
        std::string tail;
        std::string session;
    } rows[] = {
        {"/CAPSULE",
         e2e::Upload(static_cast<uint32_t>(cap.size())) + " System is going to shut down, are you ready? (Y/N)...n\n",
         "sub=0x08 op=0x02 areas=0x00000008 name=\"\" "},
        {"/RECOVERY",
         " System is going to reboot, are you ready? (Y/N)...n\n"
         " - The recovery stays armed: the next restart recovers the BIOS from rom.cap.\n",
         "sub=0x08 op=0x01 areas=0x00000008 name=\"rom.cap\" "},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.mode);
        e2e::Machine m = Machine({"secure_flash=1", "mfg=1", kMfgTable, "ec_size_kb=64"});
        romimg::WriteBytes(m.File("rom.cap"), cap);
        romimg::WriteBytes(m.File("ec64.bin"), romimg::Pattern(0x10000, 4));
        e2e::RunResult r =
            e2e::RunProgram(Width(), m, {"rom.cap", "/E", "/ECUF", "/EC", "/ECX:ec64.bin", row.mode}, "n");
        EXPECT_EQ(r.out, Head() + secure + kChecksums + row.tail);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(Count(m, row.session), 1u);
        EXPECT_EQ(Count(m, "sub=0x08 "), 1u);
        EXPECT_TRUE(EcRequests(m).empty());
        EXPECT_EQ(Count(m, "cmd=0x22"), 0u);
        EXPECT_EQ(Count(m, "cmd=0x23"), 0u);
        EXPECT_EQ(Flash(m), system);
    }
}

// ---- Help and the command table ----

TEST_P(EcFlash, TrailerEnableTableRemovesSlashE) {
    std::string exe = e2e::TempDir("ecdis") + "/copy";
    std::string table = uaf::DisTable({uaf::DisEntry("e", 0, 1)}, 1);
    ASSERT_TRUE(uaf::WriteProgramCopy(e2e::ProgramPath(Width()), exe, uaf::Container({uaf::Record("@DIS", table)})));
    e2e::Machine m = Machine();
    romimg::WriteBytes(m.File("new.rom"), image);
    e2e::RunResult r = e2e::RunExecutable(Width(), exe, m, {"new.rom", "/E"});
    EXPECT_EQ(r.status, 1);
    const char help[] = "|         /E - Program Embedded Controller Block                            |\n";
    std::string expected = e2e::WithoutPagerPauses(e2e::UnknownWordListing(Width(), "/E"));
    ASSERT_NE(expected.find(help), std::string::npos);
    expected.erase(expected.find(help), strlen(help));
    EXPECT_EQ(e2e::WithoutPagerPauses(r.out), expected);
    EXPECT_EQ(Flash(m), system);

    // "/ECUF" and "/EC" keep their help lines.
    EXPECT_NE(r.out.find("|      /ECUF - Update EC BIOS when newer version is detected.               |\n"),
              std::string::npos);
    EXPECT_NE(r.out.find("|        /EC - Program Embedded Controller Block. (Flash Type)              |\n"),
              std::string::npos);
}

}  // namespace

YOZ_E2E_BOTH_WIDTHS(EcFlash);
YOZ_E2E_BOTH_WIDTHS(Ecuf);
YOZ_E2E_BOTH_WIDTHS(EcImageFlash);
YOZ_E2E_BOTH_WIDTHS(EcFile);
