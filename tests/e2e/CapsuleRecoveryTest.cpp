// Capsule and recovery mode end to end: "/CAPSULE" uploads the signed image
// and offers the power-off, "/RECOVERY" names the recovery file (or copies it
// to the EFI system partition first) and offers the restart; the firmware
// does the update, so the flash stays as it was. Every refusal comes before
// the question and leaves no session or file behind.
#include <gtest/gtest.h>
#include <csignal>
#include <sys/stat.h>
#include <filesystem>
#include <string>
#include <vector>
#include "E2eHarness.h"
#include "FlashLines.h"
#include "SampleMachine.h"
#include "UsageListing.h"

namespace {

using romimg::Bytes;

const char kSecureLine[] = " Secure Flash enabled, recalculate ROM size with signature... Enable.\n";
const char kChecksums[] = " - FFS checksums ......... ok\n";
const char kShutDownQuestion[] = " System is going to shut down, are you ready? (Y/N)...";
const char kRebootQuestion[] = " System is going to reboot, are you ready? (Y/N)...";
const uint32_t kCapSize = 0x100400;

class CapsuleRecovery : public E2eWidth {
protected:
    romimg::SampleUpdate u = romimg::MakeSampleUpdate();
    Bytes cap = romimg::SignedCapsule(u.image.bytes, 0x400);

    e2e::Machine Machine(const std::vector<std::string>& sets) {
        std::vector<std::string> all = {"secure_flash=1"};
        all.insert(all.end(), sets.begin(), sets.end());
        e2e::Machine m = e2e::MakeSampleMachine(u, all);
        romimg::WriteBytes(m.File("rom.cap"), cap);
        return m;
    }
    e2e::RunResult Run(const e2e::Machine& m, const std::vector<std::string>& args, const std::string& keys = "") {
        return e2e::RunProgram(Width(), m, args, keys);
    }
    static std::string Head() { return e2e::PlainBanner() + e2e::FlashRead() + kSecureLine + kChecksums; }
    std::string Flash(const e2e::Machine& m) { return e2e::ReadFile(m.File("flash.bin")); }
    std::string System() const { return std::string(u.system.bytes.begin(), u.system.bytes.end()); }
    std::string Cap() const { return std::string(cap.begin(), cap.end()); }
    // Secure-flash and flash-write fields of the trace, in order.
    static std::vector<std::string> Lines(const e2e::Machine& m, const std::string& needle) {
        std::vector<std::string> out;
        for (const std::string& l : e2e::TraceLines(m))
            if (l.find(needle) != std::string::npos) out.push_back(l);
        return out;
    }
    // Index of the first trace line equal to `line`.
    static size_t Position(const e2e::Machine& m, const std::string& line) {
        std::vector<std::string> trace = e2e::TraceLines(m);
        for (size_t i = 0; i < trace.size(); ++i)
            if (trace[i] == line) return i;
        return trace.size();
    }
    static std::string Session(const char* op, const char* areas, const char* name, uint32_t size, int status = 0) {
        char line[160];
        snprintf(line, sizeof(line), "sub=0x08 op=%s areas=%s name=\"%s\" size=0x%08x status=0x%02x", op, areas, name,
                 size, status);
        return line;
    }
    static void ExpectNoFlashWrite(const e2e::Machine& m) {
        EXPECT_TRUE(Lines(m, "cmd=0x22").empty());
        EXPECT_TRUE(Lines(m, "cmd=0x23").empty());
    }
    // The line after a recovery question answered N: the session stays.
    static std::string Armed(const std::string& name) {
        return " - The recovery stays armed: the next restart recovers the BIOS from " + name + ".\n";
    }
    static bool Ends(const std::string& text, const std::string& tail) {
        return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
    }
    // The SMIs of command 0x26 of a run of `words` up to and including its
    // session request (0 when it sends none).
    int SessionSmi(const std::vector<std::string>& sets, const std::vector<std::string>& words) {
        e2e::Machine probe = Machine(sets);
        Run(probe, words, "n");
        return e2e::Smi26UpTo(probe, " sub=0x08 op=");
    }
    static std::string TermAt(int smi) { return "signal_smi=0x26#" + std::to_string(smi) + ":TERM"; }
};

TEST_P(CapsuleRecovery, CapsuleUploadsTheSignedFileOnceThenAsksToPowerOff) {
    e2e::Machine m = Machine({"sf_policy1=0x02"});
    e2e::RunResult r = Run(m, {"rom.cap", "/P", "/CAPSULE"}, "y");
    EXPECT_EQ(r.out, Head() + e2e::Upload(kCapSize) + kShutDownQuestion + "y\n");
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::string> pieces = Lines(m, "sub=0x02");
    ASSERT_EQ(pieces.size(), 31u);
    EXPECT_NE(pieces.back().find("off=0x000ff000 len=0x00001400 status=0x00"), std::string::npos) << pieces.back();
    // One session, after the upload, of the stripped image's size; then the power-off.
    std::vector<std::string> tail = Lines(m, "sub=0x08");
    ASSERT_EQ(tail.size(), 1u);
    EXPECT_NE(tail[0].find(Session("0x02", "0x00000002", "", 0x100000)), std::string::npos) << tail[0];
    EXPECT_LT(Position(m, pieces.back()), Position(m, tail[0]));
    EXPECT_LT(Position(m, tail[0]), Position(m, "shell \"shutdown -h now\""));
    EXPECT_EQ(e2e::TraceOfKind(m, "shell"), std::vector<std::string>{"shell \"shutdown -h now\""});
    ExpectNoFlashWrite(m);
    EXPECT_TRUE(Flash(m) == System());
    EXPECT_TRUE(e2e::ReadFile(m.File("state/sf_image.bin")) == Cap());

    // No, or no answer at all: the machine stays up and the run succeeds.
    for (const char* keys : {"n", ""}) {
        e2e::Machine no = Machine({"sf_policy1=0x02"});
        e2e::RunResult rn = Run(no, {"rom.cap", "/P", "/CAPSULE"}, keys);
        EXPECT_EQ(rn.out, Head() + e2e::Upload(kCapSize) + kShutDownQuestion + keys + "\n");
        EXPECT_EQ(rn.status, 0);
        EXPECT_EQ(Lines(no, "sub=0x08").size(), 1u);
        EXPECT_TRUE(e2e::TraceOfKind(no, "shell").empty());
    }
    // The ROM file with the mode word alone is the main block, as outside the mode.
    e2e::Machine alone = Machine({"sf_policy1=0x02"});
    e2e::RunResult ra = Run(alone, {"rom.cap", "/CAPSULE"}, "n");
    EXPECT_EQ(ra.out, Head() + e2e::Upload(kCapSize) + kShutDownQuestion + "n\n");
    EXPECT_EQ(ra.status, 0);
    EXPECT_EQ(Lines(alone, "sub=0x08"), Lines(m, "sub=0x08"));
    // Quiet: no question, the power-off at once.
    e2e::Machine quiet = Machine({"sf_policy1=0x02"});
    e2e::RunResult rq = Run(quiet, {"rom.cap", "/P", "/CAPSULE", "/Q"});
    EXPECT_EQ(rq.status, 0);
    EXPECT_EQ(e2e::TraceOfKind(quiet, "shell"), std::vector<std::string>{"shell \"shutdown -h now\""});
}

TEST_P(CapsuleRecovery, CapsuleAreasAddUpAndPowerWordsAddNoCommand) {
    // A power word beside the mode, which powers the machine off itself, is
    // said to have no effect.
    const std::string kNoReboot =
        " - \"/REBOOT\" has no effect: \"/CAPSULE\" ends the run with its own power-off or restart question.\n";
    e2e::Machine m = Machine({});
    e2e::RunResult r = Run(m, {"rom.cap", "/P", "/N", "/CAPSULE", "/REBOOT"}, "y");
    EXPECT_EQ(r.out, e2e::PlainBanner() + kNoReboot + e2e::FlashRead() + kSecureLine + kChecksums +
                         e2e::Upload(kCapSize) + kShutDownQuestion + "y\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Lines(m, "sub=0x02").size(), 31u);
    std::vector<std::string> sessions = Lines(m, "sub=0x08");
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_NE(sessions[0].find(Session("0x02", "0x00000006", "", 0x100000)), std::string::npos) << sessions[0];
    EXPECT_EQ(e2e::TraceOfKind(m, "shell"), std::vector<std::string>{"shell \"shutdown -h now\""});
    ExpectNoFlashWrite(m);

    // The engineering reset has no effect either, also where the operator
    // keeps the machine up; two power words are refused before any request.
    for (const char* keys : {"y", "n"}) {
        e2e::Machine egm = Machine({"mfg=1", "mfg_table=6|/EGM|Engineering set"});
        e2e::RunResult re = Run(egm, {"rom.cap", "/P", "/CAPSULE", "/EGMpreset:6"}, keys);
        EXPECT_EQ(re.status, 0) << re.out;
        bool off = keys[0] == 'y';
        EXPECT_EQ(re.out.find(" - \"/EGMpreset:6\" has no effect: \"/CAPSULE\" ends the run"), e2e::PlainBanner().size())
            << re.out;
        EXPECT_TRUE(Ends(re.out, std::string(kShutDownQuestion) + keys + "\n")) << re.out;
        EXPECT_EQ(e2e::TraceOfKind(egm, "shell"),
                  off ? std::vector<std::string>{"shell \"shutdown -h now\""} : std::vector<std::string>{});
        EXPECT_EQ(Lines(egm, "port out=0xcf9").size(), 0u);
    }
    e2e::Machine two = Machine({"mfg=1", "mfg_table=6|/EGM|Engineering set"});
    e2e::RunResult rt = Run(two, {"rom.cap", "/P", "/CAPSULE", "/EGMs24", "/REBOOT"}, "y");
    EXPECT_EQ(rt.status, 1);
    EXPECT_EQ(rt.out, e2e::UsageListing(Width()) + "\"/EGMs24\" and \"/REBOOT\" cannot be given together: a run ends "
                                                   "with one restart, power-off or reset.\n1 - Error: Unknown command.\n");
    EXPECT_TRUE(Lines(two, "sub=0x02").empty());
    EXPECT_TRUE(Lines(two, "sub=0x08").empty());
    EXPECT_TRUE(e2e::TraceOfKind(two, "shell").empty());

    // A firmware configuration answer that turns capsule mode on makes it
    // capsule mode: the normal main-BIOS modules write nothing, and the
    // operator's power word has no effect beside it either.
    e2e::Machine byFirmware = Machine({"cfg_answer=masks", "cfg_enable=0x800000"});
    e2e::RunResult rf = Run(byFirmware, {"rom.cap", "/P", "/REBOOT"}, "y");
    EXPECT_EQ(rf.out, e2e::PlainBanner() + kNoReboot + e2e::FlashRead() + kSecureLine + kChecksums +
                          e2e::Upload(kCapSize) + kShutDownQuestion + "y\n");
    EXPECT_EQ(rf.status, 0) << rf.err;
    EXPECT_EQ(Lines(byFirmware, "sub=0x08").size(), 1u);
    EXPECT_EQ(e2e::TraceOfKind(byFirmware, "shell"), std::vector<std::string>{"shell \"shutdown -h now\""});
    ExpectNoFlashWrite(byFirmware);
    EXPECT_TRUE(Flash(byFirmware) == System());
}

TEST_P(CapsuleRecovery, RecoveryNamesTheFileOrItsCopyOnThePartition) {
    // The file by its base name, the size as stored; nothing uploaded.
    e2e::Machine m = Machine({"sf_policy1=0x01"});
    mkdir(m.File("dir").c_str(), 0755);
    romimg::WriteBytes(m.File("dir/rom.cap"), cap);
    e2e::RunResult r = Run(m, {"dir/rom.cap", "/P", "/RECOVERY"}, "y");
    EXPECT_EQ(r.out, Head() + kRebootQuestion + "y\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Lines(m, "sub=0x02").empty());
    std::vector<std::string> sessions = Lines(m, "sub=0x08");
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_NE(sessions[0].find(Session("0x01", "0x00000002", "rom.cap", kCapSize)), std::string::npos) << sessions[0];
    EXPECT_EQ(e2e::TraceOfKind(m, "shell"), std::vector<std::string>{"shell \"shutdown -r now\""});
    ExpectNoFlashWrite(m);
    EXPECT_TRUE(Flash(m) == System());
    struct stat st;
    EXPECT_NE(stat(m.Root("/boot/efi/RECOVERY.CAP").c_str(), &st), 0);

    // "esp" in any case: the copy, header and all, then the session that names it.
    for (const char* word : {"/RECOVERY:esp", "/recovery:EsP"}) {
        e2e::Machine c = Machine({"sf_policy1=0x01"});
        e2e::RunResult rc = Run(c, {"rom.cap", "/P", word}, "n");
        EXPECT_EQ(rc.out, Head() + kRebootQuestion + "n\n" + Armed("RECOVERY.CAP")) << word;
        EXPECT_EQ(rc.status, 0) << rc.err;
        EXPECT_TRUE(e2e::ReadFile(c.Root("/boot/efi/RECOVERY.CAP")) == Cap()) << word;
        std::vector<std::string> cs = Lines(c, "sub=0x08");
        ASSERT_EQ(cs.size(), 1u);
        EXPECT_NE(cs[0].find(Session("0x01", "0x00000002", "RECOVERY.CAP", kCapSize)), std::string::npos) << cs[0];
        EXPECT_TRUE(Lines(c, "sub=0x02").empty());
    }

    // The mode word alone names the main block; a name of 16 characters
    // fills the session's field.
    const struct {
        std::vector<std::string> words;
        const char* name;
    } alone[] = {{{"rom.cap", "/RECOVERY"}, "rom.cap"},
                 {{"rom.cap", "/RECOVERY:esp"}, "RECOVERY.CAP"},
                 {{"recovery-16.cap0", "/P", "/RECOVERY"}, "recovery-16.cap0"}};
    for (const auto& row : alone) {
        e2e::Machine a = Machine({"sf_policy1=0x01"});
        romimg::WriteBytes(a.File("recovery-16.cap0"), cap);
        e2e::RunResult rr = Run(a, row.words, "n");
        EXPECT_EQ(rr.out, Head() + kRebootQuestion + "n\n" + Armed(row.name)) << row.name;
        EXPECT_EQ(rr.status, 0) << row.name;
        std::vector<std::string> as = Lines(a, "sub=0x08");
        ASSERT_EQ(as.size(), 1u);
        EXPECT_NE(as[0].find(Session("0x01", "0x00000002", row.name, kCapSize)), std::string::npos) << as[0];
    }

    // Any other value is plain recovery; a bare "/RECOVERY:" is no option.
    e2e::Machine other = Machine({"sf_policy1=0x01"});
    EXPECT_EQ(Run(other, {"rom.cap", "/P", "/RECOVERY:other"}, "n").status, 0);
    std::vector<std::string> os = Lines(other, "sub=0x08");
    ASSERT_EQ(os.size(), 1u);
    EXPECT_NE(os[0].find(Session("0x01", "0x00000002", "rom.cap", kCapSize)), std::string::npos) << os[0];
    e2e::RunResult bare = Run(other, {"rom.cap", "/P", "/RECOVERY:"});
    EXPECT_EQ(bare.out, e2e::UnknownWordListing(Width(), "/RECOVERY:"));
    EXPECT_EQ(bare.status, 1);
}

// Each refusal: its exit status and last line, sessions sent (a refused one
// counts), whether the question came, the flash unchanged, no flash write.
struct Refusal {
    const char* what;
    std::vector<std::string> sets;
    std::vector<std::string> args;
    const char* keys;
    int status;
    const char* lastLine;
    size_t sessions;
    bool asked;
    // The firmware may have taken the session: RECOVERY.CAP is this run's copy.
    bool copyKept = false;
};

TEST_P(CapsuleRecovery, RefusalsLeaveFlashAndPartitionAlone) {
    // A signal before the session cancels the run there: no session, the
    // partition's file as it was.
    const std::vector<std::string> capsule = {"rom.cap", "/P", "/CAPSULE"}, copied = {"rom.cap", "/P", "/RECOVERY:esp"};
    const std::string beforeCapsule = TermAt(SessionSmi({"sf_policy1=0x02"}, capsule) - 1);
    const std::string beforeCopy = TermAt(SessionSmi({"sf_policy1=0x01"}, copied) - 1);
    const std::vector<Refusal> rows = {
        {"no secure flash, /N", {"secure_flash=0"}, {"new.rom", "/N", "/CAPSULE"}, "", 0x15,
         "15 - Error: Secure Flash function is not supported on this platform.", 0, false},
        {"no secure flash, mode word alone", {"secure_flash=0"}, {"new.rom", "/CAPSULE"}, "", 0x15,
         "15 - Error: Secure Flash function is not supported on this platform.", 0, false},
        {"policy without capsule", {"sf_policy1=0x01"}, {"rom.cap", "/P", "/CAPSULE"}, "", 0x17,
         "17 - Error: Unsupported Secure Flash policy.", 0, false},
        {"policy without recovery", {"sf_policy1=0x02"}, {"rom.cap", "/P", "/RECOVERY"}, "", 0x17,
         "17 - Error: Unsupported Secure Flash policy.", 0, false},
        {"refused piece", {"sf_refuse_offset=0x8800"}, {"rom.cap", "/P", "/CAPSULE"}, "", 0x1D,
         "1d - Error: Failed to load image into memory.", 0, false},
        {"refused session", {"sf_session_status=1"}, {"rom.cap", "/P", "/CAPSULE"}, "", 0x18,
         "18 - Error: Secure Flash Rom Verify fail.", 1, false},
        {"no partition", {"esp=none"}, {"rom.cap", "/P", "/RECOVERY:ESP"}, "", 0x36,
         "36 - Error: Fail with problem of ESP Driver init.", 0, false},
        {"partition not mounted", {"esp=unmounted"}, {"rom.cap", "/P", "/RECOVERY:ESP"}, "", 0x36,
         "36 - Error: Fail with problem of ESP Driver init.", 0, false},
        {"copy blocked", {"esp=blocked"}, {"rom.cap", "/P", "/RECOVERY:esp"}, "", 0x37,
         "37 - Error: Fail with problem of copy ROM file to ESP driver.", 0, false},
        {"partition full", {"esp=full"}, {"rom.cap", "/P", "/CAPSULE", "/RECOVERY:esp"}, "", 0x37,
         "37 - Error: Fail with problem of copy ROM file to ESP driver.", 0, false},
        {"name past the session's field", {}, {"recovery-17.cap00", "/B", "/RECOVERY"}, "", 0x08,
         " - Recovery file name longer than 16 characters: recovery-17.cap00\n8 - Error: Invalid option", 0, false},
        {"mode word with no region it carries", {}, {"rom.cap", "/L", "/CAPSULE"}, "", 0x08,
         " - Nothing to update: the command line names nothing for capsule or recovery mode.\n"
         "8 - Error: Invalid option",
         0, false},
        {"image without the signed header", {}, {"new.rom", "/P", "/CAPSULE"}, "", 0x18,
         "18 - Error: Secure Flash Rom Verify fail.", 1, false},
        {"refused recovery session", {"sf_session_status=1"}, {"rom.cap", "/P", "/RECOVERY:esp"}, "", 0x18,
         "18 - Error: Secure Flash Rom Verify fail.", 1, false},
        {"partition full at the last bytes", {"esp=full", "esp_space=0x100200"}, {"rom.cap", "/P", "/RECOVERY:esp"},
         "", 0x37, "37 - Error: Fail with problem of copy ROM file to ESP driver.", 0, false},
        {"unsigned file in recovery mode, copied", {}, {"new.rom", "/P", "/RECOVERY:esp"}, "", 0x1E,
         "1e - Error: Secure Flash function is not supported on this file.", 0, false},
        {"unsigned file in recovery mode, named", {}, {"new.rom", "/B", "/RECOVERY"}, "", 0x1E,
         "1e - Error: Secure Flash function is not supported on this file.", 0, false},
        {"recovery session answer lost", {"zokt_faults=0x70/8:lost"}, {"rom.cap", "/P", "/RECOVERY:esp"}, "", 0x18,
         " - No answer to the secure-flash session: the firmware may have taken it.\n"
         "18 - Error: Secure Flash Rom Verify fail.",
         1, false, true},
        {"capsule session answer lost", {"zokt_faults=0x70/8:lost"}, {"rom.cap", "/P", "/CAPSULE"}, "", 0x18,
         " - No answer to the secure-flash session: the firmware may have taken it.\n"
         "18 - Error: Secure Flash Rom Verify fail.",
         1, false},
        {"power-off not started", {"shutdown_status=1"}, {"rom.cap", "/P", "/CAPSULE"}, "y", 0x90,
         "90 - Error: Error to shutdown.", 1, true},
        {"restart not started", {"shutdown_status=1"}, {"rom.cap", "/P", "/RECOVERY"}, "y", 0x91,
         "91 - Error: Error to restart...", 1, true},
        {"a signal before the capsule session", {"sf_policy1=0x02", beforeCapsule}, capsule, "y", 0x0C,
         "c - Error: BIOS update cancelled by user.", 0, false},
        {"a signal before the recovery session", {"sf_policy1=0x01", beforeCopy}, copied, "y", 0x0C,
         "c - Error: BIOS update cancelled by user.", 0, false},
    };
    for (const Refusal& row : rows) {
        e2e::Machine m = Machine(row.sets);
        romimg::WriteBytes(m.File("recovery-17.cap00"), cap);
        // A recovery file of an earlier update, where the partition has room for one.
        std::string esp = m.Root("/boot/efi"), old = esp + "/RECOVERY.CAP";
        struct stat st;
        bool kept = stat(esp.c_str(), &st) == 0 && stat(old.c_str(), &st) != 0;
        if (kept) e2e::WriteFile(old, "earlier update");
        e2e::RunResult r = Run(m, row.args, row.keys);
        EXPECT_EQ(r.status, row.status) << row.what << "\n" << r.out;
        EXPECT_TRUE(Ends(r.out, std::string(row.lastLine) + "\n")) << row.what << "\n" << r.out;
        EXPECT_EQ(Lines(m, "sub=0x08").size(), row.sessions) << row.what;
        EXPECT_EQ(r.out.find("are you ready") != std::string::npos, row.asked) << row.what;
        if (row.sessions == 0) EXPECT_EQ(e2e::ReadFile(m.File("state/sf_session.bin")), "") << row.what << ": nothing armed";
        if (!row.asked) EXPECT_TRUE(e2e::TraceOfKind(m, "shell").empty()) << row.what;
        ExpectNoFlashWrite(m);
        EXPECT_TRUE(Flash(m) == System()) << row.what;
        if (kept) {
            EXPECT_TRUE(e2e::ReadFile(old) == (row.copyKept ? Cap() : "earlier update")) << row.what;
            auto entries = std::filesystem::directory_iterator(esp);
            EXPECT_EQ(std::distance(begin(entries), end(entries)), 1) << row.what << ": nothing else is left";
        }
        if (row.status == 0x36) {
            EXPECT_EQ(r.out, e2e::UsageListing(Width()) + row.lastLine + "\n") << row.what;
            EXPECT_TRUE(Lines(m, "zokt=0x70").empty()) << row.what;
        }
    }
    // The failed copies leave nothing that could pass for the recovery file.
    e2e::Machine full = Machine({"esp=full"});
    Run(full, {"rom.cap", "/P", "/RECOVERY:esp"});
    struct stat st;
    EXPECT_NE(stat(full.Root("/boot/efi/RECOVERY.CAP").c_str(), &st), 0);
    e2e::Machine blocked = Machine({"esp=blocked"});
    Run(blocked, {"rom.cap", "/P", "/RECOVERY:esp"});
    ASSERT_EQ(stat(blocked.Root("/boot/efi/RECOVERY.CAP").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
}

// Once the firmware has accepted the session the update stands: a signal
// from then on (here at the session's own answer) stops only the power-off
// or restart, which is not asked for; the run says what stays armed before
// its 0x0C, and the recovery copy stays.
TEST_P(CapsuleRecovery, ASignalAfterTheSessionLeavesTheUpdateArmed) {
    const std::string kCancelled = "c - Error: BIOS update cancelled by user.\n";
    const std::string kCapsuleArmed = " - The capsule stays armed: the next restart applies the BIOS update; the signal "
                                      "stopped only what remained (the power-off).\n";
    auto recoveryArmed = [](const std::string& name) {
        return " - The recovery stays armed: the next restart recovers the BIOS from " + name +
               "; the signal stopped only what remained (the restart).\n";
    };
    const struct {
        const char* what;
        std::string policy;
        std::vector<std::string> words;
        const char* keys;
        std::string out;  // after the head, before the cancel line
        bool copied;      // RECOVERY.CAP is this run's copy
    } rows[] = {
        {"capsule", "sf_policy1=0x02", {"rom.cap", "/P", "/CAPSULE"}, "y", e2e::Upload(kCapSize) + kCapsuleArmed, false},
        {"recovery", "sf_policy1=0x01", {"rom.cap", "/P", "/RECOVERY"}, "n", recoveryArmed("rom.cap"), false},
        {"recovery copy", "sf_policy1=0x01", {"rom.cap", "/P", "/RECOVERY:esp"}, "y", recoveryArmed("RECOVERY.CAP"),
         true},
    };
    for (const auto& row : rows) {
        e2e::Machine m = Machine({row.policy, TermAt(SessionSmi({row.policy}, row.words))});
        const std::string esp = m.Root("/boot/efi");
        e2e::WriteFile(esp + "/RECOVERY.CAP", "earlier update");
        e2e::RunResult r = Run(m, row.words, row.keys);
        EXPECT_EQ(r.out, Head() + row.out + kCancelled) << row.what;
        EXPECT_EQ(r.status, 0x0C) << row.what;
        std::vector<std::string> sessions = Lines(m, "sub=0x08");
        ASSERT_EQ(sessions.size(), 1u) << row.what;
        EXPECT_NE(sessions[0].find("status=0x00"), std::string::npos) << sessions[0];
        EXPECT_NE(e2e::ReadFile(m.File("state/sf_session.bin")), "") << row.what << ": the session stays armed";
        EXPECT_TRUE(e2e::TraceOfKind(m, "shell").empty()) << row.what << ": no power-off or restart";
        ExpectNoFlashWrite(m);
        EXPECT_TRUE(Flash(m) == System()) << row.what;
        EXPECT_TRUE(e2e::ReadFile(esp + "/RECOVERY.CAP") == (row.copied ? Cap() : "earlier update")) << row.what;
        EXPECT_EQ(e2e::DirectoryEntries(esp), std::vector<std::string>{"RECOVERY.CAP"}) << row.what;
    }
}

// A death (a kill, a power loss) runs no clean-up. One at the recovery
// session leaves the replaced RECOVERY.CAP aside: the next run names it in
// one line and leaves it as it is, since the firmware may have taken the
// session for the new copy. A copy an earlier run never completed goes.
TEST_P(CapsuleRecovery, WhatADeadRunLeftOnThePartitionIsSweptOrNamed) {
    const std::vector<std::string> words = {"rom.cap", "/P", "/RECOVERY:esp"};
    // The run's SMIs of command 0x26 up to its session request.
    e2e::Machine probe = Machine({"sf_policy1=0x01"});
    ASSERT_EQ(Run(probe, words, "n").status, 0);
    const int session = e2e::Smi26UpTo(probe, " sub=0x08 op=");
    const std::string later = Head() + kRebootQuestion + "n\n" + Armed("RECOVERY.CAP");
    struct Row {
        const char* what;
        std::string kill;    // the earlier run's death, or none
        std::string planted; // a file of the earlier run planted beside RECOVERY.CAP, or none
        bool named;          // the next run names what is aside
    } rows[] = {
        {"killed at the session", "signal_smi=0x26#" + std::to_string(session) + ":KILL", "", true},
        {"a copy never completed", "", ".RECOVERY.CAP.Ab3dE6gH9jK1.incomplete", false},
    };
    for (const Row& row : rows) {
        e2e::ExpectLeft aside(e2e::kFileAside | e2e::kTempFile);
        std::vector<std::string> sets = {"sf_policy1=0x01"};
        if (!row.kill.empty()) sets.push_back(row.kill);
        e2e::Machine m = Machine(sets);
        std::string esp = m.Root("/boot/efi");
        e2e::WriteFile(esp + "/RECOVERY.CAP", "earlier update");
        if (!row.planted.empty()) e2e::WriteFile(esp + "/" + row.planted, "half");
        if (!row.kill.empty()) {
            e2e::RunResult dead = Run(m, words, "n");
            EXPECT_EQ(dead.signal, SIGKILL) << row.what;
            std::string ini = e2e::ReadFile(m.File("machine.ini"));
            e2e::WriteFile(m.File("machine.ini"), ini.replace(ini.find(row.kill), row.kill.size(), ""));
        }
        std::vector<std::string> before = e2e::DirectoryEntries(esp);
        std::string kept;
        for (const std::string& name : before)
            if (name != "RECOVERY.CAP") kept = name;
        ASSERT_FALSE(kept.empty()) << row.what;
        e2e::RunResult next = Run(m, words, "n");
        EXPECT_EQ(next.status, 0) << row.what << next.out;
        const std::string line = " - Kept aside by an earlier run: " + esp + "/" + kept +
                                 " holds the RECOVERY.CAP that run replaced (14 bytes); it is neither restored nor "
                                 "removed.\n";
        EXPECT_EQ(next.out, row.named ? e2e::PlainBanner() + line + later.substr(e2e::PlainBanner().size()) : later)
            << row.what;
        EXPECT_TRUE(e2e::ReadFile(esp + "/RECOVERY.CAP") == Cap()) << row.what;
        EXPECT_EQ(e2e::DirectoryEntries(esp),
                  row.named ? before : std::vector<std::string>{"RECOVERY.CAP"}) << row.what;
        if (row.named) EXPECT_EQ(e2e::ReadFile(esp + "/" + kept), "earlier update") << row.what;
    }
}

YOZ_E2E_BOTH_WIDTHS(CapsuleRecovery);

}  // namespace
