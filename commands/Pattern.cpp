// The pattern module: when a region of the ROM file is to be opened, asks
// the firmware whether the file must hold a pattern and, if so, loads the
// file and lets the firmware judge the bytes behind the match.
#include "HuxCoreHooks.h"
#include "YozRomFile.h"
#include "YozSwitchMode.h"
#include "ZoktPattern.h"

static TKX_QUEUE_ITEM s_GprItem;
UINT8 bGPRIsSupport = 0;

static ENUM_ERR_ID Check_ZOKT_Get_Pattern_Rom_Status() {
    ZOKT_SearchPattern(YOZ_RomFile_GetBuffer(), YOZ_RomFile_Size());
    const char* text = ZOKT_GetPattern_ReString();
    if (text != nullptr) WriteOut("%s", text);  // framed by the library
    return ZOKT_GPR_GetRS_ERROR_OUT() ? eEID_ZOKT_OEM_ERROR : eEID_NO_ERROR;
}

static ENUM_ERR_ID GprParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    if (!YOZ_ModeTakesPart(self->ModeMask)) return eEID_NO_ERROR;
    if (YOZ_RomFile_GetFileEnable() && args.size() > 1) {
        args[1]->claimed = 1;
        YOZ_pFileName = args[1]->text;
    }
    return eEID_NO_ERROR;
}

static bool RegionOpenEnabled(TKXQueueItemList& items) {
    for (unsigned long i = 0; i < items.size(); ++i)
        if (items[i]->RegionOpen == 1 && items[i]->Enabled == 1) return true;
    return false;
}

static ENUM_ERR_ID GprExecute(TKXQueueItemList& items) {
    if (!YOZ_ModeTakesPart(s_GprItem.ModeMask)) return eEID_NO_ERROR;
    bGPRIsSupport = 0;
    if (!RegionOpenEnabled(items)) return eEID_NO_ERROR;
    bGPRIsSupport = ZOKT_GetPatternSupport();
    const char* text = ZOKT_GetPattern_ReString();
    if (text != nullptr) WriteOut("%s", text);  // framed by the library
    if (ZOKT_GPR_GetRS_ERROR_OUT()) return eEID_ZOKT_OEM_ERROR;
    if (!bGPRIsSupport) return eEID_NO_ERROR;
    ENUM_ERR_ID status = YOZ_RomFile_LoadToBuff();
    if (status != eEID_NO_ERROR) return status;
    return Check_ZOKT_Get_Pattern_Rom_Status();
}

static void GprHelp(UINT8) { YOZ_ModeTakesPart(s_GprItem.ModeMask); }

ENUM_ERR_ID RegisterGPRQueueItem(TKXQueueItemList& items) {
    s_GprItem = TKX_QUEUE_ITEM{eMID_GPR, GprParse, GprExecute, GprHelp, nullptr, 1, 0, 0x48A8,
                               YOZ_MODE_NORMAL | YOZ_MODE_FTF, 0};
    items.push_back(&s_GprItem);
    return eEID_NO_ERROR;
}
