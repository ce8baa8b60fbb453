// Parse, check record and image side shared by the preservation modules.
#include "TKXString.h"
#include "YozPreserveStages.h"
#include "YozRomFile.h"
#include "YozSwitchMode.h"
#include "YozSysRom.h"
#include "YozZozRecords.h"

_DMIDATA gSMB_DmiData = {nullptr, SMB_DMI_EMPTY, 0, 0};
_DMIDATA gSMBN_DmiData = {nullptr, SMB_DMI_EMPTY, 0, 0};

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

ENUM_ERR_ID YOZ_Preserve_ImageSide(_DMIDATA* dmi, YOZ_DmiStoreFunc store, YOZ_DmiStoreFunc restore) {
    if (YOZ_RegionFlash_AllocMap() != eEID_NO_ERROR) return eEID_MEM_ALLOC;
    UINT8* system = YOZ_SysRom_GetBuffer();
    if (system == nullptr) return eEID_MEM_ALLOC;
    if (!store(system, dmi)) {
        // Nothing saved: no area is no error, but one that is there is
        // not given up without a word.
        switch (SMB_Proc_FindArea(system, 0, nullptr, nullptr)) {
        case SMB_AREA_NONE: return eEID_NO_ERROR;
        case SMB_AREA_BAD: return eEID_DMI_DATA_STORE_ERROR;
        default: return eEID_MEM_ALLOC;
        }
    }
    return restore(YOZ_pOpenFileBuff, dmi) ? eEID_NO_ERROR : eEID_DMI_DATA_STORE_ERROR;
}
