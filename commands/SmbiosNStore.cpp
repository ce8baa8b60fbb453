// "/R<n>" (n = 0 to 255, repeatable): keeps the system's SMBIOS structures of
// the listed types, copied into the ROM image's "BSA_" area before it is
// flashed.
#include <cstring>
#include <strings.h>
#include "YozOptionStore.h"
#include "YozPreserveStages.h"
#include "YozSwitchMode.h"

static TKX_QUEUE_ITEM SMBIOSNStoreQueueItem;
static CHECK_FUNC_ITEM SMBNCheckFunc;
CHECK_FUNC_ITEM* PtrSMBNCheckFunc = nullptr;
static YOZ_STAGE_SLOTS s_Slots;
TKXList<unsigned char> gSMBN_InputRnList;

static ENUM_ERR_ID SMBN_CheckRomFunc(INT16 sizeStatus) { return YOZ_RegionOpen_SizeCheck(sizeStatus); }

static UINT8 StoreListedTypes(UINT8* systemImage, _DMIDATA* dmi) {
    return SMBN_Proc_StoreDmiNData(systemImage, gSMBN_InputRnList, dmi);
}

// "/R" keeps every structure already: the chosen ones would only cut its
// area down.
static bool WholeAreaKept() { return PtrSMBCheckFunc != nullptr && *PtrSMBCheckFunc->enabled == 1; }

// The image side is tried before anything is stored or erased.
static ENUM_ERR_ID SMBN_CheckBlockFunc() {
    return WholeAreaKept() ? eEID_NO_ERROR : YOZ_Preserve_CheckImageSide(&gSMBN_DmiData, StoreListedTypes);
}

static ENUM_ERR_ID SMBN_ProcMainFvFlashBuffFunc() {
    return YOZ_Preserve_ImageSide(&gSMBN_DmiData, StoreListedTypes, SMBN_Proc_ReStoreDmiData);
}

static ENUM_ERR_ID SMBN_FlashFunc() { return eEID_NO_ERROR; }

// The type of a word "/R" followed by one to three decimal digits, any
// case; -1 for any other word or a type past 255.
static int TypeWord(const char* word) {
    size_t length = strlen(word);
    if (length < 3 || length > 5 || strncasecmp(word, "/R", 2) != 0) return -1;
    int type = 0;
    for (const char* p = word + 2; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') return -1;
        type = type * 10 + (*p - '0');
    }
    return type <= 255 ? type : -1;
}

static ENUM_ERR_ID SMBIOSNStoreParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    if (!YOZ_ModeTakesPart(self->ModeMask)) return eEID_NO_ERROR;
    gSMBN_InputRnList.clear();
    SMB_Proc_FreeDmiData(&gSMBN_DmiData);
    self->Enabled = 0;
    for (unsigned long i = 1; i < args.size(); ++i) {
        int type = TypeWord(args[i]->text);
        if (type < 0) continue;
        if (YOZ_ClaimOptionWord(self, args, i) != eEID_NO_ERROR) return eEID_COMMAND_LINE;
        gSMBN_InputRnList.push_back(static_cast<unsigned char>(type));
    }
    return eEID_NO_ERROR;
}

// In capsule or recovery mode the signed file is left as it is.
static ENUM_ERR_ID SMBIOSNStoreExecute(TKXQueueItemList&) {
    if (!YOZ_ModeTakesPart(SMBIOSNStoreQueueItem.ModeMask)) return eEID_NO_ERROR;
    if (YOZ_Preserve_SkipInCapsuleMode() || WholeAreaKept()) return eEID_NO_ERROR;
    return YOZ_RunStages(s_Slots, "P F");
}

static void SMBIOSNStoreHelp(UINT8 pass) {
    static const char* const kLines[] = {"|%*s - Preserve SMBIOS type N during programming(n=0-255)           |\n"};
    YOZ_OptionHelp(SMBIOSNStoreQueueItem, pass, "/R", "n", kLines, 1);
}

ENUM_ERR_ID RegisterSMBIOSNStoreQueueItem(TKXQueueItemList& items) {
    static const YOZ_PRESERVE_ENTRIES kEntries = {eMID_SMBIOSNSTORE, SMBIOSNStoreParse, SMBIOSNStoreExecute,
                                                  SMBIOSNStoreHelp, "/R", SMBN_CheckRomFunc, SMBN_CheckBlockFunc};
    s_Slots = YOZ_Preserve_Slots(nullptr, SMBN_ProcMainFvFlashBuffFunc, SMBN_FlashFunc);
    return YOZ_Preserve_RegisterStore(items, SMBIOSNStoreQueueItem, kEntries, SMBNCheckFunc, PtrSMBNCheckFunc);
}
