// "/OEMCMD:value": sends an operator's hexadecimal value to the firmware
// before any region work (begin) and a notification just before the regions
// are written (start). Four modules share one id, like those of "/CMD:";
// the after and begin-end modules send nothing: their notifications are
// kept ready in the clean-up hooks below, which nothing calls.
#include <strings.h>
#include <cstring>
#include "HuxCoreHooks.h"
#include "TKXString.h"
#include "YozOemCmd.h"
#include "YozOptionStore.h"
#include "YozSwitchMode.h"
#include "ZoktOemCmd.h"
#include "YozRegionStages.h"

static UINT32 OEMCmdValue = 0;
static UINT8 bOEMCmdEnable = 0;
static UINT8 b_NeedRunAfterFlash = 0;
static UINT8 b_NeedRunBeginEnd = 0;
static TKX_QUEUE_ITEM s_OemBFItem, s_OemSFItem, s_OemAFItem, s_OemBEItem;

CleanUpResourceHook CleanUpAfterFlashHook = nullptr;
CleanUpResourceHook CleanUpBeginEndHook = nullptr;

UINT8 HexStringToValue(const char* text, UINT32* value) {
    UINT32 result = 0;
    UINT32 length = StringLength(text);
    for (UINT32 k = 0; k < length; ++k) {
        char c = text[length - 1 - k];
        UINT32 digit = c >= '0' && c <= '9'   ? static_cast<UINT32>(c - '0')
                       : c >= 'A' && c <= 'F' ? static_cast<UINT32>(c - 'A' + 10)
                       : c >= 'a' && c <= 'f' ? static_cast<UINT32>(c - 'a' + 10)
                                              : 0;
        if (digit == 0) continue;
        if (k >= 8) return 0;  // beyond the 32 bits
        result += digit << (4 * k);
    }
    *value = result;
    return 1;
}

void SetNeedRunAfterFlash_Enable() { b_NeedRunAfterFlash = 1; }
void SetNeedRunBeginEnd_Enable() { b_NeedRunBeginEnd = 1; }

void CleanUpAfterFlash() {
    if (!b_NeedRunAfterFlash) return;
    ZOKT_OEMCMD_AfterFlash();
    b_NeedRunAfterFlash = 0;
}

void CleanUpBeginEnd() {
    if (!b_NeedRunBeginEnd) return;
    ZOKT_OEMCMD_BeginEnd();
    b_NeedRunBeginEnd = 0;
}

// The value of every "/OEMCMD:" word (the last one counts); 1 when a value
// over 31 characters or 32 bits is refused.
static ENUM_ERR_ID OemBFParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    if (!YOZ_ModeTakesPart(self->ModeMask)) return eEID_NO_ERROR;
    for (unsigned long i = 1; i < args.size(); ++i) {
        const char* word = args[i]->text;
        if (StringLength(word) <= 8 || strncasecmp(word, "/OEMCMD:", 8) != 0) continue;
        if (StringLength(word + 8) > 31 || !HexStringToValue(word + 8, &OEMCmdValue)) return eEID_COMMAND_LINE;
        self->Enabled = 1;
        args[i]->claimed = 1;
        YOZ_ClaimFileWord(args, i);
        bOEMCmdEnable = 1;
    }
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID OemStageParse(TKXArgvList&, TKX_QUEUE_ITEM* self) {
    if (!YOZ_ModeTakesPart(self->ModeMask)) return eEID_NO_ERROR;
    if (bOEMCmdEnable) self->Enabled = 1;
    if (self == &s_OemAFItem) b_NeedRunAfterFlash = 0;
    if (self == &s_OemBEItem) b_NeedRunBeginEnd = 0;
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID OemBFExecute(TKXQueueItemList&) {
    if (!YOZ_ModeTakesPart(s_OemBFItem.ModeMask)) return eEID_NO_ERROR;
    ENUM_ERR_ID status = ZOKT_OEMCMD_BeginFlash(OEMCmdValue);
    SetNeedRunBeginEnd_Enable();
    return status;
}

static ENUM_ERR_ID OemSFExecute(TKXQueueItemList&) {
    if (!YOZ_ModeTakesPart(s_OemSFItem.ModeMask)) return eEID_NO_ERROR;
    ENUM_ERR_ID status = ZOKT_OEMCMD_StartFlash();
    SetNeedRunAfterFlash_Enable();
    return status;
}

static ENUM_ERR_ID OemQuietExecute(TKXQueueItemList&) { return eEID_NO_ERROR; }

static void OemBFHelp(UINT8 pass) {
    if (!YOZ_ModeTakesPart(s_OemBFItem.ModeMask) || pass != 0) return;
    WriteOut("|%*s - Send special value to BIOS. /OEMCMD:xxx                      |\n", 11, "/OEMCMD:");
    YOZ_CheckGlobalLineCont(1);
}

ENUM_ERR_ID YOZ_RegisterStageItem(TKXQueueItemList& items, TKX_QUEUE_ITEM& item, ENUM_MODULE_ID id, UINT8 modeMask,
                                  ParsingCommandFunctionT parse, ExecutionActionFunctionT execute, CommandHelpT help,
                                  UINT16 orderKey) {
    item = TKX_QUEUE_ITEM{id, parse, execute, help, nullptr, 0, 0, orderKey, modeMask, 0};
    items.push_back(&item);
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID Register(TKXQueueItemList& items, TKX_QUEUE_ITEM& item, ParsingCommandFunctionT parse,
                            ExecutionActionFunctionT execute, CommandHelpT help, UINT16 orderKey) {
    return YOZ_RegisterStageItem(items, item, eMID_OEMCMD, YOZ_MODE_NORMAL, parse, execute, help, orderKey);
}

ENUM_ERR_ID RegisteroemcmdBFQueueItem(TKXQueueItemList& items) {
    OEMCmdValue = 0;
    bOEMCmdEnable = 0;
    b_NeedRunAfterFlash = 0;
    b_NeedRunBeginEnd = 0;
    CleanUpAfterFlashHook = CleanUpAfterFlash;
    CleanUpBeginEndHook = CleanUpBeginEnd;
    return Register(items, s_OemBFItem, OemBFParse, OemBFExecute, OemBFHelp, 0x4E3E);
}
ENUM_ERR_ID RegisteroemcmdSFQueueItem(TKXQueueItemList& items) {
    return Register(items, s_OemSFItem, OemStageParse, OemSFExecute, nullptr, 0x58EF);
}
ENUM_ERR_ID RegisteroemcmdAFQueueItem(TKXQueueItemList& items) {
    return Register(items, s_OemAFItem, OemStageParse, OemQuietExecute, nullptr, 0x8004);
}
ENUM_ERR_ID RegisteroemcmdBEQueueItem(TKXQueueItemList& items) {
    return Register(items, s_OemBEItem, OemStageParse, OemQuietExecute, nullptr, 0x801F);
}
