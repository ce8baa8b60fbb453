// Lays out the emulated kernel (its /proc/devices, a module left loaded, the
// tree under /lib/modules, /tmp) and the firmware's variable interfaces.
#include "EmuDriverInit.h"
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include "EmuKernel.h"
#include "EmuMachine.h"

static bool MakeDirs(const std::string& path) {
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            if (mkdir(path.substr(0, i).c_str(), 0755) != 0 && errno != EEXIST) return false;
        }
    }
    return true;
}

static bool WriteFile(const std::string& path, const std::string& data) {
    FILE* f = fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    fwrite(data.data(), 1, data.size(), f);
    return fclose(f) == 0;
}

static const char kMmH[] =
    "/* emulated kernel tree */\n"
    "int remap_pfn_range(struct vm_area_struct *, unsigned long addr, unsigned long pfn, unsigned long size, "
    "pgprot_t);\n";

bool EmuInit_KernelTree(std::string& error) {
    EmuKernel_SetModuleLoaded(EmuMachine_GetNum("stale_driver", 0) != 0);
    // The system's /tmp, where a build makes its private directory.
    std::string tmp = EmuMachine_Root("/tmp");
    if (!MakeDirs(tmp) || chmod(tmp.c_str(), 01777) != 0) {
        error = "cannot make " + tmp;
        return false;
    }
    std::string tree = EmuMachine_Get("kernel_tree", "none");
    std::string base = EmuMachine_Root(("/lib/modules/" + EmuKernel_Release()).c_str());
    bool ok = true;
    if (tree == "build" || tree == "split") {
        ok = MakeDirs(base + "/build") && WriteFile(base + "/build/Makefile", "# emulated kernel tree\n");
        if (ok && tree == "build") {
            ok = MakeDirs(base + "/build/include/linux") && WriteFile(base + "/build/include/linux/mm.h", kMmH);
        }
    } else if (tree == "source") {
        ok = MakeDirs(base + "/source/include/linux") && WriteFile(base + "/source/include/linux/mm.h", kMmH);
    } else if (tree.compare(0, 5, "host:") == 0) {
        ok = MakeDirs(base) && symlink(tree.substr(5).c_str(), (base + "/build").c_str()) == 0;
    } else if (tree != "none") {
        error = "kernel_tree must be none, build, split, source or host:DIR";
        return false;
    }
    // Every tree but "source" comes with a compiler.
    if (ok && tree != "none" && tree != "source") {
        ok = MakeDirs(EmuMachine_Root("/usr/bin")) && WriteFile(EmuMachine_Root("/usr/bin/gcc"), "");
    }
    if (!ok) error = "cannot lay out the kernel tree under " + base;
    return ok;
}

static const char kSecureBootName[] = "SecureBoot-8be4df61-93ca-11d2-aa0d-00e098032b8c";
static const unsigned char kGlobalGuid[16] = {0x61, 0xdf, 0xe4, 0x8b, 0xca, 0x93, 0xd2, 0x11,
                                              0xaa, 0x0d, 0x00, 0xe0, 0x98, 0x03, 0x2b, 0x8c};

// The older interface's record, as the kernel presents it to a reader of
// efi_vars_width bits.
static std::string SysfsRecord(const char* name, const std::string& data, unsigned width) {
    unsigned w = width / 8;
    std::string r(1040 + w + 1024 + w + 4, '\0');
    for (size_t i = 0; name[i] != '\0'; ++i) r[2 * i] = name[i];
    memcpy(&r[1024], kGlobalGuid, 16);
    r[1040] = static_cast<char>(data.size());
    memcpy(&r[1040 + w], data.data(), data.size());
    r[1040 + w + 1024 + w] = 6;  // boot-service and run-time access
    return r;
}

bool EmuInit_EfiVars(std::string& error) {
    std::string vars = EmuMachine_Get("efi_vars", "none");
    bool sysfs = vars == "vars" || vars == "both";
    bool efivarfs = vars == "efivars" || vars == "both";
    if (!sysfs && !efivarfs && vars != "none") {
        error = "efi_vars must be none, vars, efivars or both";
        return false;
    }
    bool have = EmuMachine_Has("secure_boot");
    std::string data(1, static_cast<char>(EmuMachine_GetNum("secure_boot", 0)));
    bool ok = true;
    if (sysfs) {
        std::string dir = EmuMachine_Root("/sys/firmware/efi/vars/");
        ok = MakeDirs(dir);
        if (ok && have) {
            unsigned width = static_cast<unsigned>(EmuMachine_GetNum("efi_vars_width", 64));
            ok = MakeDirs(dir + kSecureBootName) &&
                 WriteFile(dir + kSecureBootName + "/raw_var", SysfsRecord("SecureBoot", data, width));
        }
    }
    if (ok && efivarfs) {
        std::string dir = EmuMachine_Root("/sys/firmware/efi/efivars/");
        ok = MakeDirs(dir) && (!have || WriteFile(dir + kSecureBootName, std::string("\x06\0\0\0", 4) + data));
    }
    if (!ok) error = "cannot lay out the UEFI variables";
    return ok;
}
