// The EFI system partition as the firmware sees it: a FAT file system
// mounted at "/boot/efi". The directory alone proves nothing: the empty
// mount point of an unmounted partition lies on the root file system, where
// the firmware never looks.
#include <cstring>
#include <string>
#include <sys/stat.h>
#include "OsSeam.h"
#include "TKXFile.h"

static const UINT64 kFatMagic = 0x4d44;  // statfs type of vfat and msdos

UINT8 TKX_GetEspDirectory(char* out, UINT32 max) {
    std::string path = OsSeam_Path("/boot/efi");
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return 0;
    if (OsSeam_FsType(path.c_str()) != kFatMagic) return 0;
    if (out == nullptr || path.size() + 1 > max) return 0;
    memcpy(out, path.c_str(), path.size() + 1);
    return 1;
}
