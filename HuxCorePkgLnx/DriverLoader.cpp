// Loading of the kernel driver: the prebuilt or freshly built module is
// inserted, its major number taken from /proc/devices, its node made and
// opened. The unloader closes the device and removes the node and the module
// file; the module itself stays loaded until the next run replaces it.
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
#include "TKXString.h"

int Fd = -1;
UINT8 DriverInstalled = 0;
char DrvNode[128] = {0};

static const unsigned int kNodeMode = S_IFCHR | 0600;

// First line of /proc/devices that names the driver: 1 and its number.
static UINT8 FindDriverLine(int& major) {
    major = 0;
    FILE* f = fopen(OsSeam_Path("/proc/devices").c_str(), "r");
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
    OsSeam_System("rmmod nuvfldrv_mod");
    return 0;
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

static bool OpenNode() {
    Fd = open(OsSeam_Path(DrvNode).c_str(), O_RDWR | O_CLOEXEC);
    return Fd >= 0;
}

// Undoes a half-made load: node removed, module removed.
static ENUM_ERR_ID FailLoad() {
    unlink(OsSeam_Path(DrvNode).c_str());
    OsSeam_System("rmmod nuvfldrv_mod");
    Fd = -1;
    return eEID_DRIVER_LOAD;
}

ENUM_ERR_ID FLASH_LoadDriver() {
    if (access("./nuvfldrv_mod.o", F_OK) == 0) {
        OsSeam_System("cp -f --preserve=all ./nuvfldrv_mod.o ./nuvfldrv_mod");
    } else if (CreateDriverSoueceFile(nullptr) == -1) {
        return eEID_DRIVER_NOT_KERNEL_SOURCE;
    }
    if (access("./nuvfldrv_mod", F_OK) != 0) return eEID_DRIVER_LOAD;

    ChooseNodePath();
    int major = 0;
    // A module left loaded by an earlier run is replaced by this run's.
    if (FindDriverLine(major)) OsSeam_System("rmmod nuvfldrv_mod > /dev/null");
    major = 0;
    if (OpenNode()) return eEID_NO_ERROR;
    if (FindDriverLine(major) && major != 0 && MakeNode(major) && OpenNode()) return eEID_NO_ERROR;

    OsSeam_System("insmod ./nuvfldrv_mod 2> /dev/null > /dev/null");
    if (!CheckNUVDevice(major, 1)) {
        OsSeam_System("insmod nuvfldrv_mod 2> /dev/null > /dev/null");
        if (!CheckNUVDevice(major, 1)) {
            WriteOut("ERROR : Unable to load driver.\n");
            return eEID_DRIVER_LOAD;
        }
    }
    if (!MakeNode(major)) {
        int e = errno;
        WriteOut("ERROR : %X Unable to create node nuvfl : %s\n", e, strerror(e));
        return FailLoad();
    }
    if (!OpenNode()) {
        int e = errno;
        WriteOut("ERROR : %X Unable to open driver: %s\n", e, strerror(e));
        return FailLoad();
    }
    return eEID_NO_ERROR;
}

void FLASH_UnloadDriver() {
    if (Fd == -1) return;
    OsSeam_Close(Fd);
    Fd = -1;
    unlink(OsSeam_Path(DrvNode).c_str());
    unlink("./nuvfldrv_mod");
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
