// UEFI variables: the older sysfs interface (/sys/firmware/efi/vars/, one
// efi_variable record per variable) is preferred; efivarfs (recognised by its
// file-system type) is the other. Failures are reported as 0xFF, silently.
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include "OsSeam.h"
#include "TKXEfiVar.h"
#include "TKXPhysMem.h"
#include "TKXString.h"

int varPathChoice = 0;

static const UINT32 kFail = 0xFF;
static const UINT32 kNameMax = 511;
static const UINT32 kPathMax = 1024;

static bool IsDirectory(const char* path) {
    struct stat st;
    return stat(OsSeam_Path(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int OS_FirmwareVariableInit() {
    if (varPathChoice != 0) return varPathChoice;
    if (IsDirectory("/sys/firmware/efi/vars/")) {
        varPathChoice = 2;
    } else if (IsDirectory("/sys/firmware/efi/efivars/") &&
               OsSeam_FsType(OsSeam_Path("/sys/firmware/efi/efivars/").c_str()) == EFIVARFS_MAGIC) {
        varPathChoice = 1;
    }
    return varPathChoice;
}

void AsciiToUnicode16LE(UINT8* text, UINT16* out, UINT32 count) {
    for (UINT32 i = 0; i < count; ++i) {
        UINT8* le = reinterpret_cast<UINT8*>(&out[i]);
        le[0] = text[i];
        le[1] = 0;
    }
}

// System path of a variable's file: prefix, "Name-GUID", suffix.
static bool VariablePath(char* path, const char* prefix, const UINT8* name, const EFI_GUID* guid,
                         const char* suffix) {
    if (name == nullptr || guid == nullptr || strlen(reinterpret_cast<const char*>(name)) > kNameMax) return false;
    const UINT8* d = guid->Data4;
    int n = snprintf(path, kPathMax, "%s%s-%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x%s", prefix,
                     reinterpret_cast<const char*>(name), guid->Data1, guid->Data2, guid->Data3, d[0], d[1], d[2],
                     d[3], d[4], d[5], d[6], d[7], suffix);
    return n > 0 && static_cast<UINT32>(n) < kPathMax;
}

static bool ReadAll(int fd, UINT8* buffer, size_t size) {
    size_t done = 0;
    while (done < size) {
        ssize_t n = read(fd, buffer + done, size - done);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

static UINT32 GetEfivarfs(UINT8* name, EFI_GUID* guid, UINT8** data, UINT32* size) {
    char path[kPathMax];
    if (data == nullptr || size == nullptr) return kFail;
    if (!VariablePath(path, "/sys/firmware/efi/efivars/", name, guid, "")) return kFail;
    int fd = open(OsSeam_Path(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return kFail;
    struct stat st;
    // The file holds a 4-byte attribute word before the data.
    if (fstat(fd, &st) != 0 || st.st_size < 4 || st.st_size > 0x7FFFFFFF) {
        close(fd);
        return kFail;
    }
    UINT32 dataSize = static_cast<UINT32>(st.st_size) - 4;
    UINT8* buffer = AllocMem(dataSize);
    UINT8 attributes[4];
    if (buffer == nullptr || !ReadAll(fd, attributes, 4) || !ReadAll(fd, buffer, dataSize)) {
        FreeMem(buffer);
        close(fd);
        return kFail;
    }
    close(fd);
    *data = buffer;
    *size = dataSize;
    return 0;
}

static UINT32 GetSysfsVars(UINT8* name, EFI_GUID* guid, UINT8** data, UINT32* size) {
    char path[kPathMax];
    if (data == nullptr || size == nullptr) return kFail;
    if (!VariablePath(path, "/sys/firmware/efi/vars/", name, guid, "/raw_var")) return kFail;
    FILE* f = fopen(OsSeam_Path(path).c_str(), "rbe");
    if (f == nullptr) return kFail;
    long length = -1;
    if (fseek(f, 0, SEEK_END) == 0) length = ftell(f);
    if (length <= 0 || length > 0x100000 || fseek(f, 0, SEEK_SET) != 0) {
        fclose(f);
        return kFail;
    }
    UINT8* buffer = AllocMem(static_cast<UINT32>(length));
    if (buffer == nullptr || fread(buffer, 1, static_cast<size_t>(length), f) != static_cast<size_t>(length)) {
        FreeMem(buffer);
        fclose(f);
        return kFail;
    }
    fclose(f);
    *data = buffer;
    *size = static_cast<UINT32>(length);
    return 0;
}

UINT32 OS_GetFirmwareVariable(UINT8* name, EFI_GUID* guid, UINT8** data, UINT32* size) {
    switch (OS_FirmwareVariableInit()) {
    case 1:
        return GetEfivarfs(name, guid, data, size);
    case 2:
        return GetSysfsVars(name, guid, data, size);
    default:
        return kFail;
    }
}

static UINT32 SetEfivarfs(UINT8* name, EFI_GUID* guid, UINT8* data, UINT32 size) {
    char path[kPathMax];
    if (!VariablePath(path, "/sys/firmware/efi/efivars/", name, guid, "")) return kFail;
    if (size > 0x100000 || (size != 0 && data == nullptr)) return kFail;
    UINT8* buffer = AllocMem(size + 4);
    if (buffer == nullptr) return kFail;
    UINT32 attributes = EFI_VARIABLE_ATTRIBUTES;
    MemCpy(buffer, &attributes, 4);
    if (size != 0) MemCpy(buffer + 4, data, size);
    UINT32 result = kFail;
    int fd = open(OsSeam_Path(path).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) {
        if (ftruncate(fd, static_cast<off_t>(size) + 4) == 0 &&
            write(fd, buffer, size + 4) == static_cast<ssize_t>(size + 4)) {
            result = 0;
        }
        close(fd);
    }
    FreeMem(buffer);
    return result;
}

static UINT32 SetSysfsVars(UINT8* name, EFI_GUID* guid, UINT8* data, UINT32 size) {
    char rawPath[kPathMax];
    if (!VariablePath(rawPath, "/sys/firmware/efi/vars/", name, guid, "/raw_var")) return kFail;
    if (size > sizeof(EFI_SYSFS_VARIABLE::Data) || (size != 0 && data == nullptr)) return kFail;
    std::string raw = OsSeam_Path(rawPath);
    FILE* probe = fopen(raw.c_str(), "rbe");
    bool exists = probe != nullptr;
    if (probe != nullptr) fclose(probe);

    EFI_SYSFS_VARIABLE* record = reinterpret_cast<EFI_SYSFS_VARIABLE*>(AllocMem(sizeof(EFI_SYSFS_VARIABLE)));
    if (record == nullptr) return kFail;
    AsciiToUnicode16LE(name, record->VariableName, static_cast<UINT32>(strlen(reinterpret_cast<char*>(name))));
    MemCpy(&record->VendorGuid, guid, sizeof(EFI_GUID));
    record->DataSize = size;
    if (size != 0) MemCpy(record->Data, data, size);
    record->Status = 0;
    record->Attributes = EFI_VARIABLE_ATTRIBUTES;

    UINT32 result = kFail;
    FILE* f = fopen(exists ? raw.c_str() : OsSeam_Path("/sys/firmware/efi/vars/new_var").c_str(), "wbe");
    if (f != nullptr) {
        // sysfs reports a refused record when the buffered data is written out.
        bool written = fwrite(record, sizeof(EFI_SYSFS_VARIABLE), 1, f) == 1;
        if (fclose(f) == 0 && written) result = 0;
    }
    FreeMem(record);
    return result;
}

UINT32 OS_SetFirmwareVariable(UINT8* name, EFI_GUID* guid, UINT8* data, UINT32 size) {
    switch (OS_FirmwareVariableInit()) {
    case 1:
        return SetEfivarfs(name, guid, data, size);
    case 2:
        return SetSysfsVars(name, guid, data, size);
    default:
        return kFail;
    }
}
