// The files the driver build writes, byte for byte, for every kernel form
// the program knows: kbuild with remap_pfn_range, with the five-argument
// remap_page_range and without an mm.h to look into; 2.4 with the four- and
// the five-argument remap_page_range (with and without /etc/redhat-release).
// make runs for real against a stand-in kernel tree whose recipes copy the
// build directory's files aside and leave objects behind, so the run goes on
// to the kit or the prebuilt object as with a real tree.
//
// The expected values are FNV-1a hashes of the files as the program wrote
// them when the driver's sources moved into HuxCorePkgLnx/Driver/; a change
// of the driver's text changes them, and then they are taken anew (run with
// YOZ_PRINT_DRIVER_HASHES=1 to see them).
#include "E2eHarness.h"
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

using namespace e2e;

namespace {

class DriverFiles : public E2eWidth {};

unsigned long long Fnv1a(const std::string& data) {
    unsigned long long h = 0xcbf29ce484222325ULL;
    for (unsigned char c : data) {
        h ^= c;
        h *= 0x100000001b3ULL;
    }
    return h;
}

std::string Hash(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return "missing";
    char text[24];
    snprintf(text, sizeof(text), "%016llx", Fnv1a(ReadFile(path)));
    return text;
}

// The files that do not depend on the kernel.
const char kWrapHeader[] = "1f451fc16762fbec";
const char kCoreHeader[] = "00774558e5ca8b4e";
const char kCoreSource[] = "b4735d5e1c252891";
const char kShippedCmd[] = "686da2273711c385";

const char kMmPfn[] = "int remap_pfn_range(struct vm_area_struct *, unsigned long addr, unsigned long pfn, "
                      "unsigned long size, pgprot_t);\n";
const char kMmPage5[] = "int remap_page_range(struct vm_area_struct *vma, unsigned long from, unsigned long to, "
                        "unsigned long size, pgprot_t prot);\n";
const char kMmPage4[] = "int remap_page_range(unsigned long from, unsigned long to, unsigned long size, "
                        "pgprot_t prot);\n";

// The stand-in for make's compiler and linker of a 2.4 tree: an object for -o.
const char kFakeCc[] = "out=\nwhile [ $# -gt 0 ]; do [ \"$1\" = -o ] && out=$2; shift; done\n"
                       "printf '\\177ELF stand-in object\\n' > \"$out\"\n";

struct Form {
    const char* what;
    const char* release;
    const char* mm;  // include/linux/mm.h of the tree; null: a split tree without one
    bool redHat;
    const char* wrapSource;
    const char* buildMakefile;
    const char* kitMakefile;
};

// Lays out the stand-in tree: its recipes copy the build directory's files
// into `capture` and leave the objects a real build leaves.
void StandInTree(const Machine& m, const Form& form, const std::string& capture) {
    std::string tree = m.Root(std::string("/lib/modules/") + form.release + "/build");
    ASSERT_EQ(system(("mkdir -p '" + tree + "/include/linux' '" + tree + "/arch/x86_64' '" + tree + "/arch/i386' '" +
                      m.Root("/boot") + "' '" + m.Root("/etc") + "'").c_str()),
              0);
    if (form.mm != nullptr) WriteFile(tree + "/include/linux/mm.h", std::string("/* stand-in tree */\n") + form.mm);
    else ASSERT_EQ(system(("rm -rf '" + tree + "/include'").c_str()), 0);
    std::string copy = "\tcp -f nuvwrap.h nuvwrap.c nuvfldrv.h nuvfldrv.c Makefile '" + capture + "/'\n";
    if (std::string(form.release).compare(0, 3, "2.4") == 0) {
        WriteFile(m.Root(std::string("/boot/config-") + form.release), "# stand-in 2.4 configuration\n");
        WriteFile(tree + "/.config", "# stand-in 2.4 configuration\n");
        WriteFile(tree + "/fakecc", kFakeCc);
        // make includes the architecture's Makefile: it names the stand-in
        // compiler and linker, and copies the files when it is read.
        std::string arch = "CC := sh " + tree + "/fakecc\nLD := sh " + tree + "/fakecc\n$(shell cp -f nuvwrap.h "
                           "nuvwrap.c nuvfldrv.h nuvfldrv.c Makefile '" + capture + "/')\n";
        WriteFile(tree + "/arch/x86_64/Makefile", arch);
        WriteFile(tree + "/arch/i386/Makefile", arch);
    } else {
        WriteFile(tree + "/Makefile", "modules:\n\tcd $(M) &&" + copy.substr(1) +
                                          "\tprintf '\\177ELF stand-in core\\n' > $(M)/nuvfldrv.o\n"
                                          "\tprintf '\\177ELF stand-in module\\n' > $(M)/nuvfldrv_mod.ko\n");
    }
    if (form.redHat) WriteFile(m.Root("/etc/redhat-release"), "stand-in\n");
}

TEST_P(DriverFiles, MakedrvAndGendrvWriteTheDriverFilesOfEveryKernelFormByteForByte) {
    const Form forms[] = {
        {"kbuild, remap_pfn_range", "6.1.0-emu-amd64", kMmPfn, false, "18c3daa83a9cb880", "05c1cd72c730ac9e",
         "dc5b2ab0582be5e8"},
        {"kbuild, five-argument remap_page_range", "6.1.0-emu-amd64", kMmPage5, false, "c9fa11c11067e0f7",
         "05c1cd72c730ac9e", "dc5b2ab0582be5e8"},
        {"kbuild, split headers without mm.h", "6.1.0-emu-amd64", nullptr, true, "ede88fb98cdcd80c",
         "05c1cd72c730ac9e", "dc5b2ab0582be5e8"},
        {"2.4, four-argument remap_page_range, Red Hat", "2.4.37-emu", kMmPage4, true, "77f526dedd63a260",
         "659639233cd837ca", "95a35ac2ff20f0d9"},
        {"2.4, five-argument remap_page_range", "2.4.37-emu", kMmPage5, false, "1f41c80b707f632b", "4a982e0384716dcf",
         "9aa4f2ec097b9894"},
    };
    const bool print = getenv("YOZ_PRINT_DRIVER_HASHES") != nullptr;
    for (const Form& form : forms) {
        SCOPED_TRACE(form.what);
        const bool k24 = std::string(form.release).compare(0, 3, "2.4") == 0;
        for (const char* option : {"/makedrv", "/gendrv"}) {
            SCOPED_TRACE(option);
            Machine m = MakeMachine(Filled(0x40000, 0xFF), "4x64K:main",
                                    {std::string("release=") + form.release, "kernel_tree=build", "mem_hole=0"});
            std::string capture = TempDir("driver-files");
            std::string work = TempDir("driver-work");
            StandInTree(m, form, capture);
            RunResult r = RunProgram(Width(), m, {option, "OUTPUT=kit"}, "", work);
            ASSERT_EQ(r.status, 0) << r.out;
            const std::string kit = work + "/kit";
            std::vector<std::pair<std::string, std::string>> files = {
                {capture + "/nuvwrap.h", kWrapHeader},    {capture + "/nuvwrap.c", form.wrapSource},
                {capture + "/nuvfldrv.h", kCoreHeader},   {capture + "/nuvfldrv.c", kCoreSource},
                {capture + "/Makefile", form.buildMakefile}};
            if (std::string(option) == "/gendrv") {
                files.push_back({kit + "/nuvwrap.h", kWrapHeader});
                files.push_back({kit + "/nuvwrap.c", form.wrapSource});
                files.push_back({kit + "/Makefile", form.kitMakefile});
                if (!k24) files.push_back({kit + "/.nuvfldrv.o.cmd", kShippedCmd});
            } else {
                EXPECT_EQ(ReadFile(work + "/nuvfldrv_mod.o").compare(0, 4, "\x7f" "ELF"), 0);
            }
            for (const auto& file : files) {
                if (print) printf("%s %s %s %s\n", form.what, option, file.first.c_str(), Hash(file.first).c_str());
                EXPECT_EQ(Hash(file.first), file.second) << file.first;
            }
            if (std::string(option) == "/gendrv" && k24) {
                EXPECT_EQ(ReadFile(kit + "/.config"), "# stand-in 2.4 configuration\n");
                EXPECT_EQ(ReadFile(kit + "/nuvfldrv.o"), "\x7f" "ELF stand-in object\n");
            }
        }
    }
}

YOZ_E2E_BOTH_WIDTHS(DriverFiles);

}  // namespace
