// Mode-switch module ("/SM:n"): installs the mode filter every masked module
// asks, chooses it from the platform flags and lets "/SM:n" override that.
#include <cstdlib>
#include "HuxCompat.h"
#include "HuxCoreHooks.h"
#include "TKXString.h"
#include "YozOptionStore.h"
#include "YozRomFile.h"
#include "YozSwitchMode.h"

static BOOLEAN MaskHas(INT8 mask, UINT8 bits) { return (static_cast<UINT8>(mask) & bits) != 0 ? TRUE : FALSE; }

BOOLEAN PFAT_YOZ_SwitchMode(INT8 mask) {
    if (YOZ_GetPFATMode()) {
        PrintUsageHelp = PFAT_PrintUsageHelp;
        return MaskHas(mask, YOZ_MODE_BIOS_GUARD | YOZ_MODE_EVERY);
    }
    return MaskHas(mask, YOZ_MODE_NORMAL | YOZ_MODE_EVERY);
}

BOOLEAN ONLY_PFAT_SwitchMode(INT8 mask) {
    PrintUsageHelp = PFAT_PrintUsageHelp;
    return MaskHas(mask, YOZ_MODE_BIOS_GUARD | YOZ_MODE_EVERY);
}

BOOLEAN ONLY_YOZ_SwitchMode(INT8 mask) { return MaskHas(mask, YOZ_MODE_NORMAL | YOZ_MODE_EVERY); }

BOOLEAN ONLY_2X2_SwitchMode(INT8 mask) { return MaskHas(mask, YOZ_MODE_2X2 | YOZ_MODE_EVERY); }

BOOLEAN ONLY_FTF_SwitchMode(INT8 mask) { return MaskHas(mask, YOZ_MODE_FTF | YOZ_MODE_EVERY); }

void PFAT_PrintUsageHelp(char* word, char* errorText, TKXQueueItemList& items) {
    for (unsigned long i = 0; i < items.size(); ++i) {
        if (items[i]->CommandHelp != nullptr) items[i]->CommandHelp(1);
    }
    for (unsigned long i = 0; i < items.size(); ++i) {
        if (items[i]->CommandHelp != nullptr) items[i]->CommandHelp(0);
    }
    if (word != nullptr) WriteOut("Unknown command or option : %s\n", word);
    if (errorText != nullptr) WriteOut("ERROR : %s", errorText);
    if (word != nullptr) g_LastErrorCode = eEID_COMMAND_LINE;
}

// The number after "/SM:" read as atoi would, without its overflow: leading
// digits only (none gives 0), saturated, then cut to a signed byte.
static INT8 ModeNumber(const char* text) {
    char digits[32] = {0};
    TKX_BoundedCopy(digits, text, 31);
    long long value = strtoll(digits, nullptr, 10);
    return static_cast<INT8>(static_cast<UINT8>(static_cast<unsigned long long>(value) & 0xFF));
}

static ENUM_ERR_ID SwitchModeParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    YOZ_pFSwitchModeFunc = PFAT_YOZ_SwitchMode;
    if (YOZ_GetPFATMode() && args.size() > 1 && YOZ_pFileName != nullptr && !YOZ_GetPFATMode_RomIsBIOSGuardRom()) {
        YOZ_pFSwitchModeFunc = ONLY_YOZ_SwitchMode;
    }
    if (YOZ_GetBIMCisExist()) YOZ_pFSwitchModeFunc = ONLY_2X2_SwitchMode;
    if (YOZ_GetMLAP_FTF_isExist() || YOZ_GetMLAP_APL_isExist()) YOZ_pFSwitchModeFunc = ONLY_FTF_SwitchMode;
    if (!YOZ_Get_AllowHideCommandStatus()) return eEID_NO_ERROR;

    for (unsigned long i = 1; i < args.size(); ++i) {
        const char* word = args[i]->text;
        if (StringLength(word) <= 4) continue;
        char head[5] = {0};
        MemCpy(head, word, 4);
        if (IdentifyArg(head, "/SM:", 1) != 1) continue;
        self->Enabled = 1;
        args[i]->claimed = 1;
        INT8 mode = ModeNumber(word + 4);
        if (mode == 0) {
            YOZ_pFSwitchModeFunc = ONLY_YOZ_SwitchMode;
        } else if (mode == 1) {
            YOZ_pFSwitchModeFunc = ONLY_PFAT_SwitchMode;
        } else if (mode == 3) {
            YOZ_pFSwitchModeFunc = ONLY_2X2_SwitchMode;
        } else if (mode > 3) {
            WriteOut("Error - Not this mode in YOZ.\n");
        }
    }
    return eEID_NO_ERROR;
}

static TKX_QUEUE_ITEM s_SwitchModeItem;

ENUM_ERR_ID RegisterSMQueueItem(TKXQueueItemList& items) {
    s_SwitchModeItem = TKX_QUEUE_ITEM{eMID_SM, SwitchModeParse, nullptr, nullptr, nullptr, 0, 0, 0, YOZ_MODE_EVERY, 0};
    YOZ_pFSwitchModeFunc = PFAT_YOZ_SwitchMode;
    items.push_back(&s_SwitchModeItem);
    HuxDeclareCompat(&s_SwitchModeItem, HUX_COMPAT_RUN_CONTROL, nullptr);
    return eEID_NO_ERROR;
}
