// Build of the kernel driver from the sources this program writes: the
// "/makedrv" and "/gendrv" early-init options, the build against the running
// kernel's tree in a private directory, and the "/gendrv" kit.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>
#include "HuxCore.h"
#include "OsSeam.h"
#include "TKXDriver.h"
#include "TKXDriverText.h"
#include "TKXFile.h"
#include "TKXPortIo.h"
#include "TKXShell.h"
#include "TKXString.h"

int generatedrv = 0;
char gendir[128] = ".";

// Set when the last "/gendrv" request left a complete kit in gendir.
static UINT8 s_KitWritten = 0;

static const UINT32 kPathMax = 128;
static const UINT32 kCommandMax = 1024;

// The build's private directory: made for it alone, root's and 0700, in a
// fixed system directory, so that no other user can put or change anything
// in it and its name (letters and digits) is safe in any command or Makefile.
// The sources go to ".temp" inside it; the Makefiles move the module up to
// "../nuvfldrv_mod", beside them.
static const char kBuildParent[] = "/tmp";
static char s_BuildDir[kPathMax * 4] = "";
static char s_SourceDir[kPathMax * 4 + 8] = "";

// The last build made no module: make's last error lines, kept for the
// caller to show once the private directory is gone. make's standard error
// goes to "make.err" there.
static const UINT32 kErrorLinesShown = 8;
static UINT8 s_NoModule = 0;
static char s_BuildErrors[kErrorLinesShown * 164] = "";

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

// A kernel tree's path goes to make and into its recipes as it is: only
// letters, digits and "._/+-" are taken.
static bool IsPlainPath(const char* path) {
    if (path[0] == '\0') return false;
    for (const char* p = path; *p != '\0'; ++p) {
        bool plain = (*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z') || (*p >= '0' && *p <= '9') ||
                     strchr("._/+-", *p) != nullptr;
        if (!plain) return false;
    }
    return true;
}

static UINT8 RefuseKernelPath() {
    WriteOut("\nError: KERNEL= may hold only letters, digits and the characters . _ / + -\n");
    return 0;
}

// The kernel a build is made for.
struct KERNEL_CHOICE {
    char Release[kPathMax + 1];    // the running kernel's release
    char Directory[kPathMax + 1];  // tree used for paths
    char MakeArg[kPathMax + 16];   // "KERNEL=<tree>" for make's command line
    UINT8 Kernel24;
};

// Chooses the kernel tree; prints why and returns false when there is none.
static bool ChooseKernel(const char* kernelArgument, KERNEL_CHOICE& k) {
    MemSet(&k, 0, sizeof(k));
    TKX_BoundedCopy(k.Release, OsSeam_KernelRelease().c_str(), kPathMax);
    k.Kernel24 = strncmp(k.Release, "2.4", 3) == 0 ? 1 : 0;
    bool usable = false;
    if (kernelArgument != nullptr) {
        // The argument is "KERNEL=<dir> ": the blank is dropped, the directory
        // serves the paths and goes to make.
        char word[kPathMax + 16];
        TKX_BoundedCopy(word, kernelArgument, sizeof(word) - 1);
        size_t n = strlen(word);
        if (n > 0) word[n - 1] = '\0';
        TKX_BoundedCopy(k.Directory, word + 7, kPathMax);
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
    if (usable && !IsPlainPath(k.Directory)) usable = RefuseKernelPath() != 0;
    if (!usable) WriteOut("Error: Cannot locate kernel source.\n");
    snprintf(k.MakeArg, sizeof(k.MakeArg), "KERNEL=%s", k.Directory);
    return usable;
}

// Decides how the wrapper remaps pages; false when a 2.4 tree has no mm.h.
static bool ChooseRemap(const KERNEL_CHOICE& k, NUV_REMAP_KIND& remap) {
    char mmh[kPathMax + 32];
    snprintf(mmh, sizeof(mmh), "%s/include/linux/mm.h", k.Directory);
    FILE* f = fopen(OsSeam_Path(mmh).c_str(), "rbe");
    if (f == nullptr) {
        // Split header trees keep mm.h elsewhere: let the kernel version decide.
        remap = eNUV_REMAP_BY_VERSION;
        return k.Kernel24 == 0;
    }
    static char text[1 << 20];
    size_t n = fread(text, 1, sizeof(text) - 1, f);
    fclose(f);
    text[n] = '\0';
    if (!k.Kernel24) {
        remap = strstr(text, "remap_pfn_range") != nullptr ? eNUV_REMAP_PFN : eNUV_REMAP_PAGE5;
        return true;
    }
    const char* at = strstr(text, "remap_page_range");
    int commas = 0;
    for (const char* p = at; p != nullptr && *p != '\0' && *p != ';'; ++p) commas += *p == ',' ? 1 : 0;
    remap = commas == 3 ? eNUV_REMAP_PAGE4 : eNUV_REMAP_PAGE5;
    return true;
}

typedef void (*TextWriter)(FILE* f);

// Files of the private directory.
static void WriteTextFile(const char* path, TextWriter writer) {
    FILE* f = fopen(path, "we");
    if (f == nullptr) return;
    writer(f);
    fclose(f);
}

// Files that leave the private directory are made new and renamed into place,
// as every file the program saves: never written through a link.
static bool WriteNewTextFile(const char* path, TextWriter writer) {
    FILE* f = TKX_CreateNewFile(path);
    if (f == nullptr) return false;
    writer(f);
    return TKX_CommitNewFile(f) == eEID_NO_ERROR;
}

static bool CopyIntoNewFile(const char* from, const char* to) {
    FILE* in = fopen(from, "rbe");
    if (in == nullptr) return false;
    FILE* out = TKX_CreateNewFile(to);
    bool ok = out != nullptr;
    UINT8 block[4096];
    size_t n;
    while (ok && (n = fread(block, 1, sizeof(block), in)) > 0) ok = fwrite(block, 1, n, out) == n;
    ok = ok && !ferror(in);
    fclose(in);
    if (out == nullptr) return false;
    if (!ok) {
        TKX_DiscardNewFile(out);
        return false;
    }
    return TKX_CommitNewFile(out) == eEID_NO_ERROR;
}

static NUV_DRIVER_TEXT s_Text;
static void WriteWrapSource(FILE* f) { WriteNuvWrapSource(f, s_Text); }
static void WriteBuildMakefile(FILE* f) { WriteNuvMakefile(f, s_Text, 0); }
static void WriteKitMakefile(FILE* f) { WriteNuvMakefile(f, s_Text, 1); }

// Copies a file of the build's sources into the kit.
static bool KitCopy(const char* name) {
    char from[sizeof(s_SourceDir) + 32], to[kPathMax + 32];
    snprintf(from, sizeof(from), "%s/%s", s_SourceDir, name);
    snprintf(to, sizeof(to), "%s/%s", gendir, name);
    return CopyIntoNewFile(from, to);
}

UINT8 GenerateDriverSoueceFile(char* kernelArgument) {
    s_KitWritten = 0;
    if (generatedrv == 0) return 0;
    RunShell("sync");
    KERNEL_CHOICE k;
    if (!ChooseKernel(kernelArgument, k)) return 0;
    char dir[kPathMax * 4 + 8];
    if (!TKX_ShellQuote(dir, sizeof(dir), gendir)) return 0;
    if (strcmp(gendir, "./") != 0) RunShellF("mkdir -p %s", dir);
    bool ok = KitCopy("nuvwrap.c") && KitCopy("nuvwrap.h");
    char path[kPathMax + 32];
    snprintf(path, sizeof(path), "%s/Makefile", gendir);
    if (s_Text.Kernel24) {
        ok = ok && KitCopy("nuvfldrv.o") && WriteNewTextFile(path, WriteKitMakefile);
        if (ok && kernelArgument == nullptr) {
            char config[kPathMax + 32];
            snprintf(config, sizeof(config), "/boot/config-%s", k.Release);
            snprintf(path, sizeof(path), "%s/.config", gendir);
            CopyIntoNewFile(OsSeam_Path(config).c_str(), path);
        }
    } else {
        ok = ok && KitCopy("nuvfldrv.o_shipped") && WriteNewTextFile(path, WriteKitMakefile);
        // Current kbuild wants the command file of every object it links.
        snprintf(path, sizeof(path), "%s/.nuvfldrv.o.cmd", gendir);
        ok = ok && WriteNewTextFile(path, WriteNuvShippedCmd);
    }
    s_KitWritten = ok ? 1 : 0;
    return s_KitWritten;
}

// The private directory is made in a parent that only root can rearrange:
// root's, and writable by others only when sticky.
static bool MakeBuildDirectory() {
    std::string parent = OsSeam_Path(kBuildParent);
    struct stat st;
    if (lstat(parent.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || (st.st_uid != 0 && st.st_uid != geteuid()) ||
        ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (st.st_mode & S_ISVTX) == 0)) {
        return false;
    }
    int n = snprintf(s_BuildDir, sizeof(s_BuildDir), "%s/yozdrv.XXXXXX", parent.c_str());
    if (n <= 0 || static_cast<UINT32>(n) >= sizeof(s_BuildDir) || mkdtemp(s_BuildDir) == nullptr) {
        s_BuildDir[0] = '\0';
        return false;
    }
    snprintf(s_SourceDir, sizeof(s_SourceDir), "%s/.temp", s_BuildDir);
    return mkdir(s_SourceDir, 0700) == 0;
}

const char* TKX_BuiltModuleDirectory() { return s_BuildDir; }

static int RemoveEntry(const char* path, const struct stat*, int kind, struct FTW*) {
    return kind == FTW_DP ? rmdir(path) : unlink(path);
}

void TKX_RemoveBuildDirectory() {
    if (s_BuildDir[0] == '\0') return;
    nftw(s_BuildDir, RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
    s_BuildDir[0] = '\0';
    s_SourceDir[0] = '\0';
}

// The module of the last build, when one came out (the path is the seam's already).
static bool BuiltModuleExists(char* path, size_t max) {
    int n = snprintf(path, max, "%s/nuvfldrv_mod", s_BuildDir);
    struct stat st;
    return s_BuildDir[0] != '\0' && n > 0 && static_cast<size_t>(n) < max && lstat(path, &st) == 0 &&
           S_ISREG(st.st_mode);
}

// Keeps the last lines of what make said on its standard error, each one
// cut to fit and anything unprintable shown as '?'.
static void KeepBuildErrors() {
    s_BuildErrors[0] = '\0';
    char path[sizeof(s_BuildDir) + 16];
    snprintf(path, sizeof(path), "%s/make.err", s_BuildDir);
    FILE* f = s_BuildDir[0] != '\0' ? fopen(path, "rbe") : nullptr;
    if (f == nullptr) return;
    static char tail[4096];
    long start = fseek(f, 0, SEEK_END) == 0 ? ftell(f) - static_cast<long>(sizeof(tail) - 1) : 0;
    if (start < 0) start = 0;
    fseek(f, start, SEEK_SET);
    size_t n = fread(tail, 1, sizeof(tail) - 1, f);
    fclose(f);
    tail[n] = '\0';
    // The first line is cut when the file is longer than the tail read.
    char* text = tail;
    if (start > 0) text = strchr(tail, '\n') != nullptr ? strchr(tail, '\n') + 1 : tail + n;
    const char* lines[kErrorLinesShown];
    UINT32 count = 0;
    char* state = nullptr;
    for (char* line = strtok_r(text, "\n", &state); line != nullptr; line = strtok_r(nullptr, "\n", &state)) {
        if (count == kErrorLinesShown) {
            memmove(lines, lines + 1, sizeof(lines) - sizeof(lines[0]));
            --count;
        }
        lines[count++] = line;
    }
    size_t used = 0;
    for (UINT32 i = 0; i < count; ++i) {
        char line[160];
        size_t k = 0;
        for (const char* p = lines[i]; *p != '\0' && k < sizeof(line) - 1; ++p) {
            line[k++] = (*p >= 0x20 && *p < 0x7F) ? *p : '?';
        }
        line[k] = '\0';
        int w = snprintf(s_BuildErrors + used, sizeof(s_BuildErrors) - used, "  %s\n", line);
        if (w < 0 || static_cast<size_t>(w) >= sizeof(s_BuildErrors) - used) break;
        used += static_cast<size_t>(w);
    }
}

// A build that came this far made a module or says why not.
static int EndBuild() {
    char module[sizeof(s_BuildDir) + 16];
    if (!BuiltModuleExists(module, sizeof(module))) {
        s_NoModule = 1;
        KeepBuildErrors();
    }
    return 0;
}

UINT8 TKX_ReportBuildWithoutModule() {
    if (!s_NoModule) return 0;
    if (s_BuildErrors[0] == '\0') {
        WriteOut("ERROR : The driver build produced no module.\n");
    } else {
        WriteOut("ERROR : The driver build produced no module. Its last lines:\n");
        WriteOut("%s", s_BuildErrors);
    }
    return 1;
}

int CreateDriverSoueceFile(char* kernelArgument) {
    TKX_RemoveBuildDirectory();
    s_NoModule = 0;
    s_BuildErrors[0] = '\0';
    KERNEL_CHOICE k;
    if (!ChooseKernel(kernelArgument, k)) return -1;

    MemSet(&s_Text, 0, sizeof(s_Text));
    s_Text.Kernel24 = k.Kernel24;
    s_Text.RedHat = LocalExists(OsSeam_Path("/etc/redhat-release").c_str()) ? 1 : 0;
    if (!ChooseRemap(k, s_Text.Remap)) return -1;

    // Without its private directory nothing is built: the callers find no module.
    if (!MakeBuildDirectory()) return EndBuild();
    static const struct {
        const char* Name;
        TextWriter Writer;
    } kFiles[] = {{"nuvwrap.h", WriteNuvWrapHeader}, {"nuvwrap.c", WriteWrapSource},
                  {"nuvfldrv.h", WriteNuvCoreHeader}, {"nuvfldrv.c", WriteNuvCoreSource},
                  {"Makefile", WriteBuildMakefile}};
    for (const auto& f : kFiles) {
        char path[sizeof(s_SourceDir) + 16];
        snprintf(path, sizeof(path), "%s/%s", s_SourceDir, f.Name);
        WriteTextFile(path, f.Writer);
    }

    // The tree's path is plain (ChooseKernel), and make takes it on its
    // command line, where neither the environment nor a "?=" can replace it.
    if (k.Kernel24 && kernelArgument == nullptr) RunShellF("cp -f /boot/config-%s %s/.config", k.Release, k.Directory);
    int home = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (home >= 0 && chdir(s_SourceDir) == 0) {
        if (k.Kernel24) RunShellF("make %s clean> /dev/null", k.MakeArg);
        else RunShell("make clean > /dev/null");
        RunShellF("make %s > /dev/null 2> ../make.err", k.MakeArg);
        if (fchdir(home) != 0) {
            close(home);
            return -1;
        }
    }
    if (home >= 0) close(home);
    GenerateDriverSoueceFile(kernelArgument);
    Delay(1000000);
    return EndBuild();
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
        // Refused before anything looks at it or runs.
        if (!IsPlainPath(dir)) {
            RefuseKernelPath();
            return eEID_DRIVER_NOT_KERNEL_SOURCE;
        }
        if (!CheckKernelSource(dir)) return eEID_DRIVER_NOT_KERNEL_SOURCE;
        char word[kPathMax + 16];
        snprintf(word, sizeof(word), "%s ", next);
        created = CreateDriverSoueceFile(word);
    } else {
        created = CreateDriverSoueceFile(nullptr);
    }
    ENUM_ERR_ID status = eEID_NO_ERROR;
    char module[sizeof(s_BuildDir) + 16];
    if (created == -1) {
        status = eEID_DRIVER_NOT_KERNEL_SOURCE;
    } else if (generatedrv != 0) {
        // Success only when the kit is really there.
        status = s_KitWritten != 0 ? eEID_NO_ERROR : eEID_DRIVER_LOAD;
    } else if (!BuiltModuleExists(module, sizeof(module)) || !CopyIntoNewFile(module, "./nuvfldrv_mod.o")) {
        status = eEID_DRIVER_LOAD;
    }
    generatedrv = 0;
    TKX_RemoveBuildDirectory();
    return status;
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
            TKX_ReportBuildWithoutModule();
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
