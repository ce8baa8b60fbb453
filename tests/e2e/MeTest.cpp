// The ME modules end to end, both widths, on a single binary: flash
// descriptor and ME area in the first 128 KiB, the BIOS behind them. "/ME"
// on the ME-request and block routes, "/MEUF", the ME-region options and
// the save-ME command: exact output, exit status, flash.bin and the ME
// requests of the trace.
#include <unistd.h>
#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>
#include "E2eHarness.h"
#include "FlashLines.h"
#include "RomImageBuilder.h"
#include "UsageListing.h"

using namespace e2e;

namespace {

using romimg::Bytes;

const char kBlocks[] = "2x64K:0x7e,2x64K:nvram,10x64K:main,2x64K:boot";
const std::vector<std::string> kMeInfo = {"me_runtime_base=0x1000", "me_runtime_length=0x1F000",
                                          "me_bios_base=0x20000", "me_bios_length=0xE0000"};
const char kRegions[] = "me_regions=FDT:Flash descriptor:0x0:0x1000:0:0;OPR:Operational ME:0x1000:0x1F000:4:0;"
                        "BIOS:BIOS region:0x20000:0xE0000:5:0";
const std::string kDataOk = " - ME Data Size checking . ok\n";
const std::string kSumsOk = " - FFS checksums ......... ok\n";
const std::string kPowerOff = "WARNING : System must power-off to have the changes take effect!\n";
const std::string kA1 = "a1 - Error: BIOS does not support ME Entire Firmware update.\n";
const std::string kC1 = "c1 - Error: BIOS return error, when trying to re-flash ME Firmware data.\n";
const std::string kStartLost = " - The firmware did not answer the start of the ME update.\n";
const std::string kComplete =
    " - The BIOS update is complete; the signal stopped only what remained (the restart or power-off).\n";
const std::string kCancelled = "c - Error: BIOS update cancelled by user.\n";

std::string Str(const Bytes& b) { return std::string(b.begin(), b.end()); }

// The sample BIOS behind a descriptor and an ME area of pattern bytes.
romimg::Rom SingleBinary(uint32_t meSeed, bool descriptor = true, uint32_t bootSeed = 3) {
    romimg::SampleSpec spec;
    spec.mainFiles = {romimg::PlainFile(1, 0x300), romimg::FidFile(romimg::FidSpec{})};
    spec.bootFiles = {romimg::PlainFile(bootSeed, 0x80)};
    romimg::Rom rom = romimg::SampleRom(spec);
    if (descriptor) rom.PutDescriptor();
    rom.Fill(0x20, 0x20000 - 0x20, meSeed);
    return rom;
}

// Settings by key: later ones replace earlier ones.
std::vector<std::string> Settings(const std::vector<std::string>& base, const std::vector<std::string>& more) {
    std::map<std::string, std::string> byKey;
    std::vector<std::string> order;
    for (const auto* list : {&base, &more}) {
        for (const std::string& s : *list) {
            std::string key = s.substr(0, s.find('='));
            if (byKey.count(key) == 0) order.push_back(key);
            byKey[key] = s;
        }
    }
    std::vector<std::string> out;
    for (const std::string& key : order) out.push_back(byKey[key]);
    return out;
}

// The ME requests of the trace, from their sub-function on.
std::vector<std::string> MeRequests(const Machine& m) {
    std::vector<std::string> out;
    for (const std::string& l : TraceOfKind(m, "smi")) {
        if (l.find(" zokt=0x55 ") == std::string::npos) continue;
        out.push_back(l.substr(l.find(" sub=") + 1));
    }
    return out;
}

size_t CountOf(const std::vector<std::string>& lines, const std::string& prefix) {
    size_t n = 0;
    for (const std::string& l : lines) n += l.compare(0, prefix.size(), prefix) == 0;
    return n;
}

// Where in the SMI trace the first and the last line holding `text` stand
// (npos: nowhere).
size_t FirstSmi(const Machine& m, const std::string& text) {
    std::vector<std::string> smi = TraceOfKind(m, "smi");
    for (size_t i = 0; i < smi.size(); ++i)
        if (smi[i].find(text) != std::string::npos) return i;
    return std::string::npos;
}
size_t LastSmi(const Machine& m, const std::string& text) {
    std::vector<std::string> smi = TraceOfKind(m, "smi");
    for (size_t i = smi.size(); i-- > 0;)
        if (smi[i].find(text) != std::string::npos) return i;
    return std::string::npos;
}

size_t BlockRequests(const Machine& m, const char* cmd) {
    size_t n = 0;
    for (const std::string& l : TraceOfKind(m, "smi")) n += l.find(std::string("smi cmd=") + cmd) == 0;
    return n;
}

// Requests of (address, size) covering [from, to) in steps of `step`.
std::vector<std::pair<uint32_t, uint32_t>> Steps(uint32_t from, uint32_t to, uint32_t step) {
    std::vector<std::pair<uint32_t, uint32_t>> out;
    for (uint32_t a = from; a < to; a += step) out.push_back({a, to - a < step ? to - a : step});
    return out;
}

// A pass whose line was never closed: without its "done" tail, ended before
// the error line that follows it.
std::string Unfinished(const std::string& pass) {
    return pass.substr(0, pass.rfind('\r') + 1) + "\n";
}

class Me : public E2eWidth {
protected:
    romimg::Rom system = SingleBinary(0x41), image = SingleBinary(0x42);

    Machine Make(const std::vector<std::string>& sets = {}) {
        Machine m = MakeMachine(Str(system.bytes), kBlocks, Settings(kMeInfo, sets));
        romimg::WriteBytes(m.File("new.rom"), image.bytes);
        return m;
    }
    RunResult Run(const Machine& m, const std::vector<std::string>& args, const std::string& input = "") {
        return RunProgram(Width(), m, args, input);
    }
    std::string Flash(const Machine& m) { return ReadFile(m.File("flash.bin")); }
    // flash.bin holds the image's bytes in [from, to) and the system's elsewhere.
    void ExpectFlashWith(const Machine& m, uint32_t from, uint32_t to) { ExpectFlashWith(m, image, {{from, to}}); }
    // ... `newer`'s bytes in each range of `written`, 0xFF in each of `erased`.
    void ExpectFlashWith(const Machine& m, const romimg::Rom& newer, const std::vector<std::pair<uint32_t, uint32_t>>& written,
                         const std::vector<std::pair<uint32_t, uint32_t>>& erased = {}) {
        std::string want = Str(system.bytes);
        for (const auto& w : written) want.replace(w.first, w.second - w.first, Str(newer.bytes).substr(w.first, w.second - w.first));
        for (const auto& e : erased) want.replace(e.first, e.second - e.first, std::string(e.second - e.first, '\xFF'));
        std::string flash = Flash(m);
        size_t at = 0;
        while (at < want.size() && at < flash.size() && flash[at] == want[at]) ++at;
        EXPECT_TRUE(flash == want) << "flash.bin differs first at 0x" << std::hex << at;
    }
    static std::string Head() { return PlainBanner() + FlashRead(); }
    // Erase, update and verify lines of the ME-request route over [from, to).
    static std::string MeRoutePasses(const std::vector<std::pair<uint32_t, uint32_t>>& erases, uint32_t from,
                                     uint32_t to, uint32_t total) {
        return MePass("Erasing", erases, total) + MePass("Updating", Steps(from, to, 0x1000), total) +
               MePass("Verifying", Steps(from, to, 0x1000), total);
    }
};

TEST_P(Me, EntireMeThroughTheMeRequestsKeepsTheDescriptor) {
    Machine m = Make();
    RunResult r = Run(m, {"new.rom", "/ME"});
    EXPECT_EQ(r.out, Head() + kDataOk + kSumsOk +
                         MeRoutePasses({{0x1000, 0xF000}, {0x10000, 0x10000}}, 0x1000, 0x20000, 0x20000) + kPowerOff);
    EXPECT_EQ(r.status, 0);
    ExpectFlashWith(m, 0x1000, 0x20000);

    std::vector<std::string> me = MeRequests(m);
    std::vector<std::string> update(me.begin() + CountOf(me, "sub=0x0b") + CountOf(me, "sub=0x09") +
                                        CountOf(me, "sub=0x00") + CountOf(me, "sub=0x03"),
                                    me.end());
    ASSERT_EQ(update.size(), 1u + 2 + 31 + 31 + 1);
    EXPECT_EQ(update[0], "sub=0x04 size=0x001e done=1 rs=0x0001");
    EXPECT_EQ(update[1], "sub=0x06 size=0x001e addr=0x00001000 size=0x0000f000 done=1 rs=0x0001");
    EXPECT_EQ(update[2], "sub=0x06 size=0x001e addr=0x00010000 size=0x00010000 done=1 rs=0x0001");
    for (uint32_t i = 0; i < 31; ++i) {
        char line[96];
        snprintf(line, sizeof(line), "sub=0x07 size=0x001e addr=0x%08x size=0x00001000 done=1 rs=0x0001",
                 0x1000 + i * 0x1000);
        EXPECT_EQ(update[3 + i], line);
        snprintf(line, sizeof(line), "sub=0x08 size=0x001e addr=0x%08x size=0x00001000 done=1 rs=0x0001",
                 0x1000 + i * 0x1000);
        EXPECT_EQ(update[34 + i], line) << "read back";
    }
    EXPECT_EQ(update.back(), "sub=0x05 size=0x001e done=1 rs=0x0001");
    EXPECT_EQ(BlockRequests(m, "0x22") + BlockRequests(m, "0x23"), 0u);
}

TEST_P(Me, EntireMeThroughBlockRequestsWritesTheDescriptorBack) {
    // The descriptor goes back as the flash holds it: a read of it that
    // gives other bytes each time stops the run before the update starts.
    const std::string lies = "flash_faults=read@" + std::to_string(romimg::kDescriptorAt) + "#1:corrupt";
    for (bool readLies : {false, true}) {
        Machine m = Make(readLies ? std::vector<std::string>{"zokt_version=0x020f", lies}
                                  : std::vector<std::string>{"zokt_version=0x020f"});
        RunResult r = Run(m, {"new.rom", "/ME"});
        std::vector<std::string> me = MeRequests(m);
        if (readLies) {
            EXPECT_EQ(r.out, Head() + kDataOk + kSumsOk + "42 - Error: Problem reading flash.\n");
            EXPECT_EQ(r.status, 0x42);
            EXPECT_EQ(Flash(m), Str(system.bytes));
            EXPECT_EQ(CountOf(me, "sub=0x04") + BlockRequests(m, "0x22") + BlockRequests(m, "0x23"), 0u);
            continue;
        }
        std::vector<std::pair<uint32_t, uint32_t>> blocks = {{0, 0x10000}, {0x10000, 0x10000}};
        EXPECT_EQ(r.out, Head() + kDataOk + kSumsOk + MePass("Erasing", blocks, 0x20000) +
                             MePass("Updating", blocks, 0x20000) + MePass("Verifying", blocks, 0x20000) + kPowerOff);
        EXPECT_EQ(r.status, 0);
        ExpectFlashWith(m, 0x1000, 0x20000);
        EXPECT_EQ(CountOf(me, "sub=0x06") + CountOf(me, "sub=0x07"), 0u);
        EXPECT_EQ(CountOf(me, "sub=0x04"), 1u);
        EXPECT_EQ(CountOf(me, "sub=0x05"), 1u);
        EXPECT_EQ(BlockRequests(m, "0x22"), 2u);
        EXPECT_EQ(BlockRequests(m, "0x23"), 2u);
    }
}

// Areas that end before 64 KiB or start behind it are programmed exactly;
// an area that ends where it starts is refused before the update starts.
TEST_P(Me, TheAreaIsProgrammedExactly) {
    Machine shortArea = Make({"me_bios_base=0x8000", "me_bios_length=0xF8000"});
    RunResult r = Run(shortArea, {"new.rom", "/ME"});
    EXPECT_EQ(r.out, Head() + kDataOk + kSumsOk + MeRoutePasses({{0x1000, 0x7000}}, 0x1000, 0x8000, 0x8000) + kPowerOff);
    EXPECT_EQ(r.status, 0);
    ExpectFlashWith(shortArea, 0x1000, 0x8000);

    Machine late = Make({"me_runtime_base=0x11000"});
    r = Run(late, {"new.rom", "/ME"});
    EXPECT_EQ(r.out, Head() + kDataOk + kSumsOk + MeRoutePasses({{0x11000, 0xF000}}, 0x11000, 0x20000, 0x20000) +
                         kPowerOff);
    EXPECT_EQ(r.status, 0);
    ExpectFlashWith(late, 0x11000, 0x20000);

    Machine empty = Make({"me_runtime_base=0x20000"});
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"new.rom", "/ME"}, std::vector<std::string>{"new.rom", "/P", "/ME"}}) {
        r = Run(empty, args);
        EXPECT_EQ(r.out, Head() + kDataOk + kSumsOk +
                             "a0 - Error: Can not analyze the ME Data. ROM file may be corrupted.\n");
        EXPECT_EQ(r.status, 0xA0);
        EXPECT_EQ(Flash(empty), Str(system.bytes));
        EXPECT_EQ(BlockRequests(empty, "0x22"), 0u) << args.size() << ": nor is the main block erased before";
        EXPECT_EQ(CountOf(MeRequests(empty), "sub=0x04"), 0u) << "refused before the update starts";
    }
}

TEST_P(Me, EntireMeFailures) {
    // Without a descriptor the image is no single binary.
    Machine m = Make();
    romimg::WriteBytes(m.File("plain.rom"), SingleBinary(0x42, false).bytes);
    RunResult r = Run(m, {"plain.rom", "/ME"});
    EXPECT_EQ(r.out, Head() + kSumsOk + " - ME Data Size checking . bad\n" +
                         "3 - Error: ROM file size does not match existing BIOS size.\n");
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(Flash(m), Str(system.bytes));

    // A firmware without the entire-ME update: its error, not the size error.
    Machine noMe = Make({"me_full=0"});
    r = Run(noMe, {"new.rom", "/ME"});
    EXPECT_EQ(r.out, Head() + kSumsOk + kA1);
    EXPECT_EQ(r.status, 0xA1);
    EXPECT_EQ(Flash(noMe), Str(system.bytes));

    // A protected second piece: five attempts, each followed by a silent
    // repeat, and no write at all.
    Machine locked = Make({"me_protect=0x10000:0x10000"});
    r = Run(locked, {"new.rom", "/ME"});
    std::vector<std::pair<uint32_t, uint32_t>> erases = {{0x1000, 0xF000}};
    for (int i = 0; i < 5; ++i) erases.push_back({0x10000, 0x10000});
    EXPECT_EQ(r.out, Head() + kDataOk + kSumsOk + Unfinished(MePass("Erasing", erases, 0x20000)) +
                         "43 - Error: Problem erasing flash.\n");
    EXPECT_EQ(r.status, 0x43);
    std::vector<std::string> me = MeRequests(locked);
    EXPECT_EQ(CountOf(me, "sub=0x06 size=0x001e addr=0x00010000 size=0x00010000 done=0"), 10u);
    EXPECT_EQ(CountOf(me, "sub=0x07"), 0u);
    EXPECT_EQ(me.back(), "sub=0x05 size=0x001e done=1 rs=0x0001") << "the update is ended after the refusal";
    EXPECT_EQ(ReadFile(locked.File("state/me_update")), "");

    // A firmware that flashes only signed images takes no plain block
    // writes: on the block route "/ME" and "/MEUF" stop before any erase.
    for (const char* option : {"/ME", "/MEUF"}) {
        Machine secure = Make({"zokt_version=0x020f", "secure_flash=1", "me_ignition=1"});
        r = Run(secure, {"new.rom", option});
        EXPECT_EQ(r.out, Head() + kDataOk + kSumsOk + "1e - Error: Secure Flash function is not supported on this file.\n")
            << option;
        EXPECT_EQ(r.status, 0x1E) << option;
        EXPECT_EQ(BlockRequests(secure, "0x22") + BlockRequests(secure, "0x23"), 0u) << option;
        EXPECT_EQ(Flash(secure), Str(system.bytes)) << option;
    }

    // Failures after the update has started: each ends the update and the
    // run with its error. A write the flash did not take as given is found
    // by the read back; a refused end is the run's error.
    const std::string kVerifyError = "45 - Error: Problem verifying flash.\n";
    struct Row {
        const char* what;
        std::vector<std::string> sets;
        std::vector<std::string> options;
        std::string tail;  // the end of the output
        int status;
        std::string end;  // the last ME request
    } rows[] = {
        {"a corrupted write, ME requests", {"zokt_faults=0x55/7#17:corrupt"}, {"/ME"}, kVerifyError, 0x45,
         "sub=0x05 size=0x001e done=1 rs=0x0001"},
        {"a corrupted write, block requests", {"zokt_version=0x020f", "flash_faults=write@0x10100:corrupt"}, {"/ME"},
         kVerifyError, 0x45, "sub=0x05 size=0x0012 done=1 rs=0x0001"},
        {"a corrupted ignition write", {"me_ignition=1", "zokt_faults=0x55/7#3:corrupt"}, {"/MEUF"}, kVerifyError, 0x45,
         "sub=0x02 size=0x001e done=1 rs=0x0001"},
        {"entire update: end refused", {"me_fail_sub=5"}, {"/ME"},
         " - The ME area was written, but the firmware refused the end of the ME update.\n" + kA1, 0xA1,
         "sub=0x05 size=0x001e done=0 rs=0x0001"},
        {"entire update: start answer lost, ended at clean-up", {"zokt_faults=0x55/4:lost"}, {"/ME"}, kStartLost + kA1,
         0xA1, "sub=0x05 size=0x001e done=1 rs=0x0001"},
        {"ignition update: start answer lost, ended at clean-up", {"me_ignition=1", "zokt_faults=0x55/1:lost"},
         {"/MEUF"}, kStartLost + "a2 - Error: BIOS does not support ME Ignition Firmware update.\n", 0xA2,
         "sub=0x02 size=0x001e done=1 rs=0x0001"},
        {"region word: start answer lost, ended at clean-up", {kRegions, "zokt_faults=0x55/4:lost"}, {"/FDT"},
         kStartLost + kA1, 0xA1, "sub=0x05 size=0x001e done=1 rs=0x0001"},
        {"region table: answers whose done byte is not 1", {kRegions, "zokt_faults=0x55/0x0a#1+:2"}, {"/ME"}, kC1,
         0xC1, "sub=0x05 size=0x001e done=1 rs=0x0001"},
        {"region table: an update the flash does not hold is found by the read back",
         {kRegions, "zokt_faults=0x55/0x0a#34:status=0"}, {"/ME"}, kVerifyError, 0x45,
         "sub=0x05 size=0x001e done=1 rs=0x0001"},
        {"ignition update: end refused", {"me_ignition=1", "me_fail_sub=2"}, {"/MEUF"},
         "a2 - Error: BIOS does not support ME Ignition Firmware update.\n", 0xA2,
         "sub=0x02 size=0x001e done=0 rs=0x0001"},
    };
    for (const Row& row : rows) {
        Machine failing = Make(row.sets);
        std::vector<std::string> args = {"new.rom"};
        args.insert(args.end(), row.options.begin(), row.options.end());
        // A firmware that refuses every end keeps its update open.
        e2e::ExpectLeft refusedEnd(row.end.find(" done=1 ") == std::string::npos ? e2e::kMeUpdateOpen : 0);
        r = Run(failing, args);
        ASSERT_GE(r.out.size(), row.tail.size()) << row.what << r.out;
        EXPECT_EQ(r.out.substr(r.out.size() - row.tail.size()), row.tail) << row.what;
        EXPECT_EQ(r.out.find("WARNING"), std::string::npos) << row.what << ": no power-off warning";
        EXPECT_EQ(r.status, row.status) << row.what;
        me = MeRequests(failing);
        ASSERT_FALSE(me.empty()) << row.what;
        EXPECT_EQ(me.back(), row.end) << row.what;
        // Unless the firmware refuses every end, no update is left open.
        if (row.end.find(" done=1 ") != std::string::npos) {
            EXPECT_EQ(ReadFile(failing.File("state/me_update")), "") << row.what << ": no update left open";
        }
    }
}

// Under secure flash the signed single binary is the file meant for the
// platform: the ME is updated from the part behind its capsule header.
TEST_P(Me, SignedImageUpdatesTheMeFromBehindItsHeader) {
    const std::string signedLine = " Secure Flash enabled, recalculate ROM size with signature... Enable.\n";
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"rom.cap", "/ME"}, std::vector<std::string>{"rom.cap", "/P", "/ME"}}) {
        Machine m = Make({"secure_flash=1"});
        romimg::WriteBytes(m.File("rom.cap"), romimg::SignedCapsule(image.bytes, 0x400));
        RunResult r = Run(m, args);
        EXPECT_EQ(r.status, 0) << args.size() << r.out;
        EXPECT_EQ(r.out.substr(0, (Head() + kDataOk + signedLine + kSumsOk).size()), Head() + kDataOk + signedLine + kSumsOk);
        const std::string me = MeRoutePasses({{0x1000, 0xF000}, {0x10000, 0x10000}}, 0x1000, 0x20000, 0x20000) + kPowerOff;
        ASSERT_GE(r.out.size(), me.size());
        EXPECT_EQ(r.out.substr(r.out.size() - me.size()), me) << args.size();
        ExpectFlashWith(m, 0x1000, 0x20000);
    }
}

// Beside other regions the ME update is checked in the pre-flash walk,
// before the first erase of any region, and started last there: a refused
// start or a locked region leaves the flash as it was.
TEST_P(Me, TheMeIsAskedBeforeTheFirstEraseOfAnyRegion) {
    const std::vector<std::string> all = {"new.rom", "/B", "/P", "/N", "/ME"};
    struct Row {
        const char* what;
        std::vector<std::string> sets;
        std::vector<std::string> args;
        std::string tail;
        int status;
    } rows[] = {
        {"start refused", {"me_fail_sub=4"}, all, kA1, 0xA1},
        {"region table: start refused", {kRegions, "me_fail_sub=4"}, all, kA1, 0xA1},
        {"region table: a locked region",
         {"me_regions=FDT:Flash descriptor:0x0:0x1000:0:1;BIOS:BIOS region:0x20000:0xE0000:5:0"},
         {"new.rom", "/B", "/FDT"}, "c2 - Error: Region is write-protected\n", 0xC2},
        {"ignition start refused", {"me_ignition=1", "me_fail_sub=1"}, {"new.rom", "/B", "/MEUF"},
         "a2 - Error: BIOS does not support ME Ignition Firmware update.\n", 0xA2},
    };
    for (const Row& row : rows) {
        Machine m = Make(row.sets);
        RunResult r = Run(m, row.args);
        EXPECT_EQ(r.out, Head() + kDataOk + kSumsOk + row.tail) << row.what;
        EXPECT_EQ(r.status, row.status) << row.what;
        EXPECT_EQ(BlockRequests(m, "0x22") + BlockRequests(m, "0x23"), 0u) << row.what << ": nothing erased";
        EXPECT_EQ(CountOf(MeRequests(m), "sub=0x06"), 0u) << row.what;
        EXPECT_EQ(Flash(m), Str(system.bytes)) << row.what;
        EXPECT_EQ(ReadFile(m.File("state/me_update")), "") << row.what;
    }

    // Checked, the regions are written, then the ME inside the update the
    // walk started: one start, one end.
    Machine m = Make();
    RunResult r = Run(m, all);
    EXPECT_EQ(r.status, 0) << r.out;
    ExpectFlashWith(m, 0x1000, 0x20000);
    EXPECT_EQ(CountOf(MeRequests(m), "sub=0x04 size=0x001e done=1"), 1u);
    EXPECT_EQ(CountOf(MeRequests(m), "sub=0x05 size=0x001e done=1"), 1u);
}

// Firmware as strict as it comes: one ME start a boot, a write taken only
// when its page reads back as given, pages stored as given, under secure
// flash ME erase and write only inside a session. Beside other regions the
// ME start goes out once, after every check (and the session) and before
// the first erase; the ME area sees no erase or write before the ME stage,
// whose pages go out once each; whatever happens after the start, the
// update is ended.
TEST_P(Me, StrictFirmwareTakesTheMeBesideOtherRegions) {
    const romimg::Rom newer = SingleBinary(0x42, true, 4);  // its boot block differs too
    const std::vector<std::string> strict = {"me_one_start=1", "me_write_verify=1"};
    const std::vector<std::string> secure = Settings(strict, {"secure_flash=1", "me_in_session=1"});
    const std::vector<std::string> all = {"/B", "/P", "/N", "/ME"};
    typedef std::vector<std::pair<uint32_t, uint32_t>> Ranges;
    struct Row {
        const char* what;
        std::vector<std::string> sets;
        std::vector<std::string> options;
        std::string tail;
        int status;
        Ranges written, erased;
        int pages;           // ME writes sent; -1 not counted, -2 no start either
        std::string update;  // state/me_update afterwards
    } rows[] = {
        {"/B /P /N /ME", strict, all, kPowerOff, 0, {{0x1000, 0x100000}}, {}, 31, ""},
        {"one start a boot alone", {"me_one_start=1"}, all, kPowerOff, 0, {{0x1000, 0x100000}}, {}, 31, ""},
        {"/P /ME /caf: no other block to write", strict, {"/P", "/ME", "/caf"}, kPowerOff, 0, {{0x1000, 0x20000}}, {}, 31, ""},
        {"/B /MEUF", Settings(strict, {"me_ignition=1"}), {"/B", "/MEUF"}, kPowerOff, 0,
         {{0x1000, 0x20000}, {0xE0000, 0x100000}}, {}, 31, ""},
        {"/B /FDT", Settings(strict, {kRegions}), {"/B", "/FDT"}, kPowerOff, 0, {{0, 0x1000}, {0xE0000, 0x100000}}, {}, 0, ""},
        {"region table carries /ME", Settings(strict, {kRegions}), all, kPowerOff, 0, {{0x1000, 0x100000}}, {}, 0, ""},
        {"secure flash: signed /P /ME", secure, {"/P", "/ME"}, kPowerOff, 0, {{0x1000, 0x20000}}, {}, 31, ""},
        {"secure flash: the session refused", Settings(secure, {"sf_session_status=1"}), {"/P", "/ME"},
         "18 - Error: Secure Flash Rom Verify fail.\n", 0x18, {}, {}, -2, ""},
        {"unanswered ME pages are tried again", Settings(strict, {"zokt_faults=0x55/7#20-25:none"}), all, kPowerOff, 0,
         {{0x1000, 0x100000}}, {}, -1, ""},
        {"a protected page on firmware that stores pages as given",
         Settings(strict, {"flash_nor=0", "me_protect=0x1F000:0x1000"}), all, "43 - Error: Problem erasing flash.\n",
         0x43, {{0x20000, 0x100000}}, {{0x1000, 0x10000}}, 0, ""},
        {"the end unanswered", Settings(strict, {"zokt_faults=0x55/5#1-4:none"}), all,
         " - The ME area was written, but the firmware did not answer the end of the ME update.\n" + kA1, 0xA1,
         {{0x1000, 0x100000}}, {}, 31, "full"},
        {"a boot block erase refused after the start", Settings(strict, {"flash_faults=erase@0xE0000:1"}), all,
         "43 - Error: Problem erasing flash.\n", 0x43, {}, {}, 0, ""},
        {"a signal at the second erase", Settings(strict, {"signal_smi=0x22#2:TERM"}), all,
         kPowerOff + kComplete + kCancelled, 0x0C, {{0x1000, 0x100000}}, {}, 31, ""},
        {"a signal after the warning: no power-off", Settings(strict, {"signal_smi=0x24:TERM"}),
         {"/B", "/P", "/N", "/ME", "/SHUTDOWN"}, kPowerOff + kComplete + kCancelled, 0x0C, {{0x1000, 0x100000}}, {},
         31, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Machine m = Make(row.sets);
        const bool signedImage = std::find(row.sets.begin(), row.sets.end(), "secure_flash=1") != row.sets.end();
        const std::string file = signedImage ? "rom.cap" : "new.rom";
        romimg::WriteBytes(m.File(file), signedImage ? romimg::SignedCapsule(newer.bytes, 0x400) : newer.bytes);
        std::vector<std::string> args = {file};
        args.insert(args.end(), row.options.begin(), row.options.end());
        e2e::ExpectLeft unanswered(row.update.empty() ? 0 : e2e::kMeUpdateOpen);
        RunResult r = Run(m, args);
        ASSERT_GE(r.out.size(), row.tail.size()) << r.out;
        EXPECT_EQ(r.out.substr(r.out.size() - row.tail.size()), row.tail);
        EXPECT_EQ(r.out.find("nothing was erased"), std::string::npos);
        EXPECT_EQ(r.status, row.status);
        ExpectFlashWith(m, newer, row.written, row.erased);
        EXPECT_EQ(ReadFile(m.File("state/me_update")), row.update);
        EXPECT_TRUE(e2e::TraceOfKind(m, "shell").empty()) << "no power action after a signal";
        std::vector<std::string> me = MeRequests(m);
        if (row.pages == -2) {
            EXPECT_EQ(CountOf(me, "sub=0x04") + CountOf(me, "sub=0x06") + CountOf(me, "sub=0x07"), 0u) << "the ME unasked";
            continue;
        }
        EXPECT_EQ(CountOf(me, "sub=0x04") + CountOf(me, "sub=0x01"), 1u) << "one start";
        if (row.pages >= 0) EXPECT_EQ(CountOf(me, "sub=0x07"), static_cast<size_t>(row.pages));
        // The start after the session, before the first erase of any region;
        // the ME area's erase and write after the last block request of the
        // other regions.
        size_t start = std::min(FirstSmi(m, "zokt=0x55 ver=0x0210 sub=0x04"), FirstSmi(m, "zokt=0x55 ver=0x0210 sub=0x01"));
        EXPECT_LT(start, FirstSmi(m, "cmd=0x22"));
        size_t session = FirstSmi(m, "zokt=0x70 ver=0x0210 sub=0x08");
        if (signedImage) EXPECT_GT(start, session);
        size_t lastBlock = LastSmi(m, "cmd=0x23");
        if (lastBlock != std::string::npos) {
            EXPECT_GT(FirstSmi(m, " sub=0x06 "), lastBlock);
            EXPECT_GT(FirstSmi(m, " sub=0x07 "), lastBlock);
        }
    }
}

// A transient refusal: four refused attempts (with their silent repeats)
// still leave the fifth; one more refusal ends the update.
TEST_P(Me, FiveAttemptsPerPiece) {
    Machine transient = Make({"me_refuse=0x10000:8"});
    RunResult r = Run(transient, {"new.rom", "/ME"});
    EXPECT_EQ(r.status, 0) << r.out;
    ExpectFlashWith(transient, 0x1000, 0x20000);

    Machine lasting = Make({"me_refuse=0x11000:10"});
    r = Run(lasting, {"new.rom", "/ME"});
    EXPECT_EQ(r.status, 0x44);
    EXPECT_NE(r.out.find("44 - Error: Problem writting flash.\n"), std::string::npos) << r.out;
    EXPECT_EQ(CountOf(MeRequests(lasting), "sub=0x07 size=0x001e addr=0x00011000 size=0x00001000 done=0"), 10u);
    EXPECT_EQ(CountOf(MeRequests(lasting), "sub=0x05 size=0x001e done=1"), 1u) << "the update is ended";
}

TEST_P(Me, IgnitionAreaTakesTheImageBytesOfItsAddresses) {
    Machine m = Make({"me_ignition=1"});
    RunResult r = Run(m, {"new.rom", "/MEUF"});
    EXPECT_EQ(r.out, Head() + kDataOk + kSumsOk +
                         MeRoutePasses({{0x1000, 0x10000}, {0x11000, 0xF000}}, 0x1000, 0x20000, 0x1F000) + kPowerOff);
    EXPECT_EQ(r.status, 0);
    ExpectFlashWith(m, 0x1000, 0x20000);
    std::vector<std::string> me = MeRequests(m);
    EXPECT_EQ(CountOf(me, "sub=0x01 size=0x001e done=1"), 1u);
    EXPECT_EQ(CountOf(me, "sub=0x02 size=0x001e done=1"), 1u);
    EXPECT_EQ(CountOf(me, "sub=0x04") + CountOf(me, "sub=0x05"), 0u);

    // Without ignition support nothing is written, "/B" next to it included.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"new.rom", "/MEUF"}, std::vector<std::string>{"new.rom", "/B", "/MEUF"}}) {
        Machine noIgnition = Make();
        r = Run(noIgnition, args);
        EXPECT_EQ(r.out, Head() + kDataOk + kSumsOk + "a2 - Error: BIOS does not support ME Ignition Firmware update.\n");
        EXPECT_EQ(r.status, 0xA2);
        EXPECT_EQ(Flash(noIgnition), Str(system.bytes));
        EXPECT_EQ(CountOf(MeRequests(noIgnition), "sub=0x04"), 0u) << args.size();
    }
}

TEST_P(Me, HelpLinesAndAloneOnTheCommandLine) {
    Machine m = Make();
    RunResult r = Run(m, {"/?"});
    EXPECT_EQ(r.out, UsageListing(Width()));
    EXPECT_NE(r.out.find("|        /ME - Program ME Entire Firmware Block.                            |\n"),
              std::string::npos);
    EXPECT_NE(r.out.find("|      /MEUF - Program ME Ignition Firmware Block.                          |\n"),
              std::string::npos);
    r = Run(m, {"/me"});
    EXPECT_EQ(r.status, 1);
}

// Two ME updates in one run cannot both start on firmware that takes one
// start a boot, and would write the same area twice: refused as the command
// line is read, before any ME request but the registration's. The region
// words beside "/ME" make one update.
TEST_P(Me, OneMeUpdateARun) {
    const struct {
        std::vector<std::string> sets, args;
        const char* first;
        const char* second;
    } rows[] = {
        {{"me_ignition=1"}, {"new.rom", "/ME", "/MEUF"}, "/ME", "/MEUF"},
        {{"me_ignition=1"}, {"new.rom", "/MEUF", "/B", "/ME"}, "/ME", "/MEUF"},
        {{"me_ignition=1", kRegions}, {"new.rom", "/MEUF", "/ME"}, "/ME", "/MEUF"},
        {{"me_ignition=1", kRegions}, {"new.rom", "/meuf", "/fdt"}, "/fdt", "/MEUF"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args[1] + " " + row.args[2]);
        Machine m = Make(row.sets);
        RunResult r = Run(m, row.args);
        const std::string tail = std::string("\"") + row.first + "\" and \"" + row.second +
                                 "\" cannot be given together: the firmware takes one ME update a run.\n"
                                 "1 - Error: Unknown command.\n";
        ASSERT_GE(r.out.size(), tail.size()) << r.out;
        EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
        EXPECT_EQ(r.status, 1);
        std::vector<std::string> me = MeRequests(m);
        for (const char* sub : {"sub=0x01", "sub=0x04", "sub=0x06", "sub=0x07"}) EXPECT_EQ(CountOf(me, sub), 0u) << sub;
        EXPECT_EQ(BlockRequests(m, "0x21"), 0u) << "the flash unread";
        EXPECT_EQ(Flash(m), Str(system.bytes));
    }
    Machine m = Make({kRegions});
    RunResult r = Run(m, {"new.rom", "/ME", "/FDT"});
    EXPECT_EQ(r.status, 0) << r.out;
    ExpectFlashWith(m, 0, 0x20000);
    EXPECT_EQ(CountOf(MeRequests(m), "sub=0x04"), 1u);
}

// ---- ME-region options ----

std::vector<std::string> RegionRequests(const Machine& m) {
    std::vector<std::string> out;
    for (const std::string& l : MeRequests(m)) {
        size_t at = l.find(" req=");
        if (at != std::string::npos) out.push_back(l.substr(at + 1, l.find(" done=") - at - 1));
    }
    return out;
}

TEST_P(Me, RegionOptionsInTheUsage) {
    Machine m = Make({kRegions});
    RunResult r = Run(m, {"/?"});
    EXPECT_EQ(r.status, 0);
    std::string listing = WithoutPagerPauses(r.out);
    const std::string fdt = "|       /FDT - Flash descriptor.                                            |\n";
    const std::string opr = "|       /OPR - Operational ME.                                              |\n";
    const std::string meuf = "|      /MEUF - Program ME Ignition Firmware Block.                          |\n";
    EXPECT_NE(listing.find("Block.                            |\n" + fdt + opr + meuf), std::string::npos) << listing;
    EXPECT_EQ(listing.find("/BIOS"), std::string::npos);

    // A help text of 60 characters and more is not padded.
    Machine longHelp = Make({"me_regions=GBE:" + std::string(61, 'g') + ":0x0:0x1000:2:0"});
    r = Run(longHelp, {"/?"});
    EXPECT_NE(r.out.find("|       /GBE - " + std::string(61, 'g') + ".|\n"), std::string::npos);

    // Only commands with a word are listed: none without text, none for the
    // entries a count above those given claims.
    Machine nameless = Make({"me_regions=:Nameless:0x0:0x1000:0:0;OPR:Operational ME:0x1000:0x1F000:4:0;"
                             "BIOS:BIOS region:0x20000:0xE0000:5:0",
                             "me_region_count=5"});
    r = Run(nameless, {"/?"});
    listing = WithoutPagerPauses(r.out);
    EXPECT_NE(listing.find("Block.                            |\n" + opr + meuf), std::string::npos) << listing;
    EXPECT_EQ(listing.find("/ - "), std::string::npos) << listing;

    // The BIOS region's command has no word: it is an unknown option.
    Machine bios = Make({kRegions});
    r = Run(bios, {"new.rom", "/BIOS"});
    const std::string unknown = "Unknown command or option : /BIOS\n";
    EXPECT_NE(r.out.find(unknown), std::string::npos) << r.out;
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(RegionRequests(bios).empty());
}

TEST_P(Me, EntireMeThroughTheRegionTable) {
    Machine m = Make({kRegions, "me_call_again=3"});
    RunResult r = Run(m, {"new.rom", "/ME"});
    EXPECT_EQ(r.out, Head() + kDataOk + kSumsOk + " - Update OPR ............ |\r - Update OPR ............ -\r" +
                         " - Update OPR ............ \\\r" + kPowerOff);
    EXPECT_EQ(r.status, 0);
    ExpectFlashWith(m, 0x1000, 0x20000);
    std::vector<std::string> me = MeRequests(m);
    EXPECT_EQ(CountOf(me, "sub=0x06") + CountOf(me, "sub=0x07"), 0u);
    std::vector<std::string> regions = RegionRequests(m);
    ASSERT_EQ(regions.size(), 1u + 32 + 4 + 1);
    EXPECT_EQ(regions[0], "req=0x01 region=0xff first=0x00000020 size=0x00000000 status=0x0000");
    EXPECT_EQ(regions[33], "req=0x04 region=0x04 first=0x00000000 size=0x00000000 status=0x0002");
    EXPECT_EQ(regions[36],
              "req=0x08 region=0x04 first=0x00000000 size=0x00000000 write=0x00001000,0x0001f000 status=0x0000");
    EXPECT_EQ(regions[37], "req=0x10 region=0xff first=0x00000000 size=0x00000000 status=0x0000");
    EXPECT_EQ(CountOf(me, "sub=0x04"), 1u);
    EXPECT_EQ(me.back(), "sub=0x05 size=0x001e done=1 rs=0x0001");
}

TEST_P(Me, LockedRegionStillFreesTheSessionAndEndsTheUpdate) {
    Machine m = Make({"me_regions=FDT:Flash descriptor:0x0:0x1000:0:0;OPR:Operational ME:0x1000:0x1F000:4:1;"
                      "BIOS:BIOS region:0x20000:0xE0000:5:0"});
    RunResult r = Run(m, {"new.rom", "/opr"});
    EXPECT_EQ(r.out, Head() + kDataOk + kSumsOk + "c2 - Error: Region is write-protected\n");
    EXPECT_EQ(r.status, 0xC2);
    EXPECT_EQ(Flash(m), Str(system.bytes));
    std::vector<std::string> regions = RegionRequests(m);
    ASSERT_GE(regions.size(), 2u);
    EXPECT_EQ(regions[regions.size() - 2], "req=0x04 region=0x04 first=0x00000000 size=0x00000000 status=0x0001");
    EXPECT_EQ(regions.back(), "req=0x10 region=0xff first=0x00000000 size=0x00000000 status=0x0000");
    EXPECT_EQ(MeRequests(m).back(), "sub=0x05 size=0x001e done=1 rs=0x0001");

    // A region word updates its region alone.
    Machine one = Make({kRegions});
    r = Run(one, {"new.rom", "/fdt"});
    EXPECT_EQ(r.out, Head() + kDataOk + kSumsOk + kPowerOff);
    EXPECT_EQ(r.status, 0);
    ExpectFlashWith(one, 0, 0x1000);

    // A refused push: its error, after the session is freed and the update ended.
    Machine noPush = Make({kRegions, "me_region_fail=0x02"});
    r = Run(noPush, {"new.rom", "/FDT"});
    EXPECT_EQ(r.out, Head() + kDataOk + kSumsOk + "c1 - Error: BIOS return error, when trying to re-flash ME Firmware data.\n");
    EXPECT_EQ(r.status, 0xC1);
    regions = RegionRequests(noPush);
    ASSERT_EQ(regions.size(), 3u) << "allocation, the refused page, the release";
    EXPECT_EQ(regions.back(), "req=0x10 region=0xff first=0x00000000 size=0x00000000 status=0x0000");
    EXPECT_EQ(MeRequests(noPush).back(), "sub=0x05 size=0x001e done=1 rs=0x0001");

    // A refused start opens no session.
    Machine noStart = Make({kRegions, "me_fail_sub=4"});
    r = Run(noStart, {"new.rom", "/FDT"});
    EXPECT_EQ(r.out, Head() + kDataOk + kSumsOk + kA1);
    EXPECT_EQ(r.status, 0xA1);
    EXPECT_TRUE(RegionRequests(noStart).empty());
}

// Without a command of id 4 the table does not take "/ME" over.
TEST_P(Me, TableWithoutTheEntireMe) {
    Machine m = Make({"me_regions=FDT:Flash descriptor:0x0:0x1000:0:0;BIOS:BIOS region:0x20000:0xE0000:5:0"});
    RunResult r = Run(m, {"new.rom", "/ME"});
    EXPECT_EQ(r.out, Head() + kDataOk + kSumsOk +
                         MeRoutePasses({{0x1000, 0xF000}, {0x10000, 0x10000}}, 0x1000, 0x20000, 0x20000) + kPowerOff);
    EXPECT_EQ(r.status, 0);
    ExpectFlashWith(m, 0x1000, 0x20000);
    EXPECT_TRUE(RegionRequests(m).empty());
}

// On an FTF platform the regions travel packed: the update takes its bytes
// from behind the regions before it.
TEST_P(Me, RegionUpdateOnAnFtfPlatformPushesPacked) {
    Machine m = Make({"dsdt_hex=4d4c415001", "me_push_layout=packed",
                      "me_regions=FDT:Flash descriptor:0x0:0x1000:0:0;GBE:Gigabit:0x8000:0x2000:2:0;"
                      "OPR:Operational ME:0x10000:0x10000:4:0;BIOS:BIOS region:0x20000:0xE0000:5:0"});
    RunResult r = Run(m, {"new.rom", "/OPR"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() - kPowerOff.size()), kPowerOff);
    ExpectFlashWith(m, 0x10000, 0x20000);
    std::vector<std::string> regions = RegionRequests(m);
    ASSERT_EQ(regions.size(), 1u + 0x13 + 1 + 1);
    EXPECT_EQ(regions[0], "req=0x01 region=0xff first=0x00000013 size=0x00000000 status=0x0000");
    EXPECT_EQ(regions[20], "req=0x04 region=0x04 first=0x00000000 size=0x00000000 write=0x00010000,0x00010000 status=0x0000");
}

// In capsule mode the firmware does the update from the signed image: the
// ME options claim their words and touch nothing.
TEST_P(Me, CapsuleModeLeavesTheMeAlone) {
    Machine m = Make({"secure_flash=1", "sf_policy1=0x02", "me_ignition=1", kRegions});
    romimg::WriteBytes(m.File("rom.cap"), romimg::SignedCapsule(image.bytes, 0x400));
    RunResult r = Run(m, {"rom.cap", "/P", "/ME", "/MEUF", "/FDT", "/CAPSULE"}, "y");
    EXPECT_EQ(r.status, 0) << r.out;
    const std::string question = " System is going to shut down, are you ready? (Y/N)...y\n";
    ASSERT_GE(r.out.size(), question.size());
    EXPECT_EQ(r.out.substr(r.out.size() - question.size()), question);
    EXPECT_EQ(r.out.find("Error"), std::string::npos) << r.out;
    EXPECT_EQ(Flash(m), Str(system.bytes));
    std::vector<std::string> me = MeRequests(m);
    for (const char* sub : {"sub=0x01", "sub=0x04", "sub=0x06", "sub=0x07", "sub=0x0a"})
        EXPECT_EQ(CountOf(me, sub), 0u) << sub;
}

// The region data must be there before the update starts: a push longer
// than the ME part, or (FTF) a region outside the image, is refused.
TEST_P(Me, RegionDataOutsideTheirBuffersAreRefused) {
    const std::string kA0 = "a0 - Error: Can not analyze the ME Data. ROM file may be corrupted.\n";
    Machine longPush = Make({kRegions, "me_new_interface=0", "me_runtime_length=0x100001"});
    RunResult r = Run(longPush, {"new.rom", "/FDT"});
    EXPECT_EQ(r.out, Head() + kDataOk + kSumsOk + kA0);
    EXPECT_EQ(r.status, 0xA0);

    Machine outside = Make({"dsdt_hex=4d4c415001", "me_push_layout=packed",
                            "me_regions=FDT:Flash descriptor:0x0:0x1000:0:0;OPR:Operational ME:0xF8000:0x10000:4:0"});
    r = Run(outside, {"new.rom", "/FDT"});
    EXPECT_EQ(r.status, 0xA0) << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() - kA0.size()), kA0);
    for (const Machine* m : {&longPush, &outside}) {
        EXPECT_TRUE(RegionRequests(*m).empty());
        EXPECT_EQ(CountOf(MeRequests(*m), "sub=0x04"), 0u);
        EXPECT_EQ(Flash(*m), Str(system.bytes));
    }
}

// ---- Save-ME ----

class SaveMe : public Me {
protected:
    Machine MakeMfg(const std::vector<std::string>& sets = {}) {
        std::vector<std::string> all = {"mfg=1", "mfg_table=11|/OME|Save ME"};
        all.insert(all.end(), sets.begin(), sets.end());
        return Make(all);
    }
};

TEST_P(SaveMe, AreaIsReadIntoTheFile) {
    Machine m = MakeMfg();
    RunResult r = Run(m, {"me.bin", "/ome"});
    EXPECT_EQ(r.out, PlainBanner() + " Saving current BIOS into file: me.bin\n" + MeRead(0x1F000));
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(ReadFile(m.File("me.bin")) == Str(system.bytes).substr(0x1000, 0x1F000));
    EXPECT_EQ(CountOf(MeRequests(m), "sub=0x08 size=0x001e"), 31u);
    EXPECT_EQ(CountOf(MeRequests(m), "sub=0x04 size=0x001e done=1"), 1u) << "read inside an update";
    EXPECT_EQ(MeRequests(m).back(), "sub=0x05 size=0x001e done=1 rs=0x0001");

    // An existing file answered "n" stays as it was.
    WriteFile(m.File("me.bin"), "keep");
    r = Run(m, {"me.bin", "/OME"}, "n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(ReadFile(m.File("me.bin")), "keep");
    EXPECT_EQ(r.out.find("Reading ME"), std::string::npos) << r.out;
    // Input that ends gives no answer: the run fails and the file stays.
    r = Run(m, {"me.bin", "/OME"});
    EXPECT_EQ(r.status, 0x0C);
    EXPECT_EQ(ReadFile(m.File("me.bin")), "keep");
    // The option in place of the file name is no file name.
    r = Run(m, {"/OME", "me.bin"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(ReadFile(m.File("me.bin")), "keep");

    // A tail below 4 KiB is read as a short last piece.
    Machine tail = MakeMfg({"me_runtime_length=0x1800"});
    r = Run(tail, {"me.bin", "/OME"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, PlainBanner() + " Saving current BIOS into file: me.bin\n" +
                         " Reading ME .................. 0x00001000 (66%) \r" +
                         " Reading ME .................. done                \n");
    EXPECT_TRUE(ReadFile(tail.File("me.bin")) == Str(system.bytes).substr(0x1000, 0x1800));
    std::vector<std::string> me = MeRequests(tail);
    EXPECT_EQ(CountOf(me, "sub=0x08 size=0x001e addr=0x00002000 size=0x00000800 done=1"), 1u);
}

TEST_P(SaveMe, SavedFileIsNewAndOwnerOnlyAndNeverALink) {
    Machine m = MakeMfg();
    ExpectSavedFileRules(m.dir, [&](const std::string& name) { return Run(m, {name, "/OME"}, "y"); });
}

// The file is replaced only by the whole area: without ME support, after a
// read that fails, or for an area that is empty, the operator's file stays
// as it was and no update is left open. Firmware that speaks the short ME
// record is read through the block requests.
TEST_P(SaveMe, AnExistingFileIsReplacedOnlyByTheWholeArea) {
    struct Row {
        const char* what;
        std::vector<std::string> sets;
        std::string tail;
        int status;
        bool saved;
    } rows[] = {
        {"no ME support", {"me_full=0"}, kA1, 0xA1, false},
        {"read back refused", {"me_fail_sub=8"},
         " Reading ME .................. 0x00000000 (0%) \r\n42 - Error: Problem reading flash.\n", 0x42, false},
        {"start answer lost", {"zokt_faults=0x55/4:lost"}, kStartLost + kA1, 0xA1, false},
        {"an empty area", {"me_runtime_length=0"},
         "a0 - Error: Can not analyze the ME Data. ROM file may be corrupted.\n", 0xA0, false},
        {"older firmware: block reads", {"zokt_version=0x020f"}, MeRead(0x1F000), 0, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Machine m = MakeMfg(row.sets);
        WriteFile(m.File("me.bin"), "old backup");
        RunResult r = Run(m, {"me.bin", "/OME"}, "y");
        ASSERT_GE(r.out.size(), row.tail.size()) << r.out;
        EXPECT_EQ(r.out.substr(r.out.size() - row.tail.size()), row.tail);
        EXPECT_EQ(r.status, row.status);
        EXPECT_TRUE(ReadFile(m.File("me.bin")) == (row.saved ? Str(system.bytes).substr(0x1000, 0x1F000) : "old backup"));
        EXPECT_EQ(ReadFile(m.File("state/me_update")), "") << "no update left open";
    }

    Machine none = MakeMfg({"me_full=0"});
    RunResult r = Run(none, {"new.me", "/OME"});
    EXPECT_EQ(r.status, 0xA1);
    EXPECT_NE(access(none.File("new.me").c_str(), F_OK), 0) << "no file is created";
}

YOZ_E2E_BOTH_WIDTHS(Me);
YOZ_E2E_BOTH_WIDTHS(SaveMe);

}  // namespace
