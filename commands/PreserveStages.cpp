// Parse, check record and image side shared by the preservation modules.
#include "TKXString.h"
#include "YozPreserveStages.h"
#include "YozRomFile.h"
#include "YozSysRom.h"

_DMIDATA gSMB_DmiData = {nullptr, SMB_DMI_EMPTY, 0, 0};
_DMIDATA gSMBN_DmiData = {nullptr, SMB_DMI_EMPTY, 0, 0};

ENUM_ERR_ID YOZ_Preserve_Parse(TKX_QUEUE_ITEM* item, TKXArgvList& args, const char* word) {
    for (unsigned long i = 1; i < args.size(); ++i) {
        if (IdentifyArg(args[i]->text, word, 1) != 1) continue;
        if (YOZ_ClaimOptionWord(item, args, i) != eEID_NO_ERROR) return eEID_COMMAND_LINE;
    }
    return eEID_NO_ERROR;
}

void YOZ_Preserve_Record(CHECK_FUNC_ITEM& record, CHECK_FUNC_ITEM*& published, TKX_QUEUE_ITEM& item,
                         ENUM_ERR_ID (*checkRom)(INT16), ENUM_ERR_ID (*checkBlock)()) {
    record = CHECK_FUNC_ITEM{checkRom, checkBlock, 1, 1, 1, 1, 1, 1, &item.Enabled};
    published = &record;
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
