// Build of the kernel driver from the sources this program writes: the
// "/makedrv" and "/gendrv" early-init options, the build in a private scratch
// directory against the running kernel's tree, and the "/gendrv" kit.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#include "HuxCore.h"
#include "OsSeam.h"
#include "TKXDriver.h"
#include "TKXDriverText.h"
#include "TKXPortIo.h"
#include "TKXShell.h"
#include "TKXString.h"

int generatedrv = 0;
char gendir[128] = ".";

// Set when the last "/gendrv" request left a complete kit in gendir.
static UINT8 s_KitWritten = 0;

// The scratch directory of the build under way: made for it alone beside the
// module file (the Makefiles move the module to "../nuvfldrv_mod"), so that
// nothing of the operator's is wiped.
static char s_BuildDir[] = ".temp.XXXXXX";
static const char kBuildDirTemplate[] = ".temp.XXXXXX";

static const UINT32 kPathMax = 128;
static const UINT32 kCommandMax = 1024;

static bool IsDirectory(const char* path) {
    DIR* d = opendir(OsSeam_Path(path).c_str());
    if (d == nullptr) return false;
    closedir(d);
    return true;
}

static bool IsFile(const char* path) {
    struct stat st;
    return stat(OsSeam_Path(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Local files of the current directory (never rooted).
static bool LocalExists(const char* path) { return access(path, F_OK) == 0; }

static void RunShell(const char* command) { OsSeam_System(command); }

// Formats and runs a command; text that would not fit is not run.
static void RunShellF(const char* format, ...) __attribute__((format(printf, 1, 2)));
static void RunShellF(const char* format, ...) {
    char command[kCommandMax];
    va_list ap;
    va_start(ap, format);
    int n = vsnprintf(command, sizeof(command), format, ap);
    va_end(ap);
    if (n > 0 && static_cast<UINT32>(n) < sizeof(command)) RunShell(command);
}

UINT8 CheckKernelSource(char* kernelDirectory) {
    char path[kPathMax + 32];
    UINT8 usable = 1;
    snprintf(path, sizeof(path), "%s/include/linux", kernelDirectory);
    bool tree = IsDirectory(path);
    // Split header packages keep include/linux in a separate common tree;
    // their build directory is still usable through its Makefile.
    snprintf(path, sizeof(path), "%s/Makefile", kernelDirectory);
    if (!tree && !IsFile(path)) {
        WriteOut("\nError: Kernel source files cannot be found.\n");
        usable = 0;
    }
    if (!LocalExists(OsSeam_Path("/usr/bin/gcc").c_str())) {
        WriteOut("\nError: gcc complier did not exist.\n");
        usable = 0;
    }
    return usable;
}

// The kernel a build is made for.
struct KERNEL_CHOICE {
    char Release[kPathMax + 1];    // "uname -r" without its newline
    char Directory[kPathMax + 1];  // tree used for paths
    char MakeArg[kPathMax + 32];   // quoted "KERNEL=..." word, or empty
    UINT8 Kernel24;
};

static void ReadRelease(char* release) {
    release[0] = '\0';
    FILE* p = OsSeam_Popen("uname -r", "r");
    if (p == nullptr) return;
    char line[kPathMax + 1];
    if (fgets(line, sizeof(line), p) != nullptr) TKX_BoundedCopy(release, line, kPathMax);
    OsSeam_Pclose(p);
    size_t n = strlen(release);
    while (n > 0 && (release[n - 1] == '\n' || release[n - 1] == '\r')) release[--n] = '\0';
}

// Chooses the kernel tree; prints why and returns false when there is none.
static bool ChooseKernel(const char* kernelArgument, KERNEL_CHOICE& k) {
    MemSet(&k, 0, sizeof(k));
    ReadRelease(k.Release);
    k.Kernel24 = strncmp(k.Release, "2.4", 3) == 0 ? 1 : 0;
    bool usable = false;
    if (kernelArgument != nullptr) {
        // The argument is "KERNEL=<dir> ": the blank is dropped, the directory
        // serves the paths and the whole word goes to make.
        char word[kPathMax + 16];
        TKX_BoundedCopy(word, kernelArgument, sizeof(word) - 1);
        size_t n = strlen(word);
        if (n > 0) word[n - 1] = '\0';
        TKX_BoundedCopy(k.Directory, word + 7, kPathMax);
        if (!TKX_ShellQuote(k.MakeArg, sizeof(k.MakeArg), word)) return false;
        usable = IsDirectory(k.Directory) && (k.Kernel24 || CheckKernelSource(k.Directory));
        if (!usable && k.Kernel24) CheckKernelSource(k.Directory);
    } else if (k.Kernel24) {
        snprintf(k.Directory, sizeof(k.Directory), "/lib/modules/%s/build/", k.Release);
        usable = IsDirectory(k.Directory);
        if (!usable) CheckKernelSource(k.Directory);
    } else {
        snprintf(k.Directory, sizeof(k.Directory), "/lib/modules/%s/source/", k.Release);
        usable = IsDirectory(k.Directory);
        if (!usable) {
            snprintf(k.Directory, sizeof(k.Directory), "/lib/modules/%s/build/", k.Release);
            usable = IsDirectory(k.Directory) && CheckKernelSource(k.Directory);
        }
    }
    if (!usable) WriteOut("Error: Cannot locate kernel source.\n");
    return usable;
}

// Decides how the wrapper remaps pages; false when a 2.4 tree has no mm.h.
static bool ChooseRemap(const KERNEL_CHOICE& k, NUV_REMAP_KIND& remap) {
    char mmh[kPathMax + 32];
    snprintf(mmh, sizeof(mmh), "%s/include/linux/mm.h", k.Directory);
    FILE* f = fopen(OsSeam_Path(mmh).c_str(), "rb");
    if (k.Kernel24) {
        if (f == nullptr) return false;
        static char text[1 << 20];
        size_t n = fread(text, 1, sizeof(text) - 1, f);
        fclose(f);
        text[n] = '\0';
        const char* at = strstr(text, "remap_page_range");
        int commas = 0;
        for (const char* p = at; p != nullptr && *p != '\0' && *p != ';'; ++p) commas += *p == ',' ? 1 : 0;
        remap = commas == 3 ? eNUV_REMAP_PAGE4 : eNUV_REMAP_PAGE5;
        return true;
    }
    if (f == nullptr) {
        // Split header trees keep mm.h elsewhere: let the kernel version decide.
        remap = eNUV_REMAP_BY_VERSION;
        return true;
    }
    fclose(f);
    char quoted[kPathMax * 4 + 8];
    remap = eNUV_REMAP_PAGE5;
    if (!TKX_ShellQuote(quoted, sizeof(quoted), k.Directory)) return true;
    char command[kCommandMax];
    snprintf(command, sizeof(command), "cat %s/include/linux/mm.h | grep remap_pfn_range", quoted);
    FILE* p = OsSeam_Popen(command, "r");
    if (p == nullptr) return true;
    char line[512];
    while (fgets(line, sizeof(line), p) != nullptr) {
        if (strstr(line, "remap_pfn_range") != nullptr) remap = eNUV_REMAP_PFN;
    }
    OsSeam_Pclose(p);
    return true;
}

typedef void (*TextWriter)(FILE* f);

static void WriteTextFile(const char* path, TextWriter writer) {
    FILE* f = fopen(path, "w");
    if (f == nullptr) return;
    writer(f);
    fclose(f);
}

static NUV_DRIVER_TEXT s_Text;
static void WriteWrapSource(FILE* f) { WriteNuvWrapSource(f, s_Text); }
static void WriteBuildMakefile(FILE* f) { WriteNuvMakefile(f, s_Text, 0); }
static void WriteKitMakefile(FILE* f) { WriteNuvMakefile(f, s_Text, 1); }

UINT8 GenerateDriverSoueceFile(char* kernelArgument) {
    s_KitWritten = 0;
    if (generatedrv == 0) return 0;
    RunShell("sync");
    KERNEL_CHOICE k;
    if (!ChooseKernel(kernelArgument, k)) return 0;
    char dir[kPathMax * 4 + 8];
    if (!TKX_ShellQuote(dir, sizeof(dir), gendir)) return 0;
    if (strcmp(gendir, "./") != 0) RunShellF("mkdir -p %s", dir);
    RunShellF("cp -f %s/nuvwrap.c %s/nuvwrap.c", s_BuildDir, dir);
    RunShellF("cp -f %s/nuvwrap.h %s/nuvwrap.h", s_BuildDir, dir);
    char path[kPathMax + 32];
    snprintf(path, sizeof(path), "%s/Makefile", gendir);
    FILE* makefile = fopen(path, "w");
    if (makefile == nullptr) return 0;
    const char* object;
    if (s_Text.Kernel24) {
        RunShellF("cp -f ./%s/nuvfldrv.o %s/nuvfldrv.o", s_BuildDir, dir);
        WriteKitMakefile(makefile);
        if (kernelArgument == nullptr) {
            char kdir[kPathMax * 4 + 8], rel[kPathMax * 4 + 8];
            if (TKX_ShellQuote(kdir, sizeof(kdir), gendir) && TKX_ShellQuote(rel, sizeof(rel), k.Release)) {
                RunShellF("cp -f /boot/config-%s %s/.config", rel, kdir);
            }
        }
        object = "nuvfldrv.o";
    } else {
        RunShellF("cp -f ./%s/nuvfldrv.o_shipped %s/nuvfldrv.o_shipped", s_BuildDir, dir);
        WriteKitMakefile(makefile);
        // Current kbuild wants the command file of every object it links.
        snprintf(path, sizeof(path), "%s/.nuvfldrv.o.cmd", gendir);
        WriteTextFile(path, WriteNuvShippedCmd);
        object = "nuvfldrv.o_shipped";
    }
    fclose(makefile);
    snprintf(path, sizeof(path), "%s/%s", gendir, object);
    s_KitWritten = LocalExists(path) ? 1 : 0;
    return s_KitWritten;
}

int CreateDriverSoueceFile(char* kernelArgument) {
    RunShell("rm -f nuvfldrv_mod");
    if (LocalExists("./nuvfldrv_mod")) return 0;
    KERNEL_CHOICE k;
    if (!ChooseKernel(kernelArgument, k)) return -1;

    MemSet(&s_Text, 0, sizeof(s_Text));
    s_Text.Kernel24 = k.Kernel24;
    s_Text.RedHat = LocalExists(OsSeam_Path("/etc/redhat-release").c_str()) ? 1 : 0;
    if (!ChooseRemap(k, s_Text.Remap)) return -1;

    // mkdtemp names the directory with letters and digits only: safe in a
    // command line as it is. Without it nothing is built (the callers look
    // for the module file).
    memcpy(s_BuildDir, kBuildDirTemplate, sizeof(s_BuildDir));
    if (mkdtemp(s_BuildDir) == nullptr) return 0;
    static const struct {
        const char* Name;
        TextWriter Writer;
    } kFiles[] = {{"nuvwrap.h", WriteNuvWrapHeader}, {"nuvwrap.c", WriteWrapSource},
                  {"nuvfldrv.h", WriteNuvCoreHeader}, {"nuvfldrv.c", WriteNuvCoreSource},
                  {"Makefile", WriteBuildMakefile}};
    for (const auto& f : kFiles) {
        char path[sizeof(s_BuildDir) + 16];
        snprintf(path, sizeof(path), "%s/%s", s_BuildDir, f.Name);
        WriteTextFile(path, f.Writer);
    }

    char kdir[kPathMax * 4 + 8], rel[kPathMax * 4 + 8];
    bool quoted = TKX_ShellQuote(kdir, sizeof(kdir), k.Directory) && TKX_ShellQuote(rel, sizeof(rel), k.Release);
    if (k.Kernel24 && kernelArgument == nullptr && quoted) RunShellF("cp -f /boot/config-%s %s/.config", rel, kdir);
    if (chdir(s_BuildDir) == 0) {
        if (k.Kernel24) {
            if (quoted) RunShellF("make %s clean> /dev/null", kernelArgument == nullptr ? kdir : k.MakeArg);
        } else {
            RunShell("make clean > /dev/null");
        }
        if (kernelArgument == nullptr) RunShell("make > /dev/null");
        else RunShellF("make %s > /dev/null", k.MakeArg);
        if (chdir("../") != 0) return -1;
    }
    GenerateDriverSoueceFile(kernelArgument);
    RunShellF("rm -rf %s", s_BuildDir);
    Delay(1000000);
    return 0;
}

// Builds for the option word at optionIndex; the word after it may name the
// kit's directory ("OUTPUT=") or the kernel tree ("KERNEL="). The prebuilt
// module "./nuvfldrv_mod.o" is replaced only by a module that was built, and
// "/gendrv" leaves it alone. 0 when built; 0x0E without a usable kernel tree,
// 0x01 for a word too long for its field, 0x10 when no module or kit came out.
static ENUM_ERR_ID BuildForOption(TKXArgvList& args, unsigned long optionIndex) {
    TKX_BoundedCopy(gendir, ".", sizeof(gendir) - 1);
    const char* next = optionIndex + 1 < args.size() ? args[optionIndex + 1]->text : nullptr;
    int created = 0;
    if (next != nullptr && (strncmp(next, "OUTPUT=", 7) == 0 || strncmp(next, "output=", 7) == 0)) {
        if (strlen(next + 7) > sizeof(gendir) - 1) return eEID_COMMAND_LINE;
        TKX_BoundedCopy(gendir, next + 7, sizeof(gendir) - 1);
        size_t n = strlen(gendir);
        if (n > 0 && gendir[n - 1] == '/') gendir[--n] = '\0';
        if (n == 0) TKX_BoundedCopy(gendir, ".", sizeof(gendir) - 1);
    }
    if (next != nullptr && strncmp(next, "KERNEL=", 7) == 0) {
        char dir[kPathMax + 1];
        if (strlen(next + 7) > kPathMax) return eEID_COMMAND_LINE;
        TKX_BoundedCopy(dir, next + 7, kPathMax);
        if (!CheckKernelSource(dir)) return eEID_DRIVER_NOT_KERNEL_SOURCE;
        char word[kPathMax + 16];
        snprintf(word, sizeof(word), "%s ", next);
        created = CreateDriverSoueceFile(word);
    } else {
        created = CreateDriverSoueceFile(nullptr);
    }
    if (created == -1) return eEID_DRIVER_NOT_KERNEL_SOURCE;
    if (generatedrv != 0) {
        if (LocalExists("./nuvfldrv_mod")) RunShell("rm -f ./nuvfldrv_mod");
        generatedrv = 0;
        // Success only when the kit is really there.
        return s_KitWritten != 0 ? eEID_NO_ERROR : eEID_DRIVER_LOAD;
    }
    if (!LocalExists("./nuvfldrv_mod")) return eEID_DRIVER_LOAD;
    RunShell("mv ./nuvfldrv_mod ./nuvfldrv_mod.o");
    return eEID_NO_ERROR;
}

UINT8 BuildNuvflDrv(TKXArgvList& args) { return BuildForOption(args, 1) == eEID_NO_ERROR ? 1 : 0; }

// A build that fails ends the run with its error: the operator asked for a
// driver and none was made.
static void DriverBuildHook(TKXArgvList& args, UINT8& IfConti, const char* option, const char* title,
                            int generate) {
    for (unsigned long i = 0; i < args.size(); ++i) {
        if (IdentifyArg(args[i]->text, option, 1) != 1) continue;
        args[i]->claimed = 1;
        WriteOut(" - Program initializing .. \n");
        WriteOut("%s", title);
        // The hook that matched decides the mode, whatever the spelling.
        generatedrv = generate;
        ENUM_ERR_ID status = BuildForOption(args, i);
        IfConti = 0;
        if (status == eEID_NO_ERROR) {
            WriteOut("ok\n");
            WriteOut(" - Program ended normally.\n");
        } else {
            // The kernel-tree search has said why; anything else ends the line here.
            if (status != eEID_DRIVER_NOT_KERNEL_SOURCE) WriteOut("fail\n");
            g_LastErrorCode = status;
        }
        return;
    }
}

void TKX_LinuxMakeDrv(TKXArgvList& args, UINT8& IfConti) {
    DriverBuildHook(args, IfConti, "/makedrv", " - Make NUV Linux Flash driver .... ", 0);
}

void TKX_LinuxGenDrv(TKXArgvList& args, UINT8& IfConti) {
    DriverBuildHook(args, IfConti, "/gendrv", " - Generate NUV Linux Flash driver .... ", 1);
}
