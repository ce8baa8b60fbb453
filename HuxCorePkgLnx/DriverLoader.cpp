// Loading of the kernel driver: the prebuilt module of the working directory
// (only when no other user could have written it) or one built in a private
// directory is loaded from an open descriptor, its major number taken from
// /proc/devices, its node made and opened. The unloader closes the device,
// removes the node and unloads the module, so nothing of it outlives the run.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include "OsSeam.h"
#include "TKXDriver.h"
#include "TKXPhysMem.h"
#include "TKXString.h"

int Fd = -1;
UINT8 DriverInstalled = 0;
char DrvNode[128] = {0};

static const unsigned int kNodeMode = S_IFCHR | 0600;
static const char kModuleName[] = "nuvfldrv_mod";
static const char kPrebuiltName[] = "nuvfldrv_mod.o";

// First line of /proc/devices that names the driver: 1 and its number.
static UINT8 FindDriverLine(int& major) {
    major = 0;
    FILE* f = fopen(OsSeam_Path("/proc/devices").c_str(), "re");
    if (f == nullptr) return 0;
    char line[128];
    UINT8 found = 0;
    while (fgets(line, sizeof(line), f) != nullptr) {
        if (strstr(line, "nuvfldrv") != nullptr) {
            major = atoi(line);
            found = 1;
            break;
        }
    }
    fclose(f);
    return found;
}

UINT8 CheckNUVDevice(int& major, UINT8 verbose) {
    if (FindDriverLine(major)) return 1;
    if (verbose) WriteOut("ERROR : driver \"nuvfldrv\" not found\n");
    OsSeam_UnloadModule(kModuleName);
    return 0;
}

// Owned by root (or by whoever runs the program) and writable by no one else.
static bool OwnedAlone(const struct stat& st) {
    return (st.st_uid == 0 || st.st_uid == geteuid()) && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Opens the module file `name` of `directory` for loading: never through a
// link, only a regular file that no one but its owner, root, can write, in a
// directory of the same kind, so that no other user can have put or changed
// it. -1, after saying why, when it is refused.
static int OpenTrustedModule(const char* directory, const char* name, const char* shown) {
    int dir = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat st;
    if (dir < 0 || fstat(dir, &st) != 0 || !OwnedAlone(st)) {
        if (dir >= 0) close(dir);
        WriteOut("ERROR : %s is refused: its directory must be owned by root and writable by root alone.\n", shown);
        return -1;
    }
    int fd = openat(dir, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    close(dir);
    if (fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && OwnedAlone(st)) return fd;
    if (fd >= 0) close(fd);
    WriteOut("ERROR : %s is refused: it must be a regular file owned by root and writable by root alone.\n", shown);
    return -1;
}

static bool IsWritableDirectory(const char* path) {
    std::string real = OsSeam_Path(path);
    DIR* d = opendir(real.c_str());
    if (d == nullptr) return false;
    closedir(d);
    return access(real.c_str(), W_OK) == 0;
}

// The node goes to /dev when it can: the current directory may be on a
// nodev mount, where a node can be made but not opened.
static void ChooseNodePath() {
    if (IsWritableDirectory("/dev")) {
        TKX_BoundedCopy(DrvNode, "/dev/nuvfl", sizeof(DrvNode) - 1);
    } else if (OsSeam_Mknod("nuvfl", kNodeMode, makedev(0, 0)) == 0) {
        TKX_BoundedCopy(DrvNode, "nuvfl", sizeof(DrvNode) - 1);
    } else {
        TKX_BoundedCopy(DrvNode, "/nuvfl", sizeof(DrvNode) - 1);
    }
    unlink(OsSeam_Path(DrvNode).c_str());
}

static bool MakeNode(int major) {
    return OsSeam_Mknod(OsSeam_Path(DrvNode).c_str(), kNodeMode, makedev(static_cast<unsigned>(major), 0)) == 0;
}

// Only the driver's own device is opened: a link or anything else planted at
// the node's path is refused.
static bool OpenNode(int major) {
    Fd = OsSeam_OpenDriverNode(OsSeam_Path(DrvNode).c_str(), major);
    return Fd >= 0;
}

// Undoes a half-made load: node removed, module unloaded.
static ENUM_ERR_ID FailLoad() {
    unlink(OsSeam_Path(DrvNode).c_str());
    OsSeam_UnloadModule(kModuleName);
    Fd = -1;
    return eEID_DRIVER_LOAD;
}

// Loads the module open at `module` and opens its device.
static ENUM_ERR_ID LoadAndOpen(int module) {
    ChooseNodePath();
    int major = 0;
    // A module left loaded by an earlier run (one that was killed) is
    // replaced by this run's, and the operator told; one that stays (in use)
    // is taken as it is when its device opens.
    if (FindDriverLine(major) && OsSeam_UnloadModule(kModuleName) == 0) {
        WriteOut("NOTE : Replacing the driver an earlier run left loaded.\n");
    }
    if (FindDriverLine(major) && major != 0) {
        if (MakeNode(major) && OpenNode(major)) return eEID_NO_ERROR;
        unlink(OsSeam_Path(DrvNode).c_str());
    }
    if (OsSeam_LoadModule(module) != 0) {
        int e = errno;
        WriteOut("ERROR : %X Unable to load driver: %s\n", e, strerror(e));
        return eEID_DRIVER_LOAD;
    }
    if (!CheckNUVDevice(major, 1)) {
        WriteOut("ERROR : Unable to load driver.\n");
        return eEID_DRIVER_LOAD;
    }
    if (!MakeNode(major)) {
        int e = errno;
        WriteOut("ERROR : %X Unable to create node nuvfl : %s\n", e, strerror(e));
        return FailLoad();
    }
    if (!OpenNode(major)) {
        int e = errno;
        WriteOut("ERROR : %X Unable to open driver: %s\n", e, strerror(e));
        return FailLoad();
    }
    return eEID_NO_ERROR;
}

ENUM_ERR_ID FLASH_LoadDriver() {
    int module = -1;
    struct stat st;
    if (lstat(kPrebuiltName, &st) == 0) {
        module = OpenTrustedModule(".", kPrebuiltName, "./nuvfldrv_mod.o");
    } else {
        int built = CreateDriverSoueceFile(nullptr);
        // The descriptor keeps the module once its private directory is gone.
        if (built != -1 && !TKX_ReportBuildWithoutModule() && TKX_BuiltModuleDirectory()[0] != '\0') {
            module = OpenTrustedModule(TKX_BuiltModuleDirectory(), kModuleName, kModuleName);
        }
        TKX_RemoveBuildDirectory();
        if (built == -1) return eEID_DRIVER_NOT_KERNEL_SOURCE;
    }
    if (module < 0) return eEID_DRIVER_LOAD;
    ENUM_ERR_ID status = LoadAndOpen(module);
    close(module);
    return status;
}

void FLASH_UnloadDriver() {
    if (Fd == -1) return;
    // A mapping holds the device open, and the device the module.
    TKX_UnmapDriverMappings();
    OsSeam_Close(Fd);
    Fd = -1;
    unlink(OsSeam_Path(DrvNode).c_str());
    if (OsSeam_UnloadModule(kModuleName) != 0 && errno != ENOENT) {
        int e = errno;
        WriteOut("ERROR : %X Unable to unload driver: %s\n", e, strerror(e));
    }
}

BOOLEAN TKX_LinuxDriverLoader(TKXArgvList&, UINT32 loadedSoFar) {
    DriverInstalled = 0;
    if (loadedSoFar != 0) return 0;
    DriverInstalled = FLASH_LoadDriver() == eEID_NO_ERROR ? 1 : 0;
    return DriverInstalled;
}

void TKX_LinuxDriverUnloader(TKXArgvList&) {
    if (DriverInstalled) FLASH_UnloadDriver();
}

int TKX_DriverRequest(unsigned long request, void* record) {
    if (Fd == -1) return -1;
    return OsSeam_Ioctl(Fd, request, record) == 0 ? 0 : -1;
}
