// Engineering "preset:<hex>": once everything else of the run is done, the
// platform reset register 0xCF9 is written with 4 (soft reset), 6 (hard
// reset) or 0x0E (global reset). Any other value, a value above 0xFF
// included, only asks for a valid one.
#include "FlashBlock.h"
#include "HuxCompat.h"
#include "HuxCoreHooks.h"
#include "TKXPortIo.h"
#include "TKXSignal.h"
#include "TKXString.h"
#include "YozEgm.h"
#include "YozGlobal.h"
#include "YozOptionStore.h"

static TKX_QUEUE_ITEM EGM_PRESET_QueueItem;
static UINT8 PCIResetValue = 0;

static const UINT16 kResetControlPort = 0xCF9;

UINT8 EGM_PRESET_ReadValue(char* text) {
    // Hex digits past the last two make the value larger than a byte
    // (characters that are no hex digit keep their place, as in the reader).
    UINT32 length = StringLength(text);
    for (UINT32 k = 2; k < length; ++k) {
        char c = text[length - 1 - k];
        if (YOZ_Isxdigit(c) && c != '0') return 0;
    }
    return static_cast<UINT8>(YOZ_HexStringToValue(text) & 0xFF);
}

static ENUM_ERR_ID PCIReSetFunc() {
    CleanFlashIfc();
    // An ending signal that came before the reset cancels it.
    TKX_LeaveOnEndSignal();
    switch (PCIResetValue) {
    case 0x04: WriteOut("0x4 Soft Reset.\n"); break;
    case 0x06: WriteOut("0x6 Hard Reset.\n"); break;
    case 0x0E: WriteOut("0xE Global Reset.\n"); break;
    default:
        WriteOut("Please enter a valid value. \"0x4, 0x6, 0xe\"\n");
        return eEID_NO_ERROR;
    }
    OutPortByte(kResetControlPort, PCIResetValue);
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID PresetParse(TKXArgvList&, TKX_QUEUE_ITEM* self) {
    EGM_TakeSelection(self, EGM_PRESET);
    char* text = GMCmdList[EGM_PRESET].args;
    if (self->Enabled && text[0] != '\0') PCIResetValue = EGM_PRESET_ReadValue(text);
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID PresetExecute(TKXQueueItemList&) {
    YOZ_GlobalEndHookFuncList.push_back(PCIReSetFunc);
    return eEID_NO_ERROR;
}

ENUM_ERR_ID RegisterEGM_PRESET_QueueItem(TKXQueueItemList& items) {
    HuxDeclareCompat(&EGM_PRESET_QueueItem, HUX_COMPAT_POWER_ACTION, EGM_EntryWord(EGM_PRESET));
    return EGM_RegisterSubModule(items, EGM_PRESET_QueueItem, eMID_EGM_PRESET, PresetParse, PresetExecute, 0x5D2A);
}
