// Parse, check record and image side shared by the preservation modules.
#include "TKXOutput.h"
#include "TKXRunEnd.h"
#include "TKXString.h"
#include "YozOptionStore.h"
#include "YozPreserveStages.h"
#include "YozRomFile.h"
#include "YozSwitchMode.h"
#include "YozSysRom.h"
#include "YozZozRecords.h"
#include "ZoktOutcome.h"
#include "ZoktVarPreserve.h"

_DMIDATA gSMB_DmiData = {nullptr, SMB_DMI_EMPTY, 0, 0};
_DMIDATA gSMBN_DmiData = {nullptr, SMB_DMI_EMPTY, 0, 0};
static UINT8 s_CapsuleNoticeShown = 0;

// The item of the entries in normal and FTF mode.
static void Register(TKXQueueItemList& items, TKX_QUEUE_ITEM& item, const YOZ_PRESERVE_ENTRIES& e, UINT16 orderKey,
                     UINT8 regionOpen) {
    item = TKX_QUEUE_ITEM{e.ModuleId, e.Parse, e.Execute, e.Help, nullptr, 0, 0, orderKey,
                          YOZ_MODE_NORMAL | YOZ_MODE_FTF, regionOpen};
    items.push_back(&item);
}

ENUM_ERR_ID YOZ_Preserve_RegisterStore(TKXQueueItemList& items, TKX_QUEUE_ITEM& item, const YOZ_PRESERVE_ENTRIES& e,
                                       CHECK_FUNC_ITEM& record, CHECK_FUNC_ITEM*& published) {
    Register(items, item, e, 0x58EF, 1);
    YOZ_ZOZ_RegisterModule(static_cast<ENUM_MODULE_ID>(e.ModuleId), e.Word);
    record = CHECK_FUNC_ITEM{e.CheckRom, e.CheckBlock, 1, 1, 1, 1, 1, 1, &item.Enabled};
    published = &record;
    return eEID_NO_ERROR;
}

ENUM_ERR_ID YOZ_Preserve_RegisterRestore(TKXQueueItemList& items, TKX_QUEUE_ITEM& item, const YOZ_PRESERVE_ENTRIES& e,
                                         YOZ_STAGE_SLOTS& slots, YOZ_StageFunc restore) {
    Register(items, item, e, 0x8001, 0);
    slots = YOZ_STAGE_SLOTS{};
    slots.ZOKTFunc = restore;
    return eEID_NO_ERROR;
}

YOZ_STAGE_SLOTS YOZ_Preserve_Slots(YOZ_StageFunc zoktCheck, YOZ_StageFunc process, YOZ_StageFunc flash) {
    YOZ_STAGE_SLOTS slots{};
    slots.ZOKTCheck = zoktCheck;
    slots.ProcessFunc = process;
    slots.FlashFunc = flash;
    return slots;
}

ENUM_ERR_ID YOZ_Preserve_Parse(TKX_QUEUE_ITEM* item, TKXArgvList& args, const char* word, YOZ_STAGE_SLOTS& slots,
                               const YOZ_STAGE_SLOTS& registered) {
    item->Enabled = 0;
    s_CapsuleNoticeShown = 0;
    if (!YOZ_ModeTakesPart(item->ModeMask)) return eEID_NO_ERROR;
    slots = registered;
    for (unsigned long i = 1; i < args.size(); ++i) {
        if (IdentifyArg(args[i]->text, word, 1) != 1) continue;
        if (YOZ_ClaimOptionWord(item, args, i) != eEID_NO_ERROR) return eEID_COMMAND_LINE;
    }
    return eEID_NO_ERROR;
}

ENUM_ERR_ID YOZ_Preserve_RestoreParse(TKX_QUEUE_ITEM* item) {
    if (!YOZ_ModeTakesPart(item->ModeMask)) return eEID_NO_ERROR;
    item->Enabled = 1;
    return eEID_NO_ERROR;
}

// The block types the run writes from the image: the boot block ("/B" or
// the second boot-block word) and the main block ("/P").
static UINT32 WrittenBlocks() {
    UINT32 blocks = 0;
    if (YOZ_GetBCmdIsEnable() || YOZ_GetB2CmdIsEnable()) blocks |= 1u << YOZ_BLOCK_BOOT;
    if (YOZ_GetPCmdIsEnable()) blocks |= 1u << YOZ_BLOCK_MAIN;
    return blocks;
}

ENUM_ERR_ID YOZ_Preserve_ImageSide(_DMIDATA* dmi, YOZ_DmiStoreFunc store, YOZ_DmiStoreFunc restore) {
    // A run that writes neither block leaves the system's area where it is.
    UINT32 blocks = WrittenBlocks();
    if (blocks == 0) return eEID_NO_ERROR;
    if (restore != nullptr && YOZ_RegionFlash_AllocMap() != eEID_NO_ERROR) return eEID_MEM_ALLOC;
    UINT8* system = YOZ_SysRom_GetBuffer();
    if (system == nullptr) return eEID_MEM_ALLOC;
    // An area in none of the blocks written, on either side, stays as it is.
    if (!SMB_Proc_AreaInBlocks(system, 0, blocks) && !SMB_Proc_AreaInBlocks(YOZ_pOpenFileBuff, 1, blocks))
        return eEID_NO_ERROR;
    // Saved once a run: by the pre-flash check, or here when it did not run.
    if (dmi->pData == nullptr && !store(system, dmi)) {
        // Nothing saved: no area is no error, but one that is there is
        // not given up without a word.
        switch (SMB_Proc_FindArea(system, 0, nullptr, nullptr)) {
        case SMB_AREA_NONE: return eEID_NO_ERROR;
        case SMB_AREA_BAD: return eEID_DMI_DATA_STORE_ERROR;
        default: return eEID_MEM_ALLOC;
        }
    }
    if (dmi->State != SMB_DMI_STORED) return eEID_NO_ERROR;
    SMB_Proc_SetTargetBlocks(blocks);
    UINT8 done = restore != nullptr ? restore(YOZ_pOpenFileBuff, dmi) : SMB_Proc_DmiDataFits(YOZ_pOpenFileBuff, dmi);
    SMB_Proc_SetTargetBlocks(SMB_ANY_BLOCK);
    return done ? eEID_NO_ERROR : eEID_DMI_DATA_STORE_ERROR;
}

ENUM_ERR_ID YOZ_Preserve_CheckImageSide(_DMIDATA* dmi, YOZ_DmiStoreFunc store) {
    if (YOZ_GetCapsuleMode() || YOZ_GetRecoveryMode()) return eEID_NO_ERROR;
    return YOZ_Preserve_ImageSide(dmi, store, nullptr);
}

UINT8 YOZ_Preserve_SkipInCapsuleMode() {
    if (!YOZ_GetCapsuleMode() && !YOZ_GetRecoveryMode()) return 0;
    if (!s_CapsuleNoticeShown)
        WriteOut(" - Warning: The signed image is sent as it is, nothing is preserved by the program.\n");
    s_CapsuleNoticeShown = 1;
    return 1;
}

UINT8 YOZ_Preserve_AskSupport() {
    if (ZOKT_VarPreserve_Support()) return 1;
    if (Zokt_LastUnanswered()) {
        TKX_EndProgressLine();
        WriteOut(" - The firmware did not answer the query of its setup and SMBIOS preservation.\n");
    }
    return 0;
}

UINT8 YOZ_Preserve_Store(UINT8 (*store)(), TKX_RunEndFunc restoreAtRunEnd, const char* what) {
    // A store sent may be held by the firmware from here on, a store whose
    // answer was lost included; only a refusal leaves nothing to take back.
    TKX_RunEndPush(restoreAtRunEnd);
    if (store()) return 1;
    if (!Zokt_LastUnanswered()) TKX_RunEndPop(restoreAtRunEnd);
    else WriteOut(" - The firmware did not answer the store of its %s.\n", what);
    return 0;
}

ENUM_ERR_ID YOZ_Preserve_TakeBack(UINT8 (*restore)(), const char* what) {
    if (restore()) return eEID_NO_ERROR;
    WriteOut(" - Warning: The BIOS may still hold the stored %s.\n", what);
    return ZOKT_VarPreserve_GetLastErrorID();
}
