// Command flags, value flags and the run globals of the option store.
#include "YozOptionStore.h"
#include "SecureFlash.h"

#define YOZ_DEFINE_COMMAND_FLAG(Setter, Getter)                         \
    static UINT8* s_p##Getter = nullptr;                                \
    void Setter(UINT8* enabled) { s_p##Getter = enabled; }              \
    UINT8 Getter() { return s_p##Getter == nullptr ? 0 : *s_p##Getter; }
#define YOZ_DEFINE_VALUE_FLAG(Setter, Getter, Storage, Start) \
    UINT8 Storage = Start;                                    \
    void Setter(UINT8 value) { Storage = value; }             \
    UINT8 Getter() { return Storage; }
YOZ_COMMAND_FLAGS(YOZ_DEFINE_COMMAND_FLAG)
YOZ_VALUE_FLAGS(YOZ_DEFINE_VALUE_FLAG)

UINT8 YOZ_bFlashPBN = 0;

UINT8 YOZ_GetPBNCmdIsEnable() {
    YOZ_bFlashPBN = (YOZ_GetBCmdIsEnable() && YOZ_GetPCmdIsEnable() && YOZ_GetNCmdIsEnable()) ? 1 : 0;
    return YOZ_bFlashPBN;
}

UINT8 YOZ_SecureFlashFlag = 0;

void YOZ_CheckSecureFlash() { YOZ_SecureFlashFlag = FLASH_IsSecureFlashSupported(); }

UINT8 YOZ_GetSecureFlashStatus() { return FLASH_IsSecureFlashSupported(); }

UINT8 YOZ_CommandNum = 0;
UINT8* YOZ_pInputLnList = nullptr;
UINT8 YOZ_bCAFFlag = 0;

ENUM_ERR_ID YOZ_OEM_ErrorPrintf(ENUM_ERR_ID code) { return code; }

UINT8 YOZ_GUIControl() { return 0; }
