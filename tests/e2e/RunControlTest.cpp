// Run-control options end to end: the whole-word options alone on the
// command line, the manufacturing option words (retry count, ROM-ID length,
// password file, default answers) and quiet mode.
#include <csignal>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include "E2eHarness.h"
#include "SampleUpdate.h"
#include "UafBuilder.h"
#include "UsageListing.h"

using namespace e2e;

namespace {

const char kMfgTable[] = "mfg_table=9|/retry:|Retry;14|/icc:|Count;1|/pw:|Password;8|/defans|Answers";

class RunControl : public E2eWidth {
protected:
    Machine Plain() { return MakeMachine(Filled(0x40000, 0xFF), "4x64K:main"); }
    Machine Mfg(const char* table = kMfgTable) {
        return MakeMachine(Filled(0x40000, 0xFF), "4x64K:main", {"mfg=1", table});
    }
    std::string UsageWith(const std::string& line) { return UsageListing(Width()) + line; }
};

TEST_P(RunControl, WholeWordOptionsAloneAreACommandLineError) {
    Machine m = Plain();
    for (const char* word : {"/Q", "/q", "/X", "/x", "/caf", "/CAF", "/jbc", "/dpc"}) {
        RunResult r = RunProgram(Width(), m, {word});
        EXPECT_EQ(r.status, 1) << word;
        EXPECT_EQ(r.out, UsageWith("1 - Error: Unknown command.\n")) << word;
    }
}

TEST_P(RunControl, RetryCountIsCutToOneByteAndMustBePositive) {
    Machine m = Mfg();
    for (const char* word : {"/retry:0", "/retry:256", "/retry:200", "/retry:-1", "/retry:x",
                             "/retry:99999999999999999999999"}) {
        RunResult r = RunProgram(Width(), m, {"/Q", word});
        EXPECT_EQ(r.status, 0x96) << word;
        EXPECT_EQ(r.out, UsageWith("96 - Error: Invalid retry count.\n")) << word;
    }
    for (const char* word : {"/retry:1", "/RETRY:257", "/retry:300", "/retry:127"}) {
        RunResult r = RunProgram(Width(), m, {"/Q", word});
        EXPECT_EQ(r.status, 0) << word;
        EXPECT_EQ(r.out, PlainBanner()) << word;
    }
    // Alone it is a command-line error like the whole-word options.
    RunResult r = RunProgram(Width(), m, {"/retry:3"});
    EXPECT_EQ(r.status, 1);
}

TEST_P(RunControl, RetryExistsOnlyWithASevenCharacterFirmwareWord) {
    for (const char* table : {"mfg_table=9|/try:|Retry", "mfg_table=1|/pw:|Password"}) {
        Machine m = Mfg(table);
        RunResult r = RunProgram(Width(), m, {"/Q", "/retry:3"});
        EXPECT_EQ(r.status, 1) << table;
        EXPECT_EQ(r.out, UnknownWordListing(Width(), "/retry:3")) << table;
    }
    // Outside manufacturing mode the word is unknown as well.
    Machine plain = Plain();
    EXPECT_EQ(RunProgram(Width(), plain, {"/Q", "/retry:3"}).status, 1);
}

TEST_P(RunControl, RomIdLengthAcceptsZeroToEight) {
    Machine m = Mfg();
    for (const char* word : {"/icc:9", "/icc:-1", "/ICC:4294967304"}) {
        RunResult r = RunProgram(Width(), m, {"rom.bin", word});
        EXPECT_EQ(r.status, 0x97) << word;
        EXPECT_EQ(r.out, UsageWith("97 - Error: Invalid defined ROM ID length.\n")) << word;
    }
}

TEST_P(RunControl, PasswordFileIsReadWhateverItsName) {
    Machine m = Mfg();
    std::string file = m.File("pw.txt");
    WriteFile(file, "secret");
    ASSERT_EQ(file[0], '/');
    RunResult r = RunProgram(Width(), m, {"/pw:" + file, "/Q"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, PlainBanner() + "Read Password File......OK.\n");
    size_t asked = 0;
    for (const std::string& line : TraceOfKind(m, "smi")) asked += line.find("zokt=0x52 ver=0x0210 fn=0x01") != std::string::npos;
    EXPECT_GE(asked, 1u);

    RunResult f = RunProgram(Width(), m, {"/PW:" + m.File("missing.txt")});
    EXPECT_EQ(f.status, 0x30);
    EXPECT_EQ(f.out, PlainBanner() + "Read Password File......Fail.\n30 - Error: Problem opening file for reading.\n");
}

TEST_P(RunControl, WordOneThatNamesNoFileIsUnknownBesideOptionsThatNeedNone) {
    // Beside these options word 1 is the ROM file only when it names one, as
    // beside "/X": a mistyped name must not pass for a run that did its work.
    Machine m = Mfg();
    WriteFile(m.File("pw.txt"), "secret");
    for (const std::string& option : {std::string("/S"), "/pw:" + m.File("pw.txt"), std::string("/icc:4"),
                                      std::string("/OEMCMD:5"), std::string("/X")}) {
        RunResult r = RunProgram(Width(), m, {"x", option});
        EXPECT_EQ(r.status, 1) << option;
        EXPECT_EQ(r.out, UnknownWordListing(Width(), "x")) << option;
    }
    auto oemRequests = [&] {
        size_t n = 0;
        for (const std::string& line : TraceOfKind(m, "smi")) n += line.find("zokt=0x57") != std::string::npos;
        return n;
    };
    EXPECT_EQ(oemRequests(), 0u) << "no OEM command of a refused command line reaches the firmware";
    // The option in word 1 is no file name and no unknown word.
    RunResult first = RunProgram(Width(), m, {"/OEMCMD:5", "/Q"});
    EXPECT_EQ(first.status, 0) << first.out;
    EXPECT_GT(oemRequests(), 0u);
}

TEST_P(RunControl, EmptyWordSwitchesNoOptionOn) {
    // Without manufacturing words, an empty word is an unknown word, never
    // the default-answers or delete-trailer option.
    Machine m = Plain();
    RunResult r = RunProgram(Width(), m, {"", "/Q"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, UnknownWordListing(Width(), ""));
}

TEST_P(RunControl, RetryCountSetsTheTriesOfAPersistentEraseFault) {
    romimg::SampleUpdate u = romimg::MakeSampleUpdate();
    auto erases = [&](const char* retry) {
        Machine m = MakeMachine(std::string(u.system.bytes.begin(), u.system.bytes.end()),
                                romimg::BlockSpec(romimg::SampleBlocks()),
                                {"mfg=1", kMfgTable, "flash_faults=erase@0x40000:1"});
        romimg::WriteBytes(m.File("new.rom"), u.image.bytes);
        std::vector<std::string> args = {"new.rom", "/Q"};
        if (retry != nullptr) args.push_back(retry);
        RunResult r = RunProgram(Width(), m, args);
        EXPECT_EQ(r.status, 0x43) << r.out;
        size_t n = 0;
        for (const std::string& l : TraceOfKind(m, "smi"))
            n += l.find("cmd=0x22") != std::string::npos && l.find("addr=0x00040000") != std::string::npos;
        return n;
    };
    // Each try is followed by a repair request, which erases again.
    EXPECT_EQ(erases(nullptr), 2 * 5u);
    EXPECT_EQ(erases("/retry:2"), 2 * 2u);
}

TEST_P(RunControl, TrailerEnableTableRemovesQuiet) {
    std::string exe = TempDir("dis") + "/copy";
    std::string table = uaf::DisTable({uaf::DisEntry("q", 0, 1)}, 1);
    ASSERT_TRUE(uaf::WriteProgramCopy(ProgramPath(Width()), exe, uaf::Container({uaf::Record("@DIS", table)})));
    Machine m = Plain();
    RunResult r = RunExecutable(Width(), exe, m, {"/Q", "/X"});
    EXPECT_EQ(r.status, 1);
    // The word is unknown and its help line is gone.
    const char quietHelp[] = "|         /Q - Silent execution                                             |\n";
    std::string expected = WithoutPagerPauses(UnknownWordListing(Width(), "/Q"));
    expected.erase(expected.find(quietHelp), strlen(quietHelp));
    EXPECT_EQ(WithoutPagerPauses(r.out), expected);
}

YOZ_E2E_BOTH_WIDTHS(RunControl);

}  // namespace

namespace {

class SaveRom : public E2eWidth {
protected:
    // Two 64 KiB blocks with different contents, so the block order shows.
    std::string Flash() {
        std::string f = Filled(0x20000, 0x5A);
        for (size_t i = 0; i < 0x10000; ++i) f[i] = static_cast<char>(i * 7);
        return f;
    }
    std::string Progress() {
        // One line per chunk read and one at the end of each block.
        return " Reading flash ............... 0x00000000 (0%) \r"
               " Reading flash ............... 0x00010000 (50%) \r"
               " Reading flash ............... 0x00010000 (50%) \r"
               " Reading flash ............... done                \n";
    }
};

TEST_P(SaveRom, NewFileEqualsTheFlashWhateverFormTheRomInformationTakes) {
    for (const char* form : {"short", "head16", "large"}) {
        Machine m = MakeMachine(Flash(), "2x64K:main", {std::string("flash_info_form=") + form});
        std::string out = m.File("saved.bin");
        RunResult r = RunProgram(Width(), m, {out, "/O"});
        EXPECT_EQ(r.status, 0) << form << r.out;
        EXPECT_EQ(r.out, PlainBanner() + " Saving current BIOS into file: " + out + "\n" + Progress()) << form;
        EXPECT_EQ(ReadFile(out), ReadFile(m.File("flash.bin"))) << form;
    }
}

TEST_P(SaveRom, ExistingFileIsReplacedOnlyWhenTheOperatorSaysYes) {
    Machine m = MakeMachine(Flash(), "2x64K:main");
    std::string out = m.File("saved.bin");
    WriteFile(out, "old");
    RunResult no = RunProgram(Width(), m, {out, "/O"}, "n");
    EXPECT_EQ(no.status, 0);
    EXPECT_EQ(ReadFile(out), "old");
    EXPECT_EQ(no.out.find(" Saving current BIOS"), std::string::npos);

    RunResult yes = RunProgram(Width(), m, {out, "/O"}, "y");
    EXPECT_EQ(yes.status, 0);
    EXPECT_EQ(ReadFile(out), ReadFile(m.File("flash.bin")));

    // Default answers say yes aloud.
    WriteFile(out, "old");
    Machine mfg = MakeMachine(Flash(), "2x64K:main", {"mfg=1", "mfg_table=8|/defans|Answers"});
    RunResult defans = RunProgram(Width(), mfg, {out, "/O", "/DEFANS"});
    EXPECT_EQ(defans.status, 0);
    EXPECT_EQ(defans.out, PlainBanner() + " " + out + " already exists.\n Would you like to repalce the exist file(Y) or exit(N)?... Yes\n" +
                              " Saving current BIOS into file: " + out + "\n" + Progress());
    EXPECT_EQ(ReadFile(out), ReadFile(mfg.File("flash.bin")));

    // Quiet mode answers for the operator and prints nothing after the banner.
    WriteFile(out, "old");
    RunResult quiet = RunProgram(Width(), m, {out, "/O", "/Q"});
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.out, PlainBanner());
    EXPECT_EQ(ReadFile(out), ReadFile(m.File("flash.bin")));
}

TEST_P(SaveRom, OptionInPlaceOfTheFileOrInputEndedSavesNothing) {
    Machine m = MakeMachine(Flash(), "2x64K:main");
    // "/o out.bin": the option word would be taken as a file at the root.
    struct stat st;
    ASSERT_NE(stat("/o", &st), 0) << "a file /o exists on this machine";
    RunResult first = RunProgram(Width(), m, {"/o", m.File("out.bin")});
    EXPECT_EQ(first.status, 1);
    EXPECT_EQ(first.out, UsageListing(Width()) + "1 - Error: Unknown command.\n");
    if (stat("/o", &st) == 0) {
        ADD_FAILURE() << "the flash was saved into /o";
        unlink("/o");
    }
    EXPECT_NE(stat(m.File("out.bin").c_str(), &st), 0);

    // End of input is no answer to the replace question: the old file stays
    // and the run fails.
    std::string out = m.File("saved.bin");
    WriteFile(out, "old");
    RunResult ended = RunProgram(Width(), m, {out, "/O"});
    EXPECT_EQ(ended.status, 0x0C);
    EXPECT_EQ(ended.out, PlainBanner() + " " + out +
                             " already exists.\n Would you like to repalce the exist file(Y) or exit(N)?...\n"
                             "c - Error: BIOS update cancelled by user.\n");
    EXPECT_EQ(ReadFile(out), "old");
    for (const std::string& l : TraceOfKind(m, "smi")) EXPECT_EQ(l.find("cmd=0x21"), std::string::npos) << l;
}

TEST_P(SaveRom, SavedFileIsNewAndOwnerOnlyAndNeverALink) {
    Machine m = MakeMachine(Flash(), "2x64K:main");
    ExpectSavedFileRules(m.dir, [&](const std::string& name) { return RunProgram(Width(), m, {name, "/O"}, "y"); });
}

TEST_P(SaveRom, QuietKeepsTheExitStatusOfAFailure) {
    Machine m = MakeMachine(Flash(), "2x64K:main");
    RunResult r = RunProgram(Width(), m, {m.File("nodir/saved.bin"), "/O", "/Q"});
    EXPECT_EQ(r.status, 0x32);
    EXPECT_EQ(r.out, PlainBanner());
    EXPECT_EQ(RunProgram(Width(), m, {"/O"}).status, 1);
}

// The refusal names the stand-alone command and the word beside it, and
// comes before the file or the firmware is touched.
TEST_P(SaveRom, SaveStandsAloneBesideRunControlWordsOnly) {
    auto refusal = [&](const std::string& alone, const std::string& word) {
        return UsageListing(Width()) + "\"" + alone + "\" stands alone: \"" + word +
               "\" cannot be given with it (only options that set how it runs, and one restart or power-off "
               "after it).\n1 - Error: Unknown command.\n";
    };
    Machine m = MakeMachine(Flash(), "2x64K:main", {"mfg=1", "mfg_table=11|/OME|Save ME"});
    const std::string rom = m.File("t.rom"), image = "the new image";
    const struct {
        std::vector<std::string> words;
        const char* alone;
        const char* beside;
    } rows[] = {
        {{rom, "/P", "/Q", "/O"}, "/O", "/P"},
        {{rom, "/O", "/P", "/ME", "/E", "/N"}, "/O", "/P"},
        {{rom, "/O", "/S"}, "/O", "/S"},
        // The ME save stands alone too: neither file is saved, the ME not read.
        {{rom, "/OME", "/O"}, "/OME", "/O"},
        {{rom, "/O", "/OME"}, "/OME", "/O"},
        // So do the verification of an image and the ME update from a file.
        {{rom, "/P", "/D"}, "/D", "/P"},
        {{rom, "/D", "/ME"}, "/D", "/ME"},
        {{rom, "/B", "/MEUL:me.bin"}, "/MEUL:", "/B"},
        {{rom, "/O", "/MEUL:me.bin"}, "/MEUL:", "/O"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.words[1] + " " + row.words[2]);
        WriteFile(rom, image);
        RunResult r = RunProgram(Width(), m, row.words, "y");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, refusal(row.alone, row.beside));
        EXPECT_EQ(ReadFile(rom), image);
        for (const std::string& l : TraceOfKind(m, "smi")) EXPECT_EQ(l.find("cmd=0x21"), std::string::npos) << l;
        for (const std::string& l : TraceLines(m))
            EXPECT_FALSE(l.find("zokt=0x55") != std::string::npos && l.find("sub=0x08") != std::string::npos) << l;
    }
    // Run-control words before and after it in the module order still save,
    // and the restart or power-off asked for follows the save.
    for (const char* power : {"/REBOOT", "/SHUTDOWN"}) {
        Machine p = MakeMachine(Flash(), "2x64K:main");
        const std::string saved = p.File("saved.bin");
        RunResult r = RunProgram(Width(), p, {saved, "/O", "/jbc", power, "/Q"});
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(ReadFile(saved), ReadFile(p.File("flash.bin")));
        std::vector<std::string> trace = TraceLines(p);
        ASSERT_GE(trace.size(), 2u);
        EXPECT_EQ(trace.back(), power[1] == 'R' ? "shell \"shutdown -r now\"" : "shell \"shutdown -h now\"") << power;
        EXPECT_EQ(trace[trace.size() - 2].rfind("smi cmd=0x24 ", 0), 0u) << "the interface closed first";
    }
}

TEST_P(SaveRom, ReadsThatDisagreeNeverReachTheFile) {
    // One corrupted read is outvoted by the next two.
    Machine once = MakeMachine(Flash(), "2x64K:main", {"flash_faults=read@0x10010#1:corrupt"});
    std::string out = once.File("saved.bin");
    RunResult r = RunProgram(Width(), once, {out, "/O"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, PlainBanner() + " Saving current BIOS into file: " + out + "\n" + Progress());
    EXPECT_EQ(ReadFile(out), ReadFile(once.File("flash.bin")));
    // Three reads that all differ: nothing is saved.
    Machine thrice = MakeMachine(Flash(), "2x64K:main",
                                 {"flash_faults=read@0x10010#1:corrupt;read@0x10020#2:corrupt;read@0x10030#3:corrupt"});
    out = thrice.File("saved.bin");
    WriteFile(out, "old");
    r = RunProgram(Width(), thrice, {out, "/O"}, "y");
    EXPECT_EQ(r.status, 0x42);
    EXPECT_NE(r.out.find(" - Three reads of the flash block at 0x00010000 disagree.\n42 - Error: Problem reading flash.\n"),
              std::string::npos) << r.out;
    EXPECT_EQ(ReadFile(out), "old");
}

TEST_P(SaveRom, FailedSaveKeepsTheOldFileAndLeavesNothingBeside) {
    Machine m = MakeMachine(Flash(), "2x64K:main", {"flash_faults=read@0x10000:1"});
    const std::string dir = m.File("out");
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
    const std::string out = dir + "/saved.bin", old = std::string("older\0file\xff", 11);
    WriteFile(out, old);
    RunResult r = RunProgram(Width(), m, {out, "/O"}, "y");
    EXPECT_EQ(r.status, 0x42) << r.out;
    EXPECT_EQ(ReadFile(out), old);
    EXPECT_EQ(DirectoryEntries(dir), std::vector<std::string>{"saved.bin"});

    // A save killed half-way (or cut by a power loss) runs no clean-up: the
    // next save into that directory removes what it left.
    Machine killed = MakeMachine(Flash(), "2x64K:main", {"signal_smi=0x21#2:KILL"});
    const std::string into = killed.File("out");
    ASSERT_EQ(mkdir(into.c_str(), 0755), 0);
    {
        ExpectLeft half(kTempFile);
        EXPECT_EQ(RunProgram(Width(), killed, {into + "/saved.bin", "/O"}).signal, SIGKILL);
    }
    EXPECT_EQ(DirectoryEntries(into).size(), 1u);
    std::string ini = ReadFile(killed.File("machine.ini"));
    WriteFile(killed.File("machine.ini"), ini.replace(ini.find("signal_smi="), 11, "signal_off="));
    r = RunProgram(Width(), killed, {into + "/other.bin", "/O"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(DirectoryEntries(into), std::vector<std::string>{"other.bin"});
}

YOZ_E2E_BOTH_WIDTHS(SaveRom);

}  // namespace
