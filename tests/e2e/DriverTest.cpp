// The kernel driver end to end: "/makedrv" and "/gendrv", the loader with a
// prebuilt, a stale or a freshly built module, its failures, the device's
// requests, and Secure Boot routing port writes through the driver.
#include "E2eHarness.h"
#include "UsageListing.h"
#include <algorithm>
#include <cstdio>
#include <dirent.h>
#include <sys/stat.h>

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

// Entries of a directory whose names begin with `prefix`.
std::vector<std::string> Entries(const std::string& dir, const std::string& prefix) {
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return names;
    while (dirent* e = readdir(d)) {
        if (StartsWith(e->d_name, prefix)) names.push_back(e->d_name);
    }
    closedir(d);
    return names;
}

// The scratch directory of a build: private to it, gone afterwards.
bool BuildDirRemoval(const std::string& command) { return StartsWith(command, "\"rm -rf .temp.") && command.size() == 21; }


TEST_P(Driver, MakedrvBuildsTheModuleAndKeepsItAsThePrebuiltObject) {
    Machine m = Make({"kernel_tree=build", "driver_build=fake", "mem_hole=0"});
    std::string work = TempDir("makedrv");
    RunResult r = RunProgram(Width(), m, {"/MakeDrv"}, "", work);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, Head() + kMake + kOk);
    EXPECT_EQ(ReadFile(work + "/nuvfldrv_mod.o").compare(0, 4, "\x7f" "ELF"), 0);
    EXPECT_FALSE(Exists(work + "/nuvfldrv_mod"));
    EXPECT_TRUE(Entries(work, ".temp").empty());
    const std::vector<std::string> expected = {
        "\"rm -f nuvfldrv_mod\"",
        "\"uname -r\"",
        "\"cat '/lib/modules/6.1.0-emu-amd64/build/'/include/linux/mm.h | grep remap_pfn_range\"",
        "\"make clean > /dev/null\"",
        "\"make > /dev/null\"",
        "(the scratch directory's removal)",
        "\"mv ./nuvfldrv_mod ./nuvfldrv_mod.o\"",
    };
    std::vector<std::string> shell = Shell(m);
    ASSERT_EQ(shell.size(), expected.size());
    for (size_t i = 0; i < shell.size(); ++i) {
        if (i == 5) EXPECT_TRUE(BuildDirRemoval(shell[i])) << shell[i];
        else EXPECT_EQ(shell[i], expected[i]) << i;
    }
    EXPECT_TRUE(TraceOfKind(m, "mknod").empty()) << "the run ends before any driver is loaded";

    // A later run loads the object without building.
    RunResult again = RunProgram(Width(), m, {"/x"}, "", work);
    EXPECT_EQ(again.status, 1);
    std::vector<std::string> shell2 = Shell(m);
    ASSERT_GT(shell2.size(), expected.size());
    EXPECT_EQ(shell2[expected.size()], "\"cp -f --preserve=all ./nuvfldrv_mod.o ./nuvfldrv_mod\"");
    EXPECT_EQ(std::count(shell2.begin(), shell2.end(), "\"uname -r\""), 1);
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
         Head() + kMake + "fail\n" + kLoadError, false},
        {{}, {"/makedrv"}, 0x0E, Head() + kMake + kNoTree + "e - Error: Kernel source files cannot be found.\n", false},
        {{"kernel_tree=build", "driver_build=fake"}, {"/gendrv"}, 0, Head() + kGen + kOk, false},
        {{"kernel_tree=build", "driver_build=fake", "make_fails=1"}, {"/gendrv"}, 0x10,
         Head() + kGen + "fail\n" + kLoadError, false},
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
        EXPECT_TRUE(Contains(Shell(m), "\"make 'KERNEL=/lib/modules/6.1.0-emu-amd64/build' > /dev/null\""));
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
    EXPECT_EQ(Shell(m), (std::vector<std::string>{"\"cp -f --preserve=all ./nuvfldrv_mod.o ./nuvfldrv_mod\"",
                                                  "\"insmod ./nuvfldrv_mod 2> /dev/null > /dev/null\""}));
    EXPECT_EQ(TraceOfKind(m, "mknod"),
              (std::vector<std::string>{"mknod path=\"" + m.Root("/dev/nuvfl") + "\" mode=0x2180 dev=0xf300"}));
    std::vector<std::string> ioctl = TraceOfKind(m, "ioctl");
    ASSERT_GE(ioctl.size(), 2u);
    EXPECT_EQ(ioctl[0], "ioctl req=0x4160 size=0x11000 phys=0x00800000 result=ok");
    EXPECT_FALSE(Exists(m.Root("/dev/nuvfl")));
    EXPECT_FALSE(Exists(work + "/nuvfldrv_mod"));
    EXPECT_TRUE(Exists(work + "/nuvfldrv_mod.o"));
    EXPECT_NE(ReadFile(m.Root("/proc/devices")).find("243 nuvfldrv\n"), std::string::npos) << "the module stays loaded";
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
        EXPECT_EQ(ioctl.back(), "ioctl release kb=on");
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
    std::vector<std::string> module = TraceOfKind(m, "module");
    ASSERT_EQ(module.size(), 4u);
    EXPECT_EQ(module[1], "module make target=\"modules\" kernel=\"" + m.Root("/lib/modules/6.1.0-emu-amd64/build") +
                             "\" result=built");
    EXPECT_EQ(module[2], "module rmmod name=\"nuvfldrv_mod\" result=removed");
    EXPECT_EQ(module[3], "module insmod file=\"./nuvfldrv_mod\" result=loaded major=0xf3");
    EXPECT_TRUE(Contains(Shell(m), "\"rmmod nuvfldrv_mod > /dev/null\""));
    EXPECT_FALSE(Exists(work + "/nuvfldrv_mod"));
    EXPECT_FALSE(Exists(work + "/nuvfldrv_mod.o")) << "the loader's own build keeps no prebuilt object";
}

TEST_P(Driver, RefusedModuleEndsWithDriverLoadError) {
    Machine m = Make({"mem_hole=0", "insmod_fails=1"});
    std::string work = TempDir("refused");
    WriteFile(work + "/nuvfldrv_mod.o", kPrebuilt);
    RunResult r = RunProgram(Width(), m, {"/x"}, "", work);
    EXPECT_EQ(r.status, 0x10);
    EXPECT_EQ(r.out, std::string("ERROR : driver \"nuvfldrv\" not found\n") + "ERROR : driver \"nuvfldrv\" not found\n" +
                         "ERROR : Unable to load driver.\n" + kLoadError);
    EXPECT_EQ(Shell(m), (std::vector<std::string>{"\"cp -f --preserve=all ./nuvfldrv_mod.o ./nuvfldrv_mod\"",
                                                  "\"insmod ./nuvfldrv_mod 2> /dev/null > /dev/null\"",
                                                  "\"rmmod nuvfldrv_mod\"",
                                                  "\"insmod nuvfldrv_mod 2> /dev/null > /dev/null\"",
                                                  "\"rmmod nuvfldrv_mod\""}));
    EXPECT_TRUE(TraceOfKind(m, "mknod").empty());
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
    EXPECT_EQ(module[1], "module rmmod name=\"nuvfldrv_mod\" result=removed");
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
