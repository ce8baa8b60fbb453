// The Secure Boot state of the run, read once from the "SecureBoot" UEFI
// variable by an early-init hook. A variable that cannot be read means off.
#include "TKXEfiVar.h"
#include "TKXPhysMem.h"

UINT8 bSecureBootEnable = 0;

const EFI_GUID SECUREBOOTVARIABLE_GUID = {0x8BE4DF61, 0x93CA, 0x11D2, {0xAA, 0x0D, 0x00, 0xE0, 0x98, 0x03, 0x2B, 0x8C}};

void TKX_Linux_SecureBoot_Check(TKXArgvList&, UINT8&) {
    bSecureBootEnable = 0;
    UINT8* data = nullptr;
    UINT32 size = 0;
    EFI_GUID guid = SECUREBOOTVARIABLE_GUID;
    UINT8 name[] = "SecureBoot";
    if (OS_GetFirmwareVariable(name, &guid, &data, &size) != 0) return;
    // efivarfs hands out the data; the older interface the whole record.
    UINT32 first = varPathChoice == 2 ? static_cast<UINT32>(offsetof(EFI_SYSFS_VARIABLE, Data)) : 0;
    if (data != nullptr && size > first && data[first] != 0) bSecureBootEnable = 1;
    FreeMem(data);
}

UINT8 TKX_Get_Linux_SecureBoot_Enable() { return bSecureBootEnable; }
