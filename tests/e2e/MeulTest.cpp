// The ME update-library modules end to end, both widths: "/MEUL:" with an
// ME file (the firmware writes the file into the ME area), its ME-only
// capsule form with "/CAPSULE" and the BIOS-and-ME capsule form "/MEUL"
// with "/CAPSULE" (the ME data handed to the firmware, the main BIOS added
// to the session the "/CAPSULE" module sends). Exact output, exit status,
// flash.bin, the ME requests of the trace and the firmware's capsule record.
#include <algorithm>
#include <string>
#include <vector>
#include "E2eHarness.h"
#include "FlashLines.h"
#include "SampleMachine.h"
#include "UsageListing.h"

namespace {

using romimg::Bytes;

const uint32_t kMeulAddr = 0x1000;
const uint32_t kMeFileSize = 0x2800;
const std::string kPowerOff = "WARNING : System must power-off to have the changes take effect!\n";
const std::string kUpdated = " - Update MEUL....\r - Update success for MEUL.\n";
const std::string kC1 = "c1 - Error: BIOS return error, when trying to re-flash ME Firmware data.\n";
const std::string kA1 = "a1 - Error: BIOS does not support ME Entire Firmware update.\n";
const std::string kStartLost = " - The firmware did not answer the start of the ME update.\n";
const char kShutDownQuestion[] = " System is going to shut down, are you ready? (Y/N)...";
const std::string kNothingToUpdate =
    " - Nothing to update: the command line names nothing for capsule or recovery mode.\n";
const std::string kNoSecureFlash = "15 - Error: Secure Flash function is not supported on this platform.\n";

std::string Str(const Bytes& b) { return std::string(b.begin(), b.end()); }

// The push progress of `size` bytes in 4 KiB pages: each page's offset with
// the share counted up to its end; "done" when every page was taken, the
// line left open after `pages` pages otherwise (an error line then starts
// on a fresh one).
std::string Progress(uint32_t size, uint32_t pages = ~0u) {
    const std::string text = " Input the ME Local data into the BIOS ..... ";
    std::string out;
    uint32_t shown = 0;
    for (uint32_t at = 0; at < size && shown < pages; at += 0x1000, ++shown) {
        uint32_t end = size - at < 0x1000 ? size : at + 0x1000;
        char line[64];
        snprintf(line, sizeof(line), "0x%08X (%u%%) \r", at, static_cast<unsigned>(end * 100ull / size));
        out += text + line;
    }
    return shown * 0x1000ull >= size ? out + text + "done                \n" : out;
}

// The ME requests of the run but the registration's (version query, region
// table) and the support checks (sub-functions 0 and 3), short: "sub=0x04
// done=1" or, for region requests, "req=... first=... size=... [write=...]
// status=..." without the data sum.
std::vector<std::string> MeSession(const e2e::Machine& m) {
    std::vector<std::string> out;
    for (const std::string& line : e2e::TraceOfKind(m, "smi")) {
        if (line.find(" zokt=0x55 ") == std::string::npos) continue;
        const std::string l = line.substr(line.find(" sub=") + 1);
        const std::string sub = l.substr(0, 8);
        if (sub == "sub=0x0b" || sub == "sub=0x09" || sub == "sub=0x00" || sub == "sub=0x03") continue;
        size_t req = l.find(" req=");
        // A request the fault script answered in the handler's place.
        if (req == std::string::npos && l.find(" done=") == std::string::npos) {
            out.push_back(sub + l.substr(l.find(" fault=")));
            continue;
        }
        if (req == std::string::npos) {
            out.push_back(l.substr(0, 8) + l.substr(l.find(" done="), 7));
            continue;
        }
        std::string fields = l.substr(req + 1, l.find(" done=") - req - 1);
        size_t sum = fields.find(" sum=");
        if (sum != std::string::npos) fields.erase(sum, 11);
        out.push_back(fields);
    }
    return out;
}

// Sub-functions of every ME request of the run.
std::vector<std::string> MeSubs(const e2e::Machine& m) {
    std::vector<std::string> out;
    for (const std::string& l : e2e::TraceOfKind(m, "smi")) {
        size_t at = l.find(" zokt=0x55 ");
        if (at != std::string::npos) out.push_back(l.substr(l.find(" sub=") + 1, 8));
    }
    return out;
}

std::string Alloc(uint32_t pages) {
    char line[96];
    snprintf(line, sizeof(line), "req=0x01 region=0xff first=0x%08x size=0x00000000 status=0x0000", pages);
    return line;
}
std::string Page(uint32_t size, int status = 0) {
    char line[96];
    snprintf(line, sizeof(line), "req=0x02 region=0xff first=0x00001000 size=0x%08x status=0x%04x", size, status);
    return line;
}
std::string Capsule(int code, uint32_t size, int status = 0) {
    char line[96];
    snprintf(line, sizeof(line), "req=0x%02x region=0xff first=0x%08x size=0x00000000 status=0x%04x", code, size,
             status);
    return line;
}
const std::string kFree = "req=0x10 region=0xff first=0x00000000 size=0x00000000 status=0x0000";
const std::string kStart = "sub=0x04 done=1";
const std::string kEnd = "sub=0x05 done=1";
const std::string kRead = "sub=0x08 done=1";  // one page of the read back
const std::string kUpdate =
    "req=0x20 region=0xff first=0x00000000 size=0x00000000 write=0x00001000,0x00002800 status=0x0000";

class Meul : public E2eWidth {
protected:
    romimg::SampleUpdate u = romimg::MakeSampleUpdate();
    Bytes meFile = romimg::Pattern(kMeFileSize, 0x3E);

    e2e::Machine Machine(const std::vector<std::string>& sets = {}) {
        std::vector<std::string> all = {"me_runtime_base=0x1000", "me_bios_base=0x20000"};
        all.insert(all.end(), sets.begin(), sets.end());
        e2e::Machine m = e2e::MakeSampleMachine(u, all);
        romimg::WriteBytes(m.File("me.bin"), meFile);
        romimg::WriteBytes(m.File("rom.bin"), u.image.bytes);
        return m;
    }
    e2e::RunResult Run(const e2e::Machine& m, const std::vector<std::string>& args, const std::string& keys = "") {
        return e2e::RunProgram(Width(), m, args, keys);
    }
    std::string Flash(const e2e::Machine& m) { return e2e::ReadFile(m.File("flash.bin")); }
    std::string System() const { return Str(u.system.bytes); }
    static size_t Count(const e2e::Machine& m, const std::string& needle) {
        size_t n = 0;
        for (const std::string& l : e2e::TraceLines(m)) n += l.find(needle) != std::string::npos;
        return n;
    }
    static void ExpectNoBlockRequest(const e2e::Machine& m, const std::string& what) {
        for (const char* cmd : {"cmd=0x21", "cmd=0x22", "cmd=0x23"}) EXPECT_EQ(Count(m, cmd), 0u) << what << " " << cmd;
    }
};

// ---- "/MEUL:" ----

TEST_P(Meul, TheFirmwareWritesTheFileIntoTheMeArea) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"/MEUL:me.bin"}, std::vector<std::string>{"rom.bin", "/meul:me.bin"}}) {
        const std::string what = args[0];
        e2e::Machine m = Machine();
        e2e::RunResult r = Run(m, args);
        EXPECT_EQ(r.out, e2e::PlainBanner() + Progress(kMeFileSize) + kUpdated + kPowerOff) << what;
        EXPECT_EQ(r.status, 0) << what;
        EXPECT_EQ(MeSession(m), (std::vector<std::string>{kStart, Alloc(3), Page(0x1000), Page(0x1000), Page(0x800),
                                                          kUpdate, kRead, kRead, kRead, kFree, kEnd}))
            << what << ": the ME area read back before the session is freed";
        std::string want = System();
        want.replace(kMeulAddr, kMeFileSize, Str(meFile));
        EXPECT_TRUE(Flash(m) == want) << what << ": the file at the ME area, the rest unchanged";
        ExpectNoBlockRequest(m, what);
    }
}

// Each refusal: its last lines, exit status, the ME requests after the
// support check; flash.bin stays as it was.
struct Refusal {
    const char* what;
    std::vector<std::string> sets;
    std::string tail;  // output after the banner
    int status;
    std::vector<std::string> session;
    bool written = false;  // the update was carried out before the refusal
    std::vector<std::string> args = {};  // in place of the table's command line
};

// The firmware's gates stop the update before the firmware is asked anything
// about the ME: the battery answer, a "$ECB" status that forbids updates,
// and a password not given (`typed`: the echo of the keys the run gets),
// with the codes of the pre-flash check.
std::vector<Refusal> GateRows(const std::string& typed) {
    return {
        {"battery refused", {"ec_battery=2", "ec_battery_text=Battery 5%s left"},
         " - Battery 5%s left \nd - Error: BIOS Report Error.\n", 0x0D, {}},
        {"$ECB forbids", {"ecb=0x20", "ecb_msg20=Battery low."}, "Battery low.\nd - Error: BIOS Report Error.\n",
         0x0D, {}},
        {"password not given", {"password=abc", "password_tries=1"},
         " - Please enter password and then press enter.\n - Password: " + typed +
             "\n9b - Error: Password Retry count exceeded.\n",
         0x9B, {}},
    };
}

TEST_P(Meul, RefusalsFreeTheSessionEndTheUpdateAndWriteNothing) {
    const std::string update = "req=0x20 region=0xff first=0x00000000 size=0x00000000 status=0x0001";
    const std::vector<Refusal> rows = {
        {"update refused", {"me_region_fail=0x20"}, Progress(kMeFileSize) + " - Update MEUL....\r\n" + kC1, 0xC1,
         {kStart, Alloc(3), Page(0x1000), Page(0x1000), Page(0x800), update, kFree, kEnd}},
        {"first page refused", {"me_region_fail=0x02"}, Progress(kMeFileSize, 1) + "\n" + kC1, 0xC1,
         {kStart, Alloc(3), Page(0x1000, 1), kFree, kEnd}},
        {"update past the BIOS region", {"me_meul_addr=0x1F000"}, Progress(kMeFileSize) + " - Update MEUL....\r\n" + kC1,
         0xC1, {kStart, Alloc(3), Page(0x1000), Page(0x1000), Page(0x800), update, kFree, kEnd}},
        {"session refused", {"me_region_fail=0x01"}, kC1, 0xC1,
         {kStart, "req=0x01 region=0xff first=0x00000003 size=0x00000000 status=0x0001", kEnd}},
        {"start refused", {"me_fail_sub=4"}, "a1 - Error: BIOS does not support ME Entire Firmware update.\n", 0xA1,
         {"sub=0x04 done=0"}},
        {"update answered with a done byte other than 1", {"zokt_faults=0x55/0x0a#5:2"},
         Progress(kMeFileSize) + " - Update MEUL....\r\n" + kC1, 0xC1,
         {kStart, Alloc(3), Page(0x1000), Page(0x1000), Page(0x800), "sub=0x0a fault=2", kFree, kEnd}},
        {"start answer lost: ended at clean-up", {"zokt_faults=0x55/4:lost"}, kStartLost + kA1, 0xA1, {kStart, kEnd}},
        {"update claimed but not carried out: found by the read back", {"zokt_faults=0x55/0x0a#5:status=0"},
         Progress(kMeFileSize) + " - Update MEUL....\r\n45 - Error: Problem verifying flash.\n", 0x45,
         {kStart, Alloc(3), Page(0x1000), Page(0x1000), Page(0x800), "sub=0x0a fault=status=0", kRead, kRead, kRead,
          kRead, kRead, kFree, kEnd}},
        {"read back refused: the update's answer stands", {"zokt_faults=0x55/8:2"},
         Progress(kMeFileSize) + " - Update MEUL....\r\n - The ME area cannot be read back: the firmware's answer is "
                                 "taken for it.\n - Update success for MEUL.\n" + kPowerOff,
         0,
         {kStart, Alloc(3), Page(0x1000), Page(0x1000), Page(0x800), kUpdate, "sub=0x08 fault=2", "sub=0x08 fault=2",
          "sub=0x08 fault=2", "sub=0x08 fault=2", "sub=0x08 fault=2", kFree, kEnd},
         true},
        {"free never answered: the update stands, a line says the data may be held",
         {"zokt_faults=0x55/0x0a#6+:none"},
         Progress(kMeFileSize) + kUpdated +
             " - The firmware may still hold the pushed ME data: freeing it went unanswered.\n" + kPowerOff,
         0,
         {kStart, Alloc(3), Page(0x1000), Page(0x1000), Page(0x800), kUpdate, kRead, kRead, kRead,
          "sub=0x0a fault=none", "sub=0x0a fault=none", "sub=0x0a fault=none", kEnd},
         true},
        {"free refused: the update stands, a line says the data may be held", {"zokt_faults=0x55/0x0a#6+:0"},
         Progress(kMeFileSize) + kUpdated +
             " - The firmware may still hold the pushed ME data: freeing it was refused.\n" + kPowerOff,
         0, {kStart, Alloc(3), Page(0x1000), Page(0x1000), Page(0x800), kUpdate, kRead, kRead, kRead, "sub=0x0a fault=0", kEnd},
         true},
        {"page answer lost", {"zokt_faults=0x55/0x0a#3:lost"},
         Progress(kMeFileSize, 2) + "\n - The firmware did not answer a page of the ME data.\n" +
             "c0 - Error: BIOS doesn't support process ME information.\n",
         0xC0, {kStart, Alloc(3), Page(0x1000), Page(0x1000), kFree, kEnd}},
        {"end refused", {"me_fail_sub=5"},
         Progress(kMeFileSize) + kUpdated +
             " - The ME area was written, but the firmware refused the end of the ME update.\n"
             "a1 - Error: BIOS does not support ME Entire Firmware update.\n",
         0xA1,
         {kStart, Alloc(3), Page(0x1000), Page(0x1000), Page(0x800), kUpdate, kRead, kRead, kRead, kFree,
          "sub=0x05 done=0"},
         true},
    };
    std::vector<Refusal> all = rows;
    for (const Refusal& gate : GateRows("")) all.push_back(gate);
    for (const Refusal& row : all) {
        e2e::Machine m = Machine(row.sets);
        // A firmware that refuses every end keeps its update open, one that
        // never answers the free its push.
        bool endRefused = !row.session.empty() && row.session.back() == "sub=0x05 done=0";
        bool freeNotDone = std::find(row.session.begin(), row.session.end(), "sub=0x0a fault=none") != row.session.end() ||
                              std::find(row.session.begin(), row.session.end(), "sub=0x0a fault=0") != row.session.end();
        e2e::ExpectLeft refusedEnd((endRefused ? e2e::kMeUpdateOpen : 0) | (freeNotDone ? e2e::kMePushHeld : 0));
        e2e::RunResult r = Run(m, {"/MEUL:me.bin"});
        EXPECT_EQ(r.out, e2e::PlainBanner() + row.tail) << row.what;
        EXPECT_EQ(r.status, row.status) << row.what;
        EXPECT_EQ(MeSession(m), row.session) << row.what;
        EXPECT_EQ(Flash(m) == System(), !row.written) << row.what;
    }
}

TEST_P(Meul, FileFaultsComeBeforeAnyMeRequest) {
    const std::vector<std::string> registration = {"sub=0x0b", "sub=0x09"};
    struct Row {
        std::string word;
        std::string line;
        int status;
    };
    for (const Row& row : std::vector<Row>{
             {"/MEUL:missing.bin", "30 - Error: Problem opening file for reading.\n", 0x30},
             {"/MEUL:empty.bin", "a0 - Error: Can not analyze the ME Data. ROM file may be corrupted.\n", 0xA0},
             {"/MEUL:.", "30 - Error: Problem opening file for reading.\n", 0x30},
         }) {
        e2e::Machine fresh = Machine();
        e2e::WriteFile(fresh.File("empty.bin"), "");
        e2e::RunResult r = Run(fresh, {row.word});
        EXPECT_EQ(r.out, e2e::PlainBanner() + row.line) << row.word;
        EXPECT_EQ(r.status, row.status) << row.word;
        EXPECT_EQ(MeSubs(fresh), registration) << row.word;
        EXPECT_TRUE(Flash(fresh) == System()) << row.word;
    }
}

// The word stands alone: beside it only run-control words and one restart
// or power-off, which follows the update. A bare "/MEUL:" and a name that
// would not fit are refused; the name is not cut.
TEST_P(Meul, CommandLine) {
    e2e::Machine quiet = Machine();
    e2e::RunResult r = Run(quiet, {"/MEUL:me.bin", "/Q", "/SHUTDOWN"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(Flash(quiet).substr(kMeulAddr, kMeFileSize) == Str(meFile));
    EXPECT_EQ(e2e::TraceLines(quiet).back(), "shell \"shutdown -h now\"");
    e2e::Machine m = Machine();
    r = Run(m, {"rom.bin", "/MEUL:"});
    EXPECT_EQ(r.out, e2e::UnknownWordListing(Width(), "/MEUL:"));
    EXPECT_EQ(r.status, 1);
    // Word 1 is taken along only when it names a file.
    for (const char* first : {"/XY", "typo.rom"}) {
        e2e::Machine fresh = Machine();
        r = Run(fresh, {first, "/MEUL:me.bin"});
        EXPECT_EQ(r.out, e2e::UnknownWordListing(Width(), first)) << first;
        EXPECT_EQ(r.status, 1) << first;
        EXPECT_EQ(MeSubs(fresh).size(), 2u) << first << ": the registration's only";
        EXPECT_TRUE(Flash(fresh) == System()) << first;
    }

    const std::string longName(256, 'm');
    e2e::Machine named = Machine();
    e2e::WriteFile(named.File(longName.substr(0, 255)), Str(meFile));
    r = Run(named, {"/MEUL:" + longName});
    EXPECT_EQ(r.out, e2e::UsageListing(Width()) + "1 - Error: Unknown command.\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(MeSubs(named).size(), 2u) << "the registration's only";
    r = Run(named, {"/MEUL:" + longName.substr(0, 255)});
    EXPECT_EQ(r.status, 0) << "255 characters fit";
    EXPECT_TRUE(Flash(named).substr(kMeulAddr, kMeFileSize) == Str(meFile));
}

TEST_P(Meul, HelpLines) {
    e2e::Machine m = Machine();
    e2e::RunResult r = Run(m, {"/?"});
    EXPECT_EQ(r.out, e2e::UsageListing(Width()));
    EXPECT_NE(e2e::WithoutPagerPauses(r.out)
                  .find("|       /DPC - Don't Check Orvex 4 and Orvex 5 platform.                    |\n"
                        "|     /MEUL: - Program ME Entire Firmware Block, which supports             |\n"
                        "|              Production.BIN and PreProduction.BIN files.                  |\n"),
              std::string::npos);
}

// "/MEUL" without "/CAPSULE" names nothing to update: refused as the command
// line is read, before any firmware request but the registration's.
TEST_P(Meul, BiosAndMeWordAloneIsRefused) {
    const std::string note = " - \"/MEUL\" needs \"/CAPSULE\", or an ME file after the colon (\"/MEUL:<file>\").\n";
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"rom.bin", "/MEUL"}, std::vector<std::string>{"/MEUL"}}) {
        e2e::Machine m = Machine();
        e2e::RunResult r = Run(m, args);
        std::string want = e2e::UsageListing(Width()) + "8 - Error: Invalid option\n";
        EXPECT_EQ(r.out, want.insert(e2e::PlainBanner().size(), note)) << args.size();
        EXPECT_EQ(r.status, 8) << args.size();
        EXPECT_EQ(MeSubs(m), (std::vector<std::string>{"sub=0x0b", "sub=0x09"})) << args.size();
        EXPECT_EQ(Count(m, "cmd=0x25"), 0u) << args.size() << ": no ROM information asked";
        ExpectNoBlockRequest(m, args[0]);
        EXPECT_TRUE(Flash(m) == System()) << args.size();
    }
}

// ---- Capsule forms ----

class MeulCapsule : public Meul {
protected:
    e2e::Machine SecureMachine(const std::vector<std::string>& sets = {}) {
        std::vector<std::string> all = {"secure_flash=1", "sf_policy1=0x02"};
        all.insert(all.end(), sets.begin(), sets.end());
        return Machine(all);
    }
    static std::vector<std::string> Sessions(const e2e::Machine& m) {
        std::vector<std::string> out;
        for (const std::string& l : e2e::TraceLines(m)) {
            size_t at = l.find(" sub=0x08 op=");
            if (at != std::string::npos) out.push_back(l.substr(at + 1, l.find(" status=", at) - at - 1));
        }
        return out;
    }
    static std::string CapsuleRecord(const e2e::Machine& m) { return e2e::ReadFile(m.File("state/me_capsule")); }
    // A TERM at the SMI of command 0x26 that is the session request of a run
    // of `args` (`before`: at the one before it).
    std::string TermAtSession(const std::vector<std::string>& args, bool before) {
        e2e::ExpectLeft handedOver(e2e::kMeUpdateOpen | e2e::kMePushHeld);
        e2e::Machine probe = SecureMachine();
        Run(probe, args, "n");
        const int n = e2e::Smi26UpTo(probe, " sub=0x08 op=");
        return "signal_smi=0x26#" + std::to_string(before ? n - 1 : n) + ":TERM";
    }
};

TEST_P(MeulCapsule, MeFileGoesAsAnMeOnlyCapsule) {
    // The firmware applies a capsule after the program: its update stays
    // open and its push held.
    e2e::ExpectLeft handedOver(e2e::kMeUpdateOpen | e2e::kMePushHeld);
    e2e::Machine m = SecureMachine();
    e2e::RunResult r = Run(m, {"/MEUL:me.bin", "/CAPSULE"}, "y");
    EXPECT_EQ(r.out, e2e::PlainBanner() + Progress(kMeFileSize) + e2e::FlashRead() + kShutDownQuestion + "y\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(MeSession(m), (std::vector<std::string>{kStart, Capsule(3, kMeFileSize), Page(0x1000), Page(0x1000),
                                                      Page(0x800)}))
        << "no update, no release, no end: the firmware applies the capsule later";
    EXPECT_EQ(Sessions(m), std::vector<std::string>{"sub=0x08 op=0x02 areas=0x00000002 name=\"\" size=0x00002800"});
    EXPECT_EQ(CapsuleRecord(m), "only-me 0x2800");
    EXPECT_TRUE(e2e::ReadFile(m.File("state/me_push.bin")) == Str(meFile));
    EXPECT_EQ(e2e::TraceOfKind(m, "shell"), std::vector<std::string>{"shell \"shutdown -h now\""});
    EXPECT_TRUE(Flash(m) == System());
    EXPECT_EQ(Count(m, "cmd=0x22") + Count(m, "cmd=0x23"), 0u);

    // A signal once the session is accepted: the capsule stays armed, the
    // power-off is not done.
    e2e::Machine stopped = SecureMachine({TermAtSession({"/MEUL:me.bin", "/CAPSULE"}, false)});
    r = Run(stopped, {"/MEUL:me.bin", "/CAPSULE"}, "y");
    EXPECT_EQ(r.out, e2e::PlainBanner() + Progress(kMeFileSize) + e2e::FlashRead() +
                         " - The capsule stays armed: the next restart applies the BIOS update; the signal stopped "
                         "only what remained (the power-off).\nc - Error: BIOS update cancelled by user.\n");
    EXPECT_EQ(r.status, 0x0C);
    EXPECT_EQ(MeSession(stopped), MeSession(m)) << "neither freed nor ended";
    EXPECT_EQ(CapsuleRecord(stopped), "only-me 0x2800");
    EXPECT_TRUE(e2e::TraceOfKind(stopped, "shell").empty());

    // "/CAPSULE" first works the same; the plain "/MEUL:" module stays off.
    e2e::Machine before = SecureMachine();
    r = Run(before, {"/CAPSULE", "/MEUL:me.bin"}, "n");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(CapsuleRecord(before), "only-me 0x2800");
    EXPECT_EQ(Count(before, "req=0x20"), 0u);
}

TEST_P(MeulCapsule, ImageMePartGoesAsABiosAndMeCapsule) {
    // The firmware applies a capsule after the program: its update stays
    // open and its push held.
    e2e::ExpectLeft handedOver(e2e::kMeUpdateOpen | e2e::kMePushHeld);
    romimg::Rom image = u.image;
    romimg::VolumeSpec meVolume;
    meVolume.files = {romimg::MeFile(0x1800)};
    const romimg::VolumeAt& me = image.AppendVolume(meVolume);
    const std::string mePart = Str(image.bytes).substr(me.offset, me.length);
    e2e::Machine m = SecureMachine();
    romimg::WriteBytes(m.File("me.rom"), image.bytes);
    e2e::RunResult r = Run(m, {"me.rom", "/MEUL", "/CAPSULE"}, "y");
    EXPECT_EQ(r.out, e2e::PlainBanner() + e2e::FlashRead() + Progress(me.length) + kShutDownQuestion + "y\n");
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::string> want = {kStart, Capsule(5, me.length)};
    for (uint32_t at = 0; at < me.length; at += 0x1000) want.push_back(Page(me.length - at < 0x1000 ? me.length - at : 0x1000));
    EXPECT_EQ(MeSession(m), want);
    char session[96], record[32];
    snprintf(session, sizeof(session), "sub=0x08 op=0x02 areas=0x00000002 name=\"\" size=0x%08x", me.length);
    snprintf(record, sizeof(record), "bios-me 0x%x", me.length);
    EXPECT_EQ(Sessions(m), std::vector<std::string>{session});
    EXPECT_EQ(CapsuleRecord(m), record);
    EXPECT_TRUE(e2e::ReadFile(m.File("state/me_push.bin")) == mePart) << "the image's ME part is pushed";
    EXPECT_TRUE(Flash(m) == System());
    EXPECT_EQ(Count(m, "cmd=0x22") + Count(m, "cmd=0x23"), 0u);

    // Without an ME volume the ME part is the whole image, BIOS and ME
    // together, and goes whole.
    e2e::Machine whole = SecureMachine();
    const uint32_t size = static_cast<uint32_t>(u.image.bytes.size());
    r = Run(whole, {"rom.bin", "/MEUL", "/CAPSULE"}, "y");
    EXPECT_EQ(r.out, e2e::PlainBanner() + e2e::FlashRead() + Progress(size) + kShutDownQuestion + "y\n");
    EXPECT_EQ(r.status, 0) << r.err;
    snprintf(record, sizeof(record), "bios-me 0x%x", size);
    EXPECT_EQ(CapsuleRecord(whole), record);
    EXPECT_TRUE(e2e::ReadFile(whole.File("state/me_push.bin")) == Str(u.image.bytes));
    EXPECT_TRUE(Flash(whole) == System());
}

// A refusal ends the update (freeing a session that was opened) before the
// "/CAPSULE" module sends anything or asks; without secure flash the
// "/CAPSULE" module ends the run.
TEST_P(MeulCapsule, RefusalsSendNoSession) {
    const std::vector<std::string> biosAndMe = {"rom.bin", "/MEUL", "/CAPSULE"};
    const std::string kPolicy = "17 - Error: Unsupported Secure Flash policy.\n";
    std::vector<Refusal> rows = {
        {"capsule request refused", {"me_region_fail=0x03"}, kC1, 0xC1,
         {kStart, Capsule(3, kMeFileSize, 1), kEnd}},
        {"page refused", {"me_region_fail=0x02"}, Progress(kMeFileSize, 1) + "\n" + kC1, 0xC1,
         {kStart, Capsule(3, kMeFileSize), Page(0x1000, 1), kFree, kEnd}},
        {"start refused", {"me_fail_sub=4"}, "a1 - Error: BIOS does not support ME Entire Firmware update.\n", 0xA1,
         {"sub=0x04 done=0"}},
        {"start answer lost: ended at clean-up", {"zokt_faults=0x55/4:lost"}, kStartLost + kA1, 0xA1, {kStart, kEnd}},
        {"BIOS and ME: start answer lost", {"zokt_faults=0x55/4:lost"}, e2e::FlashRead() + kStartLost + kA1, 0xA1,
         {kStart, kEnd}, false, biosAndMe},
        {"capsule request answer lost: freed", {"zokt_faults=0x55/0x0a#1:lost"},
         "c0 - Error: BIOS doesn't support process ME information.\n", 0xC0,
         {kStart, Capsule(3, kMeFileSize), kFree, kEnd}},
        // Nothing is pushed for a capsule the firmware does not take.
        {"capsule bit missing", {"sf_policy0=0x05", "sf_policy1=0x05"}, kPolicy, 0x17, {}},
        {"BIOS and ME: capsule bit missing", {"sf_policy0=0x05", "sf_policy1=0x05"}, e2e::FlashRead() + kPolicy, 0x17,
         {}, false, biosAndMe},
        {"BIOS and ME: no secure flash", {"secure_flash=0"}, e2e::FlashRead() + kNoSecureFlash, 0x15, {}, false,
         biosAndMe},
        {"no secure flash", {"secure_flash=0"}, kNoSecureFlash, 0x15, {}},
        // A signal before the session: the push freed, the update ended.
        {"a signal before the session", {TermAtSession({"/MEUL:me.bin", "/CAPSULE"}, true)},
         Progress(kMeFileSize) + e2e::FlashRead() + "c - Error: BIOS update cancelled by user.\n", 0x0C,
         {kStart, Capsule(3, kMeFileSize), Page(0x1000), Page(0x1000), Page(0x800), kFree, kEnd}},
    };
    for (const Refusal& gate : GateRows("*")) rows.push_back(gate);
    for (const Refusal& row : rows) {
        e2e::Machine m = SecureMachine(row.sets);
        e2e::RunResult r = Run(m, row.args.empty() ? std::vector<std::string>{"/MEUL:me.bin", "/CAPSULE"} : row.args, "y");
        EXPECT_EQ(r.out, e2e::PlainBanner() + row.tail) << row.what;
        EXPECT_EQ(r.status, row.status) << row.what;
        EXPECT_EQ(MeSession(m), row.session) << row.what;
        EXPECT_TRUE(Sessions(m).empty()) << row.what;
        EXPECT_EQ(CapsuleRecord(m), "") << row.what;
        EXPECT_TRUE(e2e::TraceOfKind(m, "shell").empty()) << row.what;
        EXPECT_TRUE(Flash(m) == System()) << row.what;
        EXPECT_EQ(e2e::ReadFile(m.File("state/me_update")), "") << row.what << ": no update left open";
    }

    e2e::Machine missing = SecureMachine();
    e2e::RunResult r = Run(missing, {"/MEUL:missing.bin", "/CAPSULE"}, "y");
    EXPECT_EQ(r.out, e2e::PlainBanner() + "30 - Error: Problem opening file for reading.\n");
    EXPECT_EQ(r.status, 0x30);
    EXPECT_EQ(MeSubs(missing), (std::vector<std::string>{"sub=0x0b", "sub=0x09"}));

    // A free that goes unanswered is sent again.
    e2e::Machine unanswered = SecureMachine({"zokt_faults=0x55/0x0a#1:lost;0x55/0x0a#2:none"});
    r = Run(unanswered, {"/MEUL:me.bin", "/CAPSULE"}, "y");
    EXPECT_EQ(r.status, 0xC0);
    EXPECT_EQ(Count(unanswered, "answer=none fault=none"), 1u);
    EXPECT_EQ(Count(unanswered, "req=0x10"), 1u);
    EXPECT_EQ(CapsuleRecord(unanswered), "") << "no capsule stays armed";
}

// A failure after the push (the "/CAPSULE" module's session refused) frees
// the ME session and ends the update: no capsule stays armed for a run that
// failed.
TEST_P(MeulCapsule, AFailureAfterThePushEndsTheUpdate) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"/MEUL:me.bin", "/CAPSULE"},
                                                 std::vector<std::string>{"rom.bin", "/MEUL", "/CAPSULE"}}) {
        e2e::Machine m = SecureMachine({"sf_session_status=1"});
        e2e::RunResult r = Run(m, args, "y");
        EXPECT_EQ(r.status, 0x18) << args[0] << r.out;
        std::vector<std::string> session = MeSession(m);
        ASSERT_GE(session.size(), 4u) << args[0];
        EXPECT_EQ(session.front(), kStart) << args[0];
        EXPECT_EQ(std::vector<std::string>(session.end() - 2, session.end()), (std::vector<std::string>{kFree, kEnd}))
            << args[0] << ": the pushed session freed, the update ended";
        EXPECT_EQ(e2e::ReadFile(m.File("state/me_update")), "") << args[0] << ": no update left open";
        EXPECT_EQ(CapsuleRecord(m), "") << args[0];
        EXPECT_TRUE(e2e::TraceOfKind(m, "shell").empty()) << args[0];
        EXPECT_TRUE(Flash(m) == System()) << args[0];
    }
}

// In recovery mode none of the three acts: no ME request after the
// registration's, nothing added to the session, which is then refused before
// it is sent: nothing was described.
TEST_P(MeulCapsule, RecoveryModeLeavesTheMeAlone) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"/MEUL:me.bin", "/CAPSULE", "/RECOVERY"},
          std::vector<std::string>{"rom.bin", "/MEUL", "/CAPSULE", "/RECOVERY"}}) {
        const std::string what = args[0];
        e2e::Machine m = SecureMachine();
        e2e::RunResult r = Run(m, args, "n");
        EXPECT_EQ(r.out, e2e::PlainBanner() + e2e::FlashRead() + kNothingToUpdate + "8 - Error: Invalid option\n")
            << what;
        EXPECT_EQ(r.status, 8) << what;
        EXPECT_TRUE(MeSession(m).empty()) << what;
        EXPECT_TRUE(Sessions(m).empty()) << what;
        EXPECT_EQ(CapsuleRecord(m), "") << what;
        EXPECT_TRUE(Flash(m) == System()) << what;
    }
}

YOZ_E2E_BOTH_WIDTHS(Meul);
YOZ_E2E_BOTH_WIDTHS(MeulCapsule);

}  // namespace
