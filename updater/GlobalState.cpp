// Run state of the global items and the walk order of the check records.
#include "YozGlobal.h"

INT16 YOZ_RomFileSizeStatus = -2;
UINT8* YOZ_pOriginalRomBuff = nullptr;
UINT32 YOZ_OriginalRomSize = 0;
UINT8* YOZ_pSecureFileBuff = nullptr;
UINT32 YOZ_SecureFileSize = 0;
UINT8 YOZ_bCapHead = 0;
UINT8 YOZ_bNewCapFile = 0;
UINT8 YOZ_bHaveME = 0;
UINT8* YOZ_pMEBuff = nullptr;
UINT32 YOZ_MESize = 0;
UINT8 YOZ_bMESupport = 0;
UINT8 YOZ_SecureFlashEnable = 0;
UINT8* YOZ_pFlashBuff = nullptr;

YOZ_GLOBAL_END_HOOK_LIST YOZ_GlobalEndHookFuncList;

// The records are read through their published pointers at the time of the
// walk, so a module that registers later is still seen.
#define YOZ_CHECK_RECORD_ADDRESS(Name) &Name,
static CHECK_FUNC_ITEM** const s_CheckRecordSlots[YOZ_CHECK_RECORD_SLOTS] = {
    YOZ_CHECK_RECORDS(YOZ_CHECK_RECORD_ADDRESS)};
#undef YOZ_CHECK_RECORD_ADDRESS

CHECK_FUNC_ITEM* YOZ_GlobalCheck_Record(UINT32 slot) {
    if (slot >= YOZ_CHECK_RECORD_SLOTS) return nullptr;
    return *s_CheckRecordSlots[slot];
}
