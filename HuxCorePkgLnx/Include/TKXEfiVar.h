// UEFI variables through the kernel's sysfs interfaces, and the Secure Boot
// state of the run.
#pragma once
#include "HuxCore.h"

// Interface in use: 2 the older /sys/firmware/efi/vars/, 1 efivarfs, 0 none yet.
extern int varPathChoice;
extern UINT8 bSecureBootEnable;
extern const EFI_GUID SECUREBOOTVARIABLE_GUID;

// statfs f_type of efivarfs.
const UINT64 EFIVARFS_MAGIC = 0xDE5E81E4;
const UINT32 EFI_VARIABLE_ATTRIBUTES = 7;  // non-volatile, boot-service and run-time access

// The kernel's efi_variable record of the older interface.
#pragma pack(push, 1)
struct EFI_SYSFS_VARIABLE {
    UINT16 VariableName[512];
    EFI_GUID VendorGuid;
    unsigned long DataSize;
    UINT8 Data[1024];
    unsigned long Status;
    UINT32 Attributes;
};
#pragma pack(pop)
static_assert(sizeof(EFI_SYSFS_VARIABLE) == 2068 + 2 * sizeof(long), "2084 or 2076 bytes");
static_assert(offsetof(EFI_SYSFS_VARIABLE, DataSize) == 1040, "DataSize follows the GUID");
static_assert(offsetof(EFI_SYSFS_VARIABLE, Data) == 1040 + sizeof(long), "Data follows DataSize");

int OS_FirmwareVariableInit();
// 0 with *data (free with FreeMem) and *size; 0xFF on any failure. The older
// interface hands out the whole record, efivarfs the data alone.
UINT32 OS_GetFirmwareVariable(UINT8* name, EFI_GUID* guid, UINT8** data, UINT32* size);
UINT32 OS_SetFirmwareVariable(UINT8* name, EFI_GUID* guid, UINT8* data, UINT32 size);
void AsciiToUnicode16LE(UINT8* text, UINT16* out, UINT32 count);

void TKX_Linux_SecureBoot_Check(TKXArgvList& args, UINT8& IfConti);
UINT8 TKX_Get_Linux_SecureBoot_Enable();
