// The kernel driver end to end: "/makedrv" and "/gendrv", the loader with a
// prebuilt, a stale or a freshly built module, its failures, the device's
// requests, and Secure Boot routing port writes through the driver.
#include "E2eHarness.h"
#include "UsageListing.h"
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace e2e;

namespace {

class Driver : public E2eWidth {};

const char kInit[] = " - Program initializing .. \n";
const char kMake[] = " - Make NUV Linux Flash driver .... ";
const char kGen[] = " - Generate NUV Linux Flash driver .... ";
const char kOk[] = "ok\n - Program ended normally.\n";
const char kNoTree[] = "Error: Cannot locate kernel source.\n";
const char kLoadError[] = "10 - Error: Unable to load driver.\n";
const char kPrebuilt[] = "\x7f" "ELF prebuilt module\n";
// A build that made no module says so with what make said last.
const char kNoModule[] = "ERROR : The driver build produced no module. Its last lines:\n";
const std::string kMakeFailed = std::string(kNoModule) + "  make: *** No rule to make target '(make_fails)'.  Stop.\n";

// A build word puts the banner above the build's messages.
std::string Head() { return PlainBanner() + kInit; }

Machine Make(const std::vector<std::string>& sets) { return MakeMachine(Filled(0x40000, 0xFF), "4x64K:main", sets); }

bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> Shell(const Machine& m) {
    std::vector<std::string> out;
    for (const std::string& l : TraceOfKind(m, "shell")) out.push_back(l.substr(6));
    return out;
}

bool Contains(const std::vector<std::string>& lines, const std::string& text) {
    for (const std::string& l : lines) {
        if (l.find(text) != std::string::npos) return true;
    }
    return false;
}

bool StartsWith(const std::string& s, const std::string& head) { return s.compare(0, head.size(), head) == 0; }

unsigned Mode(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// Entries of a directory whose names begin with `prefix`.
std::vector<std::string> Entries(const std::string& dir, const std::string& prefix) {
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return names;
    while (dirent* e = readdir(d)) {
        if (StartsWith(e->d_name, prefix)) names.push_back(e->d_name);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}


TEST_P(Driver, MakedrvBuildsTheModuleAndKeepsItAsThePrebuiltObject) {
    Machine m = Make({"kernel_tree=build", "driver_build=fake", "mem_hole=0"});
    std::string work = TempDir("makedrv");
    RunResult r = RunProgram(Width(), m, {"/MakeDrv"}, "", work);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, Head() + kMake + kOk);
    EXPECT_EQ(ReadFile(work + "/nuvfldrv_mod.o").compare(0, 4, "\x7f" "ELF"), 0);
    EXPECT_EQ(Mode(work + "/nuvfldrv_mod.o"), 0600u) << "saved as every file the program writes";
    EXPECT_EQ(Entries(work, ""), (std::vector<std::string>{".", "..", "nuvfldrv_mod.o"}));
    EXPECT_EQ(Entries(m.Root("/tmp"), "yozdrv"), std::vector<std::string>{}) << "the private directory is gone";
    // The kernel tree goes to make on its command line; nothing else runs.
    EXPECT_EQ(Shell(m), (std::vector<std::string>{"\"make clean > /dev/null\"",
                                                  "\"make KERNEL=/lib/modules/6.1.0-emu-amd64/build/ > /dev/null 2> "
                                                  "../make.err\""}));
    std::vector<std::string> module = TraceOfKind(m, "module");
    ASSERT_EQ(module.size(), 2u);
    EXPECT_TRUE(TraceOfKind(m, "mknod").empty()) << "the run ends before any driver is loaded";

    // A later run loads the object from its descriptor, without building,
    // and unloads it at the end.
    RunResult again = RunProgram(Width(), m, {"/x"}, "", work);
    EXPECT_EQ(again.status, 1);
    EXPECT_EQ(Shell(m).size(), 2u);
    module = TraceOfKind(m, "module");
    ASSERT_EQ(module.size(), 4u);
    EXPECT_EQ(module[2], "module load result=loaded major=0xf3");
    EXPECT_EQ(module[3], "module unload name=\"nuvfldrv_mod\" result=removed");
}

TEST_P(Driver, BuildWordsKeepThePrebuiltObjectAndTheOperatorsTempDirectoryAndFailAloud) {
    // The prebuilt object is the only way to run under Secure Boot: only a
    // new module replaces it, and "/gendrv" never touches it. The build has
    // its own scratch directory; a failed build ends the run with an error.
    const struct {
        std::vector<std::string> sets;
        std::vector<std::string> words;
        int status;
        std::string out;
        bool replaced;
    } cases[] = {
        {{"kernel_tree=build", "driver_build=fake"}, {"/makedrv"}, 0, Head() + kMake + kOk, true},
        {{"kernel_tree=build", "driver_build=fake", "make_fails=1"}, {"/makedrv"}, 0x10,
         Head() + kMake + "fail\n" + kMakeFailed + kLoadError, false},
        {{}, {"/makedrv"}, 0x0E, Head() + kMake + kNoTree + "e - Error: Kernel source files cannot be found.\n", false},
        {{"kernel_tree=build", "driver_build=fake"}, {"/gendrv"}, 0, Head() + kGen + kOk, false},
        {{"kernel_tree=build", "driver_build=fake", "make_fails=1"}, {"/gendrv"}, 0x10,
         Head() + kGen + "fail\n" + kMakeFailed + kLoadError, false},
        {{}, {"/gendrv"}, 0x0E, Head() + kGen + kNoTree + "e - Error: Kernel source files cannot be found.\n", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.words[0] + " " + (c.sets.empty() ? "no tree" : c.sets.back()));
        Machine m = Make(c.sets);
        std::string work = TempDir("keep");
        WriteFile(work + "/nuvfldrv_mod.o", kPrebuilt);
        ASSERT_EQ(mkdir((work + "/.temp").c_str(), 0755), 0);
        WriteFile(work + "/.temp/notes.txt", "mine");
        RunResult r = RunProgram(Width(), m, c.words, "", work);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out, c.out);
        std::string object = ReadFile(work + "/nuvfldrv_mod.o");
        EXPECT_EQ(object, c.replaced ? std::string("\x7f" "ELF emulated nuvfldrv_mod\n") : std::string(kPrebuilt));
        EXPECT_EQ(ReadFile(work + "/.temp/notes.txt"), "mine");
        EXPECT_EQ(Entries(work, ".temp"), std::vector<std::string>{".temp"}) << "no scratch directory is left";
        EXPECT_TRUE(TraceOfKind(m, "mknod").empty()) << "the run ends after the build";
    }
}

TEST_P(Driver, KernelWordMustNameAUsableTreeAndSplitHeadersAreAccepted) {
    {
        Machine m = Make({});
        std::string work = TempDir("kernel-bad");
        RunResult r = RunProgram(Width(), m, {"/makedrv", "KERNEL=/lib/modules/custom"}, "", work);
        // Only the tree check speaks; no build is tried.
        EXPECT_EQ(r.out, Head() + kMake +
                             "\nError: Kernel source files cannot be found.\n"
                             "\nError: gcc complier did not exist.\n"
                             "e - Error: Kernel source files cannot be found.\n");
        EXPECT_EQ(r.status, 0x0E);
        EXPECT_FALSE(Contains(Shell(m), "make"));
    }
    {
        // A build directory with only a Makefile, as split header packages have.
        Machine m = Make({"kernel_tree=split", "driver_build=fake"});
        std::string work = TempDir("kernel-split");
        RunResult r = RunProgram(Width(), m, {"/makedrv", "KERNEL=/lib/modules/6.1.0-emu-amd64/build"}, "", work);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, Head() + kMake + kOk);
        EXPECT_TRUE(Contains(Shell(m), "\"make KERNEL=/lib/modules/6.1.0-emu-amd64/build > /dev/null 2> ../make.err\""));
        EXPECT_FALSE(Contains(Shell(m), "mm.h")) << "no mm.h to look into: the kernel version decides";
        std::vector<std::string> make = TraceOfKind(m, "module");
        ASSERT_EQ(make.size(), 2u);
        EXPECT_EQ(make[1], "module make target=\"modules\" kernel=\"" + m.Root("/lib/modules/6.1.0-emu-amd64/build") +
                               "\" result=built");
        EXPECT_TRUE(Exists(work + "/nuvfldrv_mod.o"));
    }
}

TEST_P(Driver, GendrvWritesTheKitIntoTheOutputDirectoryQuotedForTheShell) {
    Machine m = Make({"kernel_tree=build", "driver_build=fake"});
    std::string work = TempDir("gendrv");
    RunResult r = RunProgram(Width(), m, {"/gendrv", "OUTPUT=my kit;touch pwned/"}, "", work);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, Head() + kGen + kOk);
    const std::string kit = work + "/my kit;touch pwned";
    for (const char* f : {"/nuvwrap.c", "/nuvwrap.h", "/nuvfldrv.o_shipped", "/.nuvfldrv.o.cmd", "/Makefile"}) {
        EXPECT_TRUE(Exists(kit + f)) << f;
    }
    EXPECT_FALSE(Exists(kit + "/nuvfldrv.c")) << "the core ships compiled";
    EXPECT_FALSE(Exists(work + "/pwned"));
    EXPECT_FALSE(Exists(work + "/nuvfldrv_mod"));
    EXPECT_FALSE(Exists(work + "/nuvfldrv_mod.o"));
    EXPECT_TRUE(Entries(work, ".temp").empty());
    EXPECT_TRUE(Contains(Shell(m), "\"mkdir -p 'my kit;touch pwned'\""));
    std::string makefile = ReadFile(kit + "/Makefile");
    EXPECT_NE(makefile.find("M=$(CURDIR) modules"), std::string::npos) << makefile;
    EXPECT_EQ(makefile.find("SUBDIRS"), std::string::npos);
    EXPECT_NE(makefile.find("\tmv nuvfldrv_mod.ko nuvfldrv_mod.o\n"), std::string::npos) << makefile;
    std::string dash(97, '-');
    EXPECT_EQ(ReadFile(kit + "/nuvwrap.c").compare(0, 100, "//" + dash + "\n"), 0);
}

TEST_P(Driver, GendrvSpelledAnyWayGeneratesTheKitHere) {
    Machine m = Make({"kernel_tree=build", "driver_build=fake"});
    std::string work = TempDir("gendrv-case");
    RunResult r = RunProgram(Width(), m, {"/GenDrv"}, "", work);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, Head() + kGen + kOk);
    EXPECT_TRUE(Exists(work + "/Makefile"));
    EXPECT_TRUE(Exists(work + "/nuvfldrv.o_shipped"));
    EXPECT_FALSE(Exists(work + "/nuvfldrv_mod.o")) << "not built as /makedrv";
}

TEST_P(Driver, GendrvWithoutKernelTreeDoesNotReportSuccess) {
    Machine m = Make({});
    std::string work = TempDir("gendrv-none");
    RunResult r = RunProgram(Width(), m, {"/gendrv"}, "", work);
    EXPECT_EQ(r.out, Head() + kGen + kNoTree + "e - Error: Kernel source files cannot be found.\n");
    EXPECT_EQ(r.status, 0x0E);
    EXPECT_FALSE(Exists(work + "/Makefile"));
}

TEST_P(Driver, PrebuiltModuleIsLoadedAndGivesThePoolThenNodeAndFileGo) {
    Machine m = Make({"mem_hole=0"});
    std::string work = TempDir("load");
    WriteFile(work + "/nuvfldrv_mod.o", kPrebuilt);
    RunResult r = RunProgram(Width(), m, {"/x"}, "", work);
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_TRUE(Shell(m).empty()) << "loaded from its descriptor, nothing copied or run";
    EXPECT_EQ(TraceOfKind(m, "module").front(), "module load result=loaded major=0xf3");
    EXPECT_EQ(TraceOfKind(m, "mknod"),
              (std::vector<std::string>{"mknod path=\"" + m.Root("/dev/nuvfl") + "\" mode=0x2180 dev=0xf300"}));
    std::vector<std::string> ioctl = TraceOfKind(m, "ioctl");
    ASSERT_GE(ioctl.size(), 2u);
    EXPECT_EQ(ioctl[0], "ioctl req=0x4160 size=0x11000 phys=0x00800000 result=ok");
    EXPECT_FALSE(Exists(m.Root("/dev/nuvfl")));
    EXPECT_EQ(Entries(work, "nuvfldrv"), std::vector<std::string>{"nuvfldrv_mod.o"});
    EXPECT_EQ(ReadFile(m.Root("/proc/devices")).find("nuvfldrv"), std::string::npos) << "the module is unloaded";
    EXPECT_EQ(ioctl.back(), "ioctl release kb=on freed") << "the release frees the pool";
}

// Only a prebuilt object that no other user could have put or changed is
// loaded: a link, a file or directory others may write, a FIFO, another
// user's file are refused before anything is loaded or run.
TEST_P(Driver, PrebuiltObjectAnotherUserCouldWriteIsRefused) {
    const std::string kFileRefused = "ERROR : ./nuvfldrv_mod.o is refused: it must be a regular file owned by root and "
                                     "writable by root alone.\n";
    const std::string kDirRefused = "ERROR : ./nuvfldrv_mod.o is refused: its directory must be owned by root and "
                                    "writable by root alone.\n";
    const struct {
        const char* what;
        std::string refusal;
    } rows[] = {
        {"link", kFileRefused}, {"writable by others", kFileRefused}, {"writable by its group", kFileRefused},
        {"fifo", kFileRefused}, {"another user's", kFileRefused}, {"1777 directory", kDirRefused},
        {"0775 directory", kDirRefused},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        std::string what = row.what;
        if (what == "another user's" && geteuid() != 0) continue;  // only root can give a file away
        Machine m = Make({"mem_hole=0"});
        std::string work = TempDir("planted");
        std::string object = work + "/nuvfldrv_mod.o";
        if (what == "link") {
            WriteFile(work + "/real.o", kPrebuilt);
            ASSERT_EQ(symlink((work + "/real.o").c_str(), object.c_str()), 0);
        } else if (what == "fifo") {
            ASSERT_EQ(mkfifo(object.c_str(), 0600), 0);
        } else {
            WriteFile(object, kPrebuilt);
        }
        if (what == "writable by others") {
            ASSERT_EQ(chmod(object.c_str(), 0666), 0);
        }
        if (what == "another user's") {
            ASSERT_EQ(chown(object.c_str(), 65534, 65534), 0);
        }
        if (what == "writable by its group") {
            ASSERT_EQ(chmod(object.c_str(), 0664), 0);
        }
        if (what == "1777 directory") {
            ASSERT_EQ(chmod(work.c_str(), 01777), 0);
        }
        if (what == "0775 directory") {
            ASSERT_EQ(chmod(work.c_str(), 0775), 0);
        }
        RunResult r = RunProgram(Width(), m, {"/x"}, "", work);
        EXPECT_EQ(r.status, 0x10);
        EXPECT_EQ(r.out, row.refusal + kLoadError);
        EXPECT_TRUE(TraceOfKind(m, "module").empty());
        EXPECT_TRUE(Shell(m).empty());
        EXPECT_EQ(Entries(work, "nuvfldrv"), std::vector<std::string>{"nuvfldrv_mod.o"});
    }
}

// Neither the working directory's name, nor a "KERNEL=" word, nor the
// environment reaches a shell as code: the build runs in its private
// directory, refuses a tree path with shell characters, passes the tree on
// make's command line and gives its children a fixed PATH and environment,
// with SIGPIPE at its default.
TEST_P(Driver, BuildRunsNothingOfTheOperatorsNamesOrEnvironment) {
    const struct {
        const char* what;
        std::string dir;
        std::vector<std::string> words;
        bool planted;
        int status;
        std::string out;     // 0x10: the build fails and says what make said last, this among it
        std::string recipe;  // of the kernel tree's modules target, when not the machine's own
    } rows[] = {
        {"directory name", "fw$(id>&2)", {"/makedrv"}, false, 0x10, "", ""},
        {"KERNEL= word", "fw", {"/makedrv", "KERNEL=/lib/modules/k;id>&2;:"}, false, 0x0E,
         Head() + kMake + "\nError: KERNEL= may hold only letters, digits and the characters . _ / + -\n" +
             "e - Error: Kernel source files cannot be found.\n", ""},
        {"PATH and KERNEL in the environment", "fw", {"/makedrv"}, true, 0x10, "", ""},
        {"SIGPIPE", "fw", {"/makedrv"}, false, 0x10, "  yes ended with 141\n",
         "(yes; echo yes ended with $$? >&2) | true; false"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        // make runs for real, against the emulated tree that has no modules
        // target: the build fails after its recipe went through the shell.
        Machine m = Make({"kernel_tree=build", "mem_hole=0"});
        std::string work = TempDir("names") + "/" + row.dir;
        ASSERT_EQ(mkdir(work.c_str(), 0700), 0);
        std::string tree = m.Root("/lib/modules/k;id>&2;:");
        ASSERT_EQ(system(("mkdir -p '" + tree + "'").c_str()), 0);
        WriteFile(tree + "/Makefile", "modules:\n\techo built\n");
        if (!row.recipe.empty()) {
            WriteFile(m.Root("/lib/modules/6.1.0-emu-amd64/build/Makefile"), "modules:\n\t" + row.recipe + "\n");
        }
        std::string planted = TempDir("planted-bin");
        WriteFile(planted + "/make", "#!/bin/sh\necho planted make >&2\n");
        ASSERT_EQ(chmod((planted + "/make").c_str(), 0755), 0);
        std::vector<std::string> env = {"YOZ_EMU_MACHINE=" + m.dir};
        if (row.planted) {
            env.push_back("PATH=" + planted + ":/usr/bin:/bin");
            env.push_back("KERNEL=`id>&2`");
        } else {
            env.push_back("PATH=/usr/bin:/bin");
        }
        RunResult r = RunProgramEnv(Width(), row.words, env, "", work);
        EXPECT_EQ(r.status, row.status);
        if (row.status == 0x10) {
            EXPECT_NE(r.out.find(row.out), std::string::npos) << r.out;
            std::string failed = Head() + kMake + "fail\n" + kNoModule;
            EXPECT_EQ(r.out.compare(0, failed.size(), failed), 0) << r.out;
            ASSERT_GE(r.out.size(), failed.size() + strlen(kLoadError));
            EXPECT_EQ(r.out.substr(r.out.size() - strlen(kLoadError)), kLoadError) << r.out;
        } else {
            EXPECT_EQ(r.out, row.out);
        }
        for (const std::string& said : {r.out, r.err}) {
            EXPECT_EQ(said.find("uid="), std::string::npos) << said;
            EXPECT_EQ(said.find("planted"), std::string::npos) << said;
        }
        EXPECT_FALSE(Exists(work + "/nuvfldrv_mod.o"));
        EXPECT_TRUE(Entries(m.Root("/tmp"), "yozdrv").empty());
    }
}

TEST_P(Driver, KeyboardIsLockedAgainAfterEveryKeyDialogueAndFreedOnRelease) {
    // The usage's pager pauses and the replace question of "/O": the
    // keyboard is handed over for the key and locked again for the work that
    // follows; closing the device unlocks it.
    const struct {
        std::vector<std::string> words;
        std::string input;
    } cases[] = {{{"/x"}, ""}, {{"saved.bin", "/O"}, "y"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.words[0]);
        Machine m = Make({"mem_hole=0"});
        std::string work = TempDir("kb");
        WriteFile(work + "/nuvfldrv_mod.o", kPrebuilt);
        WriteFile(work + "/saved.bin", "old");
        RunProgram(Width(), m, c.words, c.input, work);
        std::vector<std::string> ioctl = TraceOfKind(m, "ioctl");
        ASSERT_GE(ioctl.size(), 4u);
        EXPECT_EQ(ioctl.back(), "ioctl release kb=on freed");
        size_t dialogues = 0;
        for (size_t i = 1; i + 1 < ioctl.size(); ++i) {
            if (ioctl[i].compare(0, 20, "ioctl req=0x4163 kb=") != 0) continue;
            ++dialogues;
            EXPECT_EQ(ioctl[i], dialogues == 1 ? "ioctl req=0x4163 kb=unchanged" : "ioctl req=0x4163 kb=on");
            EXPECT_EQ(ioctl[i + 1], "ioctl req=0x4162 kb=off") << "locked right after the dialogue";
        }
        EXPECT_GE(dialogues, 1u);
    }
}

TEST_P(Driver, ModuleLeftLoadedIsReplacedAndABuildHappensWithoutPrebuiltObject) {
    Machine m = Make({"mem_hole=0", "stale_driver=1", "kernel_tree=build", "driver_build=fake"});
    std::string work = TempDir("stale");
    RunResult r = RunProgram(Width(), m, {"/x"}, "", work);
    EXPECT_EQ(r.status, 1) << r.out;
    const std::string kReplaced = "NOTE : Replacing the driver an earlier run left loaded.\n";
    EXPECT_EQ(r.out.compare(0, kReplaced.size() + 1, kReplaced + "+"), 0) << "said once, first: " << r.out;
    EXPECT_EQ(r.out.find("NOTE", 1), std::string::npos) << r.out;
    std::vector<std::string> module = TraceOfKind(m, "module");
    ASSERT_EQ(module.size(), 5u);
    EXPECT_EQ(module[1], "module make target=\"modules\" kernel=\"" + m.Root("/lib/modules/6.1.0-emu-amd64/build/") +
                             "\" result=built");
    EXPECT_EQ(module[2], "module unload name=\"nuvfldrv_mod\" result=removed");
    EXPECT_EQ(module[3], "module load result=loaded major=0xf3");
    EXPECT_EQ(module[4], "module unload name=\"nuvfldrv_mod\" result=removed");
    EXPECT_TRUE(Entries(work, "").size() == 2u) << "the loader's own build leaves nothing in the working directory";
    EXPECT_TRUE(Entries(m.Root("/tmp"), "yozdrv").empty());
}

// A module the kernel refuses, or none because the build made none: the run
// ends with the driver error and says which; nothing is loaded.
TEST_P(Driver, RefusedOrMissingModuleEndsWithDriverLoadError) {
    const struct {
        std::string set;
        bool prebuilt;
        std::string out;
        std::string lastModuleLine;
    } rows[] = {
        {"insmod_fails=1", true, "ERROR : 1 Unable to load driver: Operation not permitted\n",
         "module load result=refused"},
        {"make_fails=1", false, kMakeFailed, "result=failed"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.set);
        Machine m = Make({"mem_hole=0", "kernel_tree=build", "driver_build=fake", row.set});
        std::string work = TempDir("refused");
        if (row.prebuilt) WriteFile(work + "/nuvfldrv_mod.o", kPrebuilt);
        RunResult r = RunProgram(Width(), m, {"/x"}, "", work);
        EXPECT_EQ(r.status, 0x10);
        EXPECT_EQ(r.out, row.out + kLoadError);
        std::vector<std::string> module = TraceOfKind(m, "module");
        ASSERT_FALSE(module.empty());
        EXPECT_NE(module.back().find(row.lastModuleLine), std::string::npos) << module.back();
        EXPECT_FALSE(Contains(module, "module load result=loaded"));
        EXPECT_TRUE(TraceOfKind(m, "mknod").empty());
        EXPECT_TRUE(Entries(m.Root("/tmp"), "yozdrv").empty());
    }
}

TEST_P(Driver, NodeThatCannotBeMadeRemovesTheModuleAgain) {
    Machine m = Make({"mem_hole=0", "mknod_fails=1"});
    std::string work = TempDir("mknod");
    WriteFile(work + "/nuvfldrv_mod.o", kPrebuilt);
    RunResult r = RunProgram(Width(), m, {"/x"}, "", work);
    EXPECT_EQ(r.status, 0x10);
    EXPECT_EQ(r.out, std::string("ERROR : 1 Unable to create node nuvfl : Operation not permitted\n") + kLoadError);
    std::vector<std::string> module = TraceOfKind(m, "module");
    ASSERT_EQ(module.size(), 2u);
    EXPECT_EQ(module[1], "module unload name=\"nuvfldrv_mod\" result=removed");
    EXPECT_EQ(ReadFile(m.Root("/proc/devices")).find("nuvfldrv"), std::string::npos);
}

TEST_P(Driver, MemoryHoleMeansNoDriverAtAll) {
    Machine m = Make({"kernel_tree=build", "driver_build=fake"});
    std::string work = TempDir("hole");
    RunResult r = RunProgram(Width(), m, {"/x"}, "", work);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(TraceOfKind(m, "module").empty());
    EXPECT_TRUE(TraceOfKind(m, "ioctl").empty());
    EXPECT_TRUE(TraceOfKind(m, "shell").empty());
}

// Secure Boot sends every port write through the driver (here the mailbox
// requests), whichever variable interface reports it.
TEST_P(Driver, SecureBootRoutesPortWritesThroughTheDriver) {
    const std::string width = "efi_vars_width=" + std::to_string(Width());
    for (const char* vars : {"efi_vars=efivars", "efi_vars=vars", "efi_vars=both"}) {
        SCOPED_TRACE(vars);
        Machine m = Make({vars, width, "secure_boot=1"});
        std::string work = TempDir("secureboot");
        WriteFile(work + "/nuvfldrv_mod.o", kPrebuilt);
        RunResult r = RunProgram(Width(), m, {"/x"}, "", work);
        EXPECT_EQ(r.status, 1) << r.out;
        std::vector<std::string> smi = TraceOfKind(m, "smi");
        ASSERT_FALSE(smi.empty());
        EXPECT_EQ(smi[0].compare(0, 14, "smi cmd=0xd9 p"), 0) << "no memory hole is asked for: " << smi[0];
        std::vector<std::string> ioctl = TraceOfKind(m, "ioctl");
        ASSERT_GE(ioctl.size(), 2u);
        EXPECT_EQ(ioctl[0], "ioctl req=0x4166 port=0xb2 value=0xd9");
    }
    // Secure Boot off, or no variable interface at all: the memory hole serves.
    for (const std::vector<std::string>& sets : {std::vector<std::string>{"efi_vars=vars", width, "secure_boot=0"},
                                                 std::vector<std::string>{"efi_vars=none", "secure_boot=1"}}) {
        SCOPED_TRACE(sets[0]);
        Machine m = Make(sets);
        RunResult r = RunProgram(Width(), m, {"/x"}, "", TempDir("secureboot-off"));
        EXPECT_EQ(r.status, 1) << r.out;
        EXPECT_TRUE(TraceOfKind(m, "ioctl").empty());
        EXPECT_EQ(TraceOfKind(m, "smi")[0].compare(0, 12, "smi cmd=0x7f"), 0);
    }
}

// Under Secure Boot the program and the driver take the "$ASF" port from the
// same records: a header that holds the port gives it to both; one too short
// to hold it names no port, and both fall back to the default.
TEST_P(Driver, SecureBootWritesTheAsfPortOnlyFromAWholeRecord) {
    const std::string width = "efi_vars_width=" + std::to_string(Width());
    for (const char* header : {"asf_header=0x10", "asf_header=0x0c"}) {
        SCOPED_TRACE(header);
        Machine m = Make({"efi_vars=efivars", width, "secure_boot=1", "fadt_smi_cmd=0", "asf_port=0xb0", header});
        std::string work = TempDir("secureboot-asf");
        WriteFile(work + "/nuvfldrv_mod.o", kPrebuilt);
        RunResult r = RunProgram(Width(), m, {"/x"}, "", work);
        std::vector<std::string> ioctl = TraceOfKind(m, "ioctl");
        ASSERT_GE(ioctl.size(), 2u) << r.out;
        bool whole = std::string(header) == "asf_header=0x10";
        EXPECT_EQ(ioctl[1], std::string("ioctl req=0x4166 port=") + (whole ? "0xb0" : "0xb2") + " value=0x26");
        EXPECT_FALSE(TraceOfKind(m, "smi").empty());
    }
}

// A kernel in lockdown refuses the unsigned module; with a signed one the
// run ends as /dev/mem is refused too, before any port is written.
TEST_P(Driver, KernelInLockdownEndsTheRunWithTheDriverLoadOrMemoryManagerCode) {
    const struct {
        const char* sign;
        int status;
        std::string out;
        std::string load;
    } rows[] = {
        {"module_signed=0", 0x10, "ERROR : 81 Unable to load driver: Key was rejected by service\n" + std::string(kLoadError),
         "module load result=unsigned"},
        {"module_signed=1", 0x20, "20 - Error: Unable to initialize memory manager.\n",
         "module load result=loaded major=0xf3"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.sign);
        Machine m = Make({"efi_vars=efivars", "efi_vars_width=" + std::to_string(Width()), "secure_boot=1", "lockdown=1",
                          row.sign});
        std::string work = TempDir("lockdown");
        WriteFile(work + "/nuvfldrv_mod.o", kPrebuilt);
        RunResult r = RunProgram(Width(), m, {"/x"}, "", work);
        EXPECT_EQ(r.status, row.status);
        EXPECT_EQ(r.out, row.out);
        EXPECT_EQ(TraceOfKind(m, "module").front(), row.load);
        EXPECT_TRUE(TraceOfKind(m, "smi").empty());
        EXPECT_TRUE(TraceOfKind(m, "port").empty());
        EXPECT_EQ(ReadFile(m.Root("/proc/devices")).find("nuvfldrv"), std::string::npos) << "nothing stays loaded";
    }
}

// Under Secure Boot a driver built on the spot cannot be loaded: without a
// prebuilt object the run stops after the early hooks, before the trailer,
// the platform and the modules, unless a build word asks for a build.
TEST_P(Driver, SecureBootWithoutPrebuiltObjectStopsBeforeThePlatform) {
    Machine m = Make({"efi_vars=efivars", "secure_boot=1"});
    std::string work = TempDir("secureboot-stop");
    RunResult r = RunProgram(Width(), m, {"rom.bin", "/P"}, "", work);
    EXPECT_EQ(r.status, 0x71);
    EXPECT_EQ(r.out, PlainBanner() + "71 - Error: Linux does not support Auto Build Driver when Secure Boot Enable.\n");
    EXPECT_TRUE(TraceLines(m).empty()) << "no port, SMI or shell command";

    // A build word lets the run go on to the build; without a kernel tree
    // the build fails and ends the run.
    RunResult build = RunProgram(Width(), m, {"/makedrv"}, "", work);
    EXPECT_EQ(build.status, 0x0E);
    EXPECT_EQ(build.out, Head() + kMake + kNoTree + "e - Error: Kernel source files cannot be found.\n");
}

YOZ_E2E_BOTH_WIDTHS(Driver);

}  // namespace
