// Setup and SMBIOS preservation end to end: "/SP" has the firmware store its
// setup before the flash and restore it after; "/R" puts the system's
// SMBIOS area into the image before the main BIOS is flashed and, with "/N",
// has the firmware keep its SMBIOS variables until the end of the run;
// "/R<n>" keeps chosen structure types.
#include <gtest/gtest.h>
#include <algorithm>
#include <string>
#include <vector>
#include "E2eHarness.h"
#include "FlashLines.h"
#include "SampleMachine.h"
#include "UsageListing.h"

namespace {

using romimg::Bytes;
using romimg::SmbiosStruct;

const std::string kChecksums = " - FFS checksums ......... ok\n";
const std::vector<uint32_t> kNvram = {0, 0x10000};

// The system's area: L = 0x54; the image's: L = 0x80, other bytes.
std::vector<SmbiosStruct> SystemStructs() {
    return {{1, romimg::Pattern(0x10, 1)}, {2, romimg::Pattern(0x20, 2)}, {1, romimg::Pattern(0x08, 3)},
            {17, romimg::Pattern(0x0C, 4)}};
}
std::vector<SmbiosStruct> ImageStructs() {
    return {{1, romimg::Pattern(0x30, 5)}, {2, romimg::Pattern(0x20, 6)}, {4, romimg::Pattern(0x24, 7)}};
}

// A DMI file of the area, then 0x20 bytes of its own.
romimg::FileSpec AreaFile(const std::vector<SmbiosStruct>& structs, uint32_t seed) {
    romimg::FileSpec f = romimg::DmiAreaFile(structs);
    Bytes tail = romimg::Pattern(0x20, seed);
    f.body.insert(f.body.end(), tail.begin(), tail.end());
    return f;
}

// The sample layouts with a DMI file after the main volume's protected files.
romimg::ProtectedLayout WithDmi(const romimg::FileSpec& dmi) {
    romimg::ProtectedLayout l;
    l.AddMain(l.main.size(), dmi);
    return l;
}

class SetupSmbios : public E2eWidth {
protected:
    romimg::SampleUpdate u = romimg::MakeSampleUpdate(WithDmi(AreaFile(SystemStructs(), 8)),
                                                      WithDmi(AreaFile(ImageStructs(), 9)));

    e2e::Machine Machine(const std::vector<std::string>& sets = {}) { return e2e::MakeSampleMachine(u, sets); }
    e2e::RunResult Run(const e2e::Machine& m, const std::vector<std::string>& args) {
        return e2e::RunProgram(Width(), m, args);
    }
    static Bytes Flash(const e2e::Machine& m) {
        std::string f = e2e::ReadFile(m.File("flash.bin"));
        return Bytes(f.begin(), f.end());
    }
    static Bytes Range(const Bytes& b, uint32_t at, uint32_t size) {
        return Bytes(b.begin() + at, b.begin() + at + size);
    }
    static std::string Head() { return e2e::PlainBanner() + e2e::FlashRead(); }
    static std::string MainPasses() {
        return e2e::Pass("Erasing Main Block ..........", romimg::kSampleMain, 12) +
               e2e::Pass("Updating Main Block .........", romimg::kSampleMain, 12) +
               e2e::Pass("Verifying Main Block ........", romimg::kSampleMain, 12);
    }
    // The flash a plain run of the image leaves.
    Bytes PlainResult() {
        e2e::Machine m = Machine();
        e2e::RunResult r = Run(m, {"new.rom"});
        EXPECT_EQ(r.status, 0) << r.out;
        return Flash(m);
    }
    const romimg::FileAt& ImageDmi() const { return u.image.File(romimg::kDmiFile); }
    uint32_t ImageArea() const { return ImageDmi().offset + 24; }
    Bytes SystemArea() const {
        return Range(u.system.bytes, u.system.File(romimg::kDmiFile).offset + 24, 8 + 0x54);
    }
    // `flash` with `area` at the image's "BSA_" offset and the DMI file's sums made right.
    Bytes WithArea(Bytes flash, const Bytes& area, uint32_t at) const {
        std::copy(area.begin(), area.end(), flash.begin() + at);
        romimg::RefreshFile(flash, ImageDmi().offset);
        return flash;
    }
    // Trace positions of the lines that hold every needle.
    static std::vector<size_t> Where(const e2e::Machine& m, std::vector<std::string> needles) {
        std::vector<std::string> trace = e2e::TraceLines(m);
        std::vector<size_t> at;
        for (size_t i = 0; i < trace.size(); ++i)
            if (std::all_of(needles.begin(), needles.end(),
                            [&](const std::string& n) { return trace[i].find(n) != std::string::npos; }))
                at.push_back(i);
        return at;
    }
    static std::vector<size_t> Setup(const e2e::Machine& m, const char* fn) { return Where(m, {"zokt=0x56", fn}); }
};

// The data checksum of the image's DMI file holds in `b`.
bool FileSumHolds(const Bytes& b, const romimg::FileAt& f) {
    unsigned sum = b[f.offset + 17];
    for (uint32_t i = 24; i < f.size; ++i) sum += b[f.offset + i];
    return (sum & 0xFF) == 0;
}

TEST_P(SetupSmbios, SetupIsStoredBeforeTheFlashAndRestoredAfterIt) {
    Bytes plain = PlainResult();
    e2e::Machine m = Machine();
    e2e::RunResult r = Run(m, {"new.rom", "/SP"});
    EXPECT_EQ(r.out, Head() + kChecksums + MainPasses());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Flash(m), plain);
    std::vector<size_t> erases = Where(m, {"cmd=0x22"});
    std::vector<size_t> mainReads = Where(m, {"cmd=0x21", "size=0x00010000"});
    ASSERT_FALSE(erases.empty());
    ASSERT_FALSE(mainReads.empty());
    ASSERT_EQ(Setup(m, "fn=0x01").size(), 1u);
    ASSERT_EQ(Where(m, {"zokt=0x56", "fn=0x02", "status=0x01"}).size(), 1u);
    ASSERT_EQ(Setup(m, "fn=0x04").size(), 1u);
    EXPECT_LT(Setup(m, "fn=0x01")[0], Setup(m, "fn=0x02")[0]);
    EXPECT_LT(Setup(m, "fn=0x02")[0], erases.front());
    EXPECT_GT(Setup(m, "fn=0x04")[0], mainReads.back());
    EXPECT_TRUE(Where(m, {"zokt=0x56", "fn=0x08"}).empty());

    // Firmware without setup preservation: nothing is written.
    e2e::Machine no = Machine({"setup_status_1=2"});
    e2e::RunResult rn = Run(no, {"new.rom", "/SP"});
    EXPECT_EQ(rn.out, Head() + kChecksums + "9c - Error: BIOS don't support NVRAM/SETUP preserve funtion.\n");
    EXPECT_EQ(rn.status, 0x9C);
    EXPECT_TRUE(Where(no, {"cmd=0x22"}).empty());
    EXPECT_TRUE(Where(no, {"cmd=0x23"}).empty());
    // The store refused: nothing written.
    e2e::Machine refused = Machine({"setup_status_2=4"});
    e2e::RunResult rs = Run(refused, {"new.rom", "/sp"});
    EXPECT_EQ(rs.out, Head() + kChecksums + "9d - Error: Store SETUP setting error.\n");
    EXPECT_EQ(rs.status, 0x9D);
    EXPECT_EQ(Flash(refused), u.system.bytes);
    // The restore refused: the flash is done, the run fails.
    e2e::Machine late = Machine({"setup_status_4=8"});
    e2e::RunResult rl;
    {
        e2e::ExpectLeft refusedRestore(e2e::kSetupStored);
        rl = Run(late, {"new.rom", "/SP"});
    }
    EXPECT_EQ(rl.out, Head() + kChecksums + MainPasses() + "9e - Error: Restore SETUP setting error.\n");
    EXPECT_EQ(rl.status, 0x9E);
    EXPECT_EQ(Flash(late), plain);
    // A store whose answer was lost is taken back by the restore before the
    // run ends (a line says so when that is not confirmed either); a restore
    // refused or not answered is the restore's error. The query and the
    // restore go out again while they are not answered.
    const std::string noSupport = "9c - Error: BIOS don't support NVRAM/SETUP preserve funtion.\n";
    const std::string noAnswer = " - The firmware did not answer the query of its setup and SMBIOS preservation.\n";
    const std::string storeLost = " - The firmware did not answer the store of its setup settings.\n";
    const std::string mayHold = " - Warning: The BIOS may still hold the stored setup settings.\n";
    const std::string restoreError = "9e - Error: Restore SETUP setting error.\n";
    struct Row {
        std::string set, tail;
        int status;
        bool written;
        const char* stored;  // state/setup_stored afterwards
    } rows[] = {
        {"zokt_faults=0x56/2:lost", storeLost + noSupport, 0x9C, false, "0x0"},
        {"zokt_faults=0x56/2:lost;0x56/4:none", storeLost + mayHold + noSupport, 0x9C, false, "0x1"},
        {"zokt_faults=0x56/4:none", MainPasses() + restoreError, 0x9E, true, "0x1"},
        {"setup_status_4=4", MainPasses() + restoreError, 0x9E, true, "0x1"},
        {"zokt_faults=0x56/4#1:none", MainPasses(), 0, true, "0x0"},
        {"zokt_faults=0x56/1#1-2:none", MainPasses(), 0, true, "0x0"},
        {"zokt_faults=0x56/1:none", noAnswer + noSupport, 0x9C, false, ""},
    };
    for (const Row& row : rows) {
        e2e::Machine f = Machine({row.set});
        e2e::ExpectLeft held(std::string(row.stored) == "0x1" ? e2e::kSetupStored : 0);
        e2e::RunResult rf = Run(f, {"new.rom", "/SP"});
        EXPECT_EQ(rf.out, Head() + kChecksums + row.tail) << row.set;
        EXPECT_EQ(rf.status, row.status) << row.set;
        EXPECT_EQ(Flash(f), row.written ? plain : u.system.bytes) << row.set;
        EXPECT_EQ(e2e::ReadFile(f.File("state/setup_stored")).substr(0, 3), row.stored) << row.set;
    }
    // The firmware's configuration answer can ask for it too.
    e2e::Machine cfg = Machine({"cfg_answer=masks", "cfg_enable=0x800"});
    e2e::RunResult rc = Run(cfg, {"new.rom"});
    EXPECT_EQ(rc.status, 0) << rc.out;
    EXPECT_EQ(Setup(cfg, "fn=0x02").size(), 1u);
    EXPECT_EQ(Setup(cfg, "fn=0x04").size(), 1u);
}

TEST_P(SetupSmbios, SlashRKeepsTheSystemAreaInTheFlashedImage) {
    Bytes plain = PlainResult();
    e2e::Machine m = Machine();
    e2e::RunResult r = Run(m, {"new.rom", "/R"});
    EXPECT_EQ(r.out, Head() + kChecksums + MainPasses());
    EXPECT_EQ(r.status, 0) << r.err;
    Bytes flash = Flash(m);
    EXPECT_EQ(Range(flash, ImageArea(), 8 + 0x54), SystemArea());
    EXPECT_EQ(flash, WithArea(plain, SystemArea(), ImageArea()));
    EXPECT_TRUE(FileSumHolds(flash, ImageDmi()));
    EXPECT_TRUE(Where(m, {"zokt=0x56"}).empty());

    // "/B" writes neither side's area: the system's stays where it is, as
    // after the boot block alone.
    e2e::Machine bootOnly = Machine();
    ASSERT_EQ(Run(bootOnly, {"new.rom", "/B"}).status, 0);
    for (const char* word : {"/R", "/R2"}) {
        e2e::Machine b = Machine();
        e2e::RunResult rb = Run(b, {"new.rom", "/B", word});
        EXPECT_EQ(rb.status, 0) << word << rb.out;
        EXPECT_EQ(Flash(b), Flash(bootOnly)) << word;
    }

    // The image also has an area in the boot volume, which the run does not
    // write: the system's area goes where it lies, in the main volume.
    romimg::ProtectedLayout twoAreas = WithDmi(AreaFile(ImageStructs(), 9));
    twoAreas.AddBoot(1, AreaFile({{1, romimg::Pattern(0x3C, 10)}, {2, romimg::Pattern(0x3C, 11)}}, 12));
    u = romimg::MakeSampleUpdate(WithDmi(AreaFile(SystemStructs(), 8)), twoAreas);
    Bytes plainTwo = PlainResult();
    e2e::Machine two = Machine();
    EXPECT_EQ(Run(two, {"new.rom", "/R"}).status, 0);
    EXPECT_EQ(Flash(two), WithArea(plainTwo, SystemArea(), ImageArea()));

    // A system without a DMI file: a plain run.
    romimg::SampleUpdate none = romimg::MakeSampleUpdate(romimg::ProtectedLayout(), WithDmi(AreaFile(ImageStructs(), 9)));
    e2e::Machine bare = e2e::MakeSampleMachine(none);
    e2e::RunResult rb = Run(bare, {"new.rom", "/R"});
    EXPECT_EQ(rb.out, Head() + kChecksums + MainPasses());
    EXPECT_EQ(rb.status, 0);
    EXPECT_EQ(Range(Flash(bare), ImageArea(), 8 + 0x80), Range(none.image.bytes, ImageArea(), 8 + 0x80));
}

TEST_P(SetupSmbios, AnAreaThatDoesNotFitStopsBeforeAnyErase) {
    const std::string d4 = "d4 - Error: The system DMI data size is greater than ROM file's DMI data length.\n";
    // The image has no area, a smaller one, or one whose L runs past its file.
    romimg::FileSpec bent = AreaFile(ImageStructs(), 9);
    romimg::Put32(bent.body, 4, 0x80 + 0x21);
    const std::vector<romimg::FileSpec> images = {romimg::PlainFile(40, 0x40),
                                                  AreaFile({{1, romimg::Pattern(0x40, 5)}}, 9), bent};
    // With "/SP" too, the firmware is not asked to store its setup either.
    for (const romimg::FileSpec& image : images) {
        u = romimg::MakeSampleUpdate(WithDmi(AreaFile(SystemStructs(), 8)), WithDmi(image));
        e2e::Machine m = Machine();
        e2e::RunResult r = Run(m, {"new.rom", "/SP", "/R"});
        EXPECT_EQ(r.out, Head() + kChecksums + d4);
        EXPECT_EQ(r.status, 0xD4);
        EXPECT_EQ(Flash(m), u.system.bytes);
        EXPECT_TRUE(Where(m, {"cmd=0x22"}).empty());
        EXPECT_TRUE(Where(m, {"zokt=0x56"}).empty());
    }
    // The system's area lies in the boot volume, the image's in the main
    // volume: "/B" writes no area that could take it.
    romimg::ProtectedLayout bootArea;
    bootArea.AddBoot(1, AreaFile(SystemStructs(), 8));
    u = romimg::MakeSampleUpdate(bootArea, WithDmi(AreaFile(ImageStructs(), 9)));
    e2e::Machine moved = Machine();
    e2e::RunResult rm = Run(moved, {"new.rom", "/B", "/R"});
    EXPECT_EQ(rm.out, Head() + kChecksums + d4);
    EXPECT_EQ(rm.status, 0xD4);
    EXPECT_TRUE(Where(moved, {"cmd=0x22"}).empty());
    // The system's L runs past its file: nothing of it can be kept.
    romimg::FileSpec system = AreaFile(SystemStructs(), 8);
    romimg::Put32(system.body, 4, 0xFFFFFFF8u);
    u = romimg::MakeSampleUpdate(WithDmi(system), WithDmi(AreaFile(ImageStructs(), 9)));
    for (const char* word : {"/R", "/R2"}) {
        e2e::Machine m = Machine();
        e2e::RunResult r = Run(m, {"new.rom", word});
        EXPECT_EQ(r.out, Head() + kChecksums + d4) << word;
        EXPECT_EQ(r.status, 0xD4);
        EXPECT_TRUE(Where(m, {"cmd=0x22"}).empty());
    }
}

TEST_P(SetupSmbios, ChosenTypesReplaceTheImageDataUpToTheSystemLength) {
    Bytes plain = PlainResult();
    e2e::Machine m = Machine();
    e2e::RunResult r = Run(m, {"new.rom", "/R2", "/r17", "/R5", "/R2"});
    EXPECT_EQ(r.out, Head() + kChecksums + " - Warning: System doesn't have Type-5 structure to preserve\n" +
                         MainPasses());
    EXPECT_EQ(r.status, 0) << r.err;
    // The kept structures, then erased bytes up to the image's own length:
    // nothing of the image's structures is left behind them.
    std::vector<SmbiosStruct> s = SystemStructs();
    auto kept = [](const std::vector<SmbiosStruct>& structs) {
        Bytes data = romimg::BsaArea(structs);
        data.erase(data.begin(), data.begin() + 8);
        data.resize(0x80, 0xFF);
        return data;
    };
    Bytes flash = Flash(m);
    EXPECT_EQ(romimg::Get32(Range(flash, ImageArea(), 8), 4), 0x80u);  // the image's own header
    EXPECT_EQ(flash, WithArea(plain, kept({s[1], s[3]}), ImageArea() + 8));
    EXPECT_TRUE(FileSumHolds(flash, ImageDmi()));
    e2e::Machine all = Machine();
    EXPECT_EQ(Run(all, {"new.rom", "/R1", "/R2", "/R17"}).status, 0);
    EXPECT_EQ(Flash(all), WithArea(plain, kept({s[0], s[2], s[1], s[3]}), ImageArea() + 8));

    // With "/R" the whole area is kept; the chosen types take nothing away.
    e2e::Machine both = Machine();
    e2e::RunResult rb = Run(both, {"new.rom", "/R1", "/R"});
    EXPECT_EQ(rb.status, 0) << rb.out;
    EXPECT_EQ(Flash(both), WithArea(plain, SystemArea(), ImageArea()));

    // A damaged system area (its first structure runs past L) in which none
    // of the types is found keeps nothing: the image's area stays as it is.
    romimg::FileSpec damaged = AreaFile(SystemStructs(), 8);
    romimg::Put32(damaged.body, 4, 0x10);
    u = romimg::MakeSampleUpdate(WithDmi(damaged), WithDmi(AreaFile(ImageStructs(), 9)));
    e2e::Machine d = Machine();
    e2e::RunResult rd = Run(d, {"new.rom", "/R2"});
    EXPECT_EQ(rd.out, Head() + kChecksums + " - Warning: System doesn't have Type-2 structure to preserve\n" +
                          MainPasses());
    EXPECT_EQ(rd.status, 0);
    EXPECT_EQ(Flash(d), PlainResult());
}

TEST_P(SetupSmbios, SlashRWithNvramHasTheFirmwareKeepItsVariablesToTheEnd) {
    u.image.Fill(0, 0x20000, 0x77);
    Bytes flashed = u.system.bytes;
    std::copy(u.image.bytes.begin(), u.image.bytes.begin() + 0x20000, flashed.begin());
    e2e::Machine m = Machine();
    e2e::RunResult r = Run(m, {"new.rom", "/R", "/N"});
    EXPECT_EQ(r.out, Head() + kChecksums + e2e::Passes("NVRAM", kNvram));
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<size_t> store = Setup(m, "fn=0x08"), restore = Setup(m, "fn=0x10");
    std::vector<size_t> erases = Where(m, {"cmd=0x22"}), closes = Where(m, {"cmd=0x24"});
    ASSERT_EQ(store.size(), 1u);
    ASSERT_EQ(restore.size(), 1u);
    ASSERT_FALSE(erases.empty());
    ASSERT_FALSE(closes.empty());
    EXPECT_LT(store[0], erases.front());
    EXPECT_GT(restore[0], closes.back());
    EXPECT_EQ(Where(m, {"zokt=0x56", "status=0x01"}).size(), 3u);  // support, store, restore
    EXPECT_EQ(Flash(m), flashed);

    // The firmware's answers: each row's exit status and output after the
    // checksums, whether the NVRAM was written and whether the firmware still
    // holds a store (a store without answer is taken back); no row restarts.
    const std::string passes = e2e::Passes("NVRAM", kNvram);
    const std::string noSupport = "9c - Error: BIOS don't support NVRAM/SETUP preserve funtion.\n";
    const std::string dmiStoreLost = " - The firmware did not answer the store of its SMBIOS variables.\n";
    struct Row {
        const char* what;
        std::vector<std::string> sets;
        std::vector<std::string> words;
        int status;
        std::string out;
        bool written;
        const char* held = "";  // state/dmi_stored afterwards: "" never stored, 0x0 taken back, 0x1 held
    };
    const Row rows[] = {
        {"no SMBIOS variables to keep", {"setup_status_1=2"}, {}, 0,
         " - Warning: BIOS doesn't support SMBIOS preservation, SMBIOS variables are not kept.\n" + passes, true},
        {"store answered as not supported", {"setup_status_8=2"}, {}, 0x9C, noSupport, false},
        {"requests not answered", {"setup_support=0"}, {}, 0x9C,
         " - The firmware did not answer the query of its setup and SMBIOS preservation.\n" + noSupport, false},
        {"store refused", {"setup_status_8=0x10"}, {}, 0xAF, "af - Error: Store DMI Data error.\n", false},
        {"restore refused", {"setup_status_16=0x20"}, {}, 0xB0, passes + "b0 - Error: Restore DMI Data error.\n",
         true, "0x1"},
        {"restore refused: no restart", {"setup_status_16=0x20"}, {"/REBOOT"}, 0xB0,
         passes + "b0 - Error: Restore DMI Data error.\n", true, "0x1"},
        {"store answer lost", {"zokt_faults=0x56/8:lost"}, {}, 0x9C, dmiStoreLost + noSupport, false, "0x0"},
        {"store and restore answers lost", {"zokt_faults=0x56/8:lost;0x56/0x10:lost"}, {}, 0x9C,
         dmiStoreLost + " - Warning: The BIOS may still hold the stored SMBIOS variables.\n" + noSupport, false, "0x0"},
        {"restore not answered", {"zokt_faults=0x56/0x10:none"}, {}, 0xB0,
         passes + "b0 - Error: Restore DMI Data error.\n", true, "0x1"},
        {"restore answered when sent again", {"zokt_faults=0x56/0x10#1:none"}, {}, 0, passes, true, "0x0"},
        {"restore answered as a store error", {"setup_status_16=4"}, {}, 0xB0,
         passes + "b0 - Error: Restore DMI Data error.\n", true, "0x1"},
    };
    for (const Row& row : rows) {
        e2e::Machine f = Machine(row.sets);
        std::vector<std::string> words = {"new.rom", "/R", "/N"};
        words.insert(words.end(), row.words.begin(), row.words.end());
        e2e::ExpectLeft heldStore(std::string(row.held) == "0x1" ? e2e::kDmiStored : 0);
        e2e::RunResult rf = Run(f, words);
        EXPECT_EQ(rf.out, Head() + kChecksums + row.out) << row.what;
        EXPECT_EQ(rf.status, row.status) << row.what;
        EXPECT_EQ(Flash(f), row.written ? flashed : u.system.bytes) << row.what;
        EXPECT_EQ(e2e::ReadFile(f.File("state/dmi_stored")).substr(0, 3), row.held) << row.what;
        EXPECT_TRUE(Where(f, {"shell"}).empty()) << row.what;
    }
}

// A store the firmware did is taken back by its restore on every later
// failure: once, after the last flash request, before the error line; the
// run keeps its error. A restore refused or not answered then says so, as
// after a store without answer. A signal after the flash work stops the run
// only after the restore, and stops the restart that remained.
TEST_P(SetupSmbios, AStoreDoneIsTakenBackWhenALaterStepFails) {
    const std::string e42 = "42 - Error: Problem reading flash.\n", e44 = "44 - Error: Problem writting flash.\n",
                      e45 = "45 - Error: Problem verifying flash.\n";
    const std::string setupMayHold = " - Warning: The BIOS may still hold the stored setup settings.\n";
    const std::string dmiMayHold = " - Warning: The BIOS may still hold the stored SMBIOS variables.\n";
    const std::vector<std::string> sp = {"new.rom", "/SP"}, bpsp = {"new.rom", "/B", "/P", "/SP"},
                                   nr = {"new.rom", "/N", "/R"}, nrReboot = {"new.rom", "/N", "/REBOOT", "/R"};
    const std::string stopped =
        "\n - The BIOS update is complete; the signal stopped only what remained (the restart or power-off).\n"
        "c - Error: BIOS update cancelled by user.\n";
    // The SMIs of command 0x26 of a "/N /R" run up to its SMBIOS restore.
    e2e::Machine probe = Machine();
    ASSERT_EQ(Run(probe, nr).status, 0);
    const std::string atRestore = "signal_smi=0x26#" + std::to_string(e2e::Smi26UpTo(probe, "fn=0x10")) + ":TERM";
    struct Row {
        std::vector<std::string> words;
        std::vector<std::string> sets;
        int status;
        std::string tail;  // the end of the output
        bool flashOld;
    } rows[] = {
        {sp, {"flash_faults=read#18:1"}, 0x42, "ok\n" + e42, true},
        {sp, {"flash_faults=write@0x20000:1"}, 0x44, "\n" + e44, false},
        {sp, {"flash_faults=read#38+:1"}, 0x45, "\n" + e45, false},
        {bpsp, {"flash_faults=read#18:1"}, 0x42, "ok\n" + e42, true},
        {bpsp, {"flash_faults=write@0x20000:1"}, 0x44, "\n" + e44, false},
        {bpsp, {"flash_faults=read#38+:1"}, 0x45, "\n" + e45, false},
        {nr, {"flash_faults=write@0x10000:1"}, 0x44, "\n" + e44, false},
        {nr, {"flash_faults=read@0x10000#2+:1"}, 0x45, "\n" + e45, false},
        {sp, {"flash_faults=read#18:1", "setup_status_4=8"}, 0x42, "ok\n" + setupMayHold + e42, true},
        {sp, {"flash_faults=read#18:1", "zokt_faults=0x56/4:none"}, 0x42, "ok\n" + setupMayHold + e42, true},
        {sp, {"flash_faults=read#18:1", "zokt_faults=0x56/4#1:none"}, 0x42, "ok\n" + e42, true},
        {nr, {"flash_faults=write@0x10000:1", "zokt_faults=0x56/0x10#1-2:none"}, 0x44, "\n" + e44, false},
        {nr, {"flash_faults=write@0x10000:1", "setup_status_16=0x20"}, 0x44, "\n" + dmiMayHold + e44, false},
        {nr, {"signal_smi=0x22#1:TERM"}, 0x0C, stopped, false},
        {sp, {"signal_smi=0x22#2:TERM"}, 0x0C, stopped, false},
        {nrReboot, {"signal_smi=0x23#1:TERM"}, 0x0C, stopped, false},
        {nrReboot, {atRestore}, 0x0C, stopped, false},
        // The restore refused after the signal: its error, not the cancel.
        {nr, {"signal_smi=0x22#1:TERM", "setup_status_16=0x20"}, 0xB0,
         "\n" + dmiMayHold + "b0 - Error: Restore DMI Data error.\n", false},
    };
    for (const Row& row : rows) {
        bool dmi = row.words.back() == "/R";
        std::string what;
        for (const std::string& w : row.words) what += w + " ";
        for (const std::string& set : row.sets) what += set + " ";
        bool refused = row.tail.find("may still hold") != std::string::npos;
        e2e::ExpectLeft held(refused ? (dmi ? e2e::kDmiStored : e2e::kSetupStored) : 0);
        e2e::Machine m = Machine(row.sets);
        e2e::RunResult r = Run(m, row.words);
        EXPECT_EQ(r.status, row.status) << what;
        EXPECT_TRUE(r.out.size() >= row.tail.size() &&
                    r.out.compare(r.out.size() - row.tail.size(), row.tail.size(), row.tail) == 0)
            << what << "\n" << r.out;
        // Answered or not (the fault leaves only the function in the trace);
        // one never answered goes out three times.
        std::vector<size_t> restores = Setup(m, dmi ? "fn=0x10" : "fn=0x04");
        std::vector<size_t> unanswered = Setup(m, dmi ? "sub=0x10 answer=none" : "sub=0x04 answer=none");
        restores.insert(restores.end(), unanswered.begin(), unanswered.end());
        std::sort(restores.begin(), restores.end());
        std::vector<size_t> blocks;
        for (const char* cmd : {"cmd=0x21", "cmd=0x22", "cmd=0x23"})
            for (size_t at : Where(m, {cmd})) blocks.push_back(at);
        EXPECT_EQ(restores.size(), unanswered.size() == 3 ? 3u : unanswered.size() + 1) << what;
        if (restores.empty()) continue;
        EXPECT_GT(restores[0], Setup(m, dmi ? "fn=0x08" : "fn=0x02").at(0)) << what;
        EXPECT_GT(restores[0], *std::max_element(blocks.begin(), blocks.end())) << what << ": after the last flash request";
        EXPECT_EQ(e2e::ReadFile(m.File(dmi ? "state/dmi_stored" : "state/setup_stored")), refused ? "0x1" : "0x0")
            << what;
        if (row.flashOld) EXPECT_EQ(Flash(m), u.system.bytes) << what;
        EXPECT_TRUE(Where(m, {"shell"}).empty()) << what << ": no restart";
    }
}

TEST_P(SetupSmbios, WordsThatAreNoOptionAreLeftUnclaimed) {
    e2e::Machine m = Machine();
    for (const char* word : {"/SP", "/R", "/R7"}) {
        e2e::RunResult r = Run(m, {word});
        EXPECT_EQ(r.out, e2e::UsageListing(Width()) + "1 - Error: Unknown command.\n") << word;
        EXPECT_EQ(r.status, 1) << word;
    }
    for (const char* word : {"/R256", "/R0007", "/R5x", "/Rx"}) {
        e2e::RunResult r = Run(m, {"new.rom", word});
        EXPECT_EQ(r.out, e2e::UnknownWordListing(Width(), word)) << word;
        EXPECT_EQ(r.status, 1) << word;
    }
    EXPECT_TRUE(Where(m, {"cmd=0x22"}).empty());
    EXPECT_TRUE(Where(m, {"zokt=0x56"}).empty());
}

TEST_P(SetupSmbios, CapsuleModeLeavesTheSignedFileAsItIs) {
    Bytes cap = romimg::SignedCapsule(u.image.bytes, 0x400);
    e2e::Machine m = Machine({"secure_flash=1", "sf_policy1=0x02"});
    romimg::WriteBytes(m.File("rom.cap"), cap);
    e2e::RunResult r = e2e::RunProgram(Width(), m, {"rom.cap", "/P", "/CAPSULE", "/SP", "/R", "/R1"}, "n");
    EXPECT_EQ(r.status, 0) << r.out;
    // Said once, before the upload.
    const std::string notice = " - Warning: The signed image is sent as it is, nothing is preserved by the program.\n";
    size_t at = r.out.find(notice);
    EXPECT_LT(at, r.out.find(" Loading capsule"));
    EXPECT_EQ(r.out.find(notice, at + 1), std::string::npos);
    EXPECT_TRUE(Where(m, {"zokt=0x56"}).empty());
    EXPECT_TRUE(e2e::ReadFile(m.File("state/sf_image.bin")) == std::string(cap.begin(), cap.end()));
    EXPECT_EQ(Flash(m), u.system.bytes);
}

YOZ_E2E_BOTH_WIDTHS(SetupSmbios);

}  // namespace
