// Firmware family check: the firmware identification table "FIDT" names the
// family version at offset 0x44 ("05" or "04", each with a zero byte). This
// program serves family 5; a board of family 4, or one that names no
// version, is accepted only when the firmware's ROM information marks the
// board as family 5. "/dpc" switches the check off.
#include "HuxCoreHooks.h"
#include "RomInfo.h"
#include "TKXAcpi.h"
#include "TKXString.h"
#include "YozOptionStore.h"
#include "YozSwitchMode.h"

static TKX_QUEUE_ITEM s_OrvckItem;

static const UINT32 kFidtVersionOffset = 0x44;
static const UINT32 kFidtVersionBytes = 3;

static UINT8* s_Fidt = nullptr;
static UINT32 s_FidtLength = 0;

// Fetches the FIDT into a buffer kept for the run; its length, 0 when there
// is none.
static UINT32 GetFidtTable() {
    s_Fidt = TKX_FetchAcpiTable(kAcpiSigFidt, &s_FidtLength);
    return s_FidtLength;
}

// 5, 4, or 0 when the table is missing, too short to hold the field, or
// names another version.
static UINT8 IsSupportedOrvexVBIOS() {
    if (s_Fidt == nullptr || s_FidtLength < kFidtVersionOffset + kFidtVersionBytes) return 0;
    const UINT8* version = s_Fidt + kFidtVersionOffset;
    if (MemCmp(version, "05", kFidtVersionBytes) == 1) return 5;
    if (MemCmp(version, "04", kFidtVersionBytes) == 1) return 4;
    return 0;
}

static ENUM_ERR_ID OrvckParse(TKXArgvList&, TKX_QUEUE_ITEM* self) {
    if (!YOZ_ModeTakesPart(self->ModeMask) || !YOZ_Get_AllowHideCommandStatus()) return eEID_NO_ERROR;
    self->Enabled = 1;
    YOZ_SetOrvexCheck(1);
    YOZ_SetOrvex5(1);
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID OrvckExecute(TKXQueueItemList&) {
    if (!YOZ_ModeTakesPart(s_OrvckItem.ModeMask) || !YOZ_GetOrvexCheck()) return eEID_NO_ERROR;
    YOZ_SetOrvex5(0);
    GetFidtTable();
    UINT8 version = IsSupportedOrvexVBIOS();
    if (version == 5 || (version == 4 && g_OnBoardRomIsOrvexV)) {
        YOZ_SetOrvex5(1);
        return eEID_NO_ERROR;
    }
    return g_OnBoardRomIsOrvexV && version == 0 ? eEID_NO_ERROR : eEID_PLATFORM_ORVEXIV;
}

static void OrvckHelp(UINT8) { YOZ_ModeTakesPart(s_OrvckItem.ModeMask); }

ENUM_ERR_ID RegisterORVCKQueueItem(TKXQueueItemList& items) {
    s_OrvckItem = TKX_QUEUE_ITEM{eMID_ORVCK, OrvckParse, OrvckExecute, OrvckHelp, nullptr, 1, 0, 0x4E20,
                                 YOZ_MODE_EVERY, 0};
    YOZ_SetOrvexCheck(1);
    items.push_back(&s_OrvckItem);
    return eEID_NO_ERROR;
}
