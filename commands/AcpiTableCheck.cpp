// Platform-mode probe: the DSDT is searched for the names "BIMC" (2+2 mode)
// and "MLAP" (whose AML value One means fault-tolerance mode, Zero normal
// mode). The probe runs while this module parses, so the flags are known
// before the mode switch and the banner. Executed in 2+2 mode, the module
// switches the ROM-ID check off.
#include "HuxCoreHooks.h"
#include "TKXAcpi.h"
#include "TKXString.h"
#include "YozOptionStore.h"
#include "YozRomFile.h"
#include "YozSwitchMode.h"

UINT8 BIMC_2x2_Enable = 0;

static TKX_QUEUE_ITEM s_AtcItem;
static const UINT32 kNameLength = 4;

static void YOZ_ACPITable_2X2_BIMC_String_Check(const UINT8* table, UINT32 length, UINT32 at) {
    if (at + kNameLength > length || MemCmp(table + at, "BIMC", kNameLength) != 1) return;
    YOZ_SetBIMCisExist(1);
    BIMC_2x2_Enable = 1;
}

static void YOZ_ACPITable_FTF_MLAP_String_Check(const UINT8* table, UINT32 length, UINT32 at) {
    if (at + kNameLength >= length || MemCmp(table + at, "MLAP", kNameLength) != 1) return;
    UINT8 value = table[at + kNameLength];
    if (value == 1) YOZ_SetMLAP_FTF_isExist(1);
    if (value == 0) YOZ_SetMLAP_APL_isExist(1);
}

// The DSDT copy stays for the rest of the run.
static void YOZ_ACPITable_CheckFlow() {
    UINT32 length = 0;
    UINT8* table = TKX_FetchAcpiTable(kAcpiSigDsdt, &length);
    if (table == nullptr) return;
    for (UINT32 at = 0; at + kNameLength <= length; ++at) {
        YOZ_ACPITable_2X2_BIMC_String_Check(table, length, at);
        YOZ_ACPITable_FTF_MLAP_String_Check(table, length, at);
    }
}

static ENUM_ERR_ID AtcParse(TKXArgvList&, TKX_QUEUE_ITEM* self) {
    self->Enabled = 1;
    YOZ_SetBIMCisExist(0);
    YOZ_SetMLAP_FTF_isExist(0);
    if (!YOZ_ModeTakesPart(self->ModeMask)) return eEID_NO_ERROR;
    YOZ_ACPITable_CheckFlow();
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID AtcExecute(TKXQueueItemList&) {
    if (!YOZ_ModeTakesPart(s_AtcItem.ModeMask) || !BIMC_2x2_Enable) return eEID_NO_ERROR;
    YOZ_SetEMMC_2x2_Mode(1);
    YOZ_RomFile_SetCheckRomID(0);
    WriteOut(" 2X2 Mode Enable.\n");
    return eEID_NO_ERROR;
}

static void AtcHelp(UINT8) { YOZ_ModeTakesPart(s_AtcItem.ModeMask); }

ENUM_ERR_ID Register_ATC_QueueItem(TKXQueueItemList& items) {
    s_AtcItem = TKX_QUEUE_ITEM{eMID_ATC, AtcParse, AtcExecute, AtcHelp, nullptr, 0, 0, 0x5B9A, YOZ_MODE_EVERY, 0};
    items.push_back(&s_AtcItem);
    return eEID_NO_ERROR;
}
