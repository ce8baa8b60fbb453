// "/CMD:{text}": sends an operator's command text to the firmware at four
// stages of a run: begin (before any region work), start (just before the
// regions are written), after (once they are written) and begin-end (at
// the end of the run). Four modules share one id; the first parses the
// option and holds the text, the other three follow its enable flag.
#include <strings.h>
#include <cstring>
#include "HuxCoreHooks.h"
#include "TKXString.h"
#include "YozOemCmd.h"
#include "YozOptionStore.h"
#include "YozSwitchMode.h"
#include "ZoktOemCmd.h"

static const UINT32 kCmdTextMax = 255;
static char CmdBuffer[kCmdTextMax + 1];
static UINT8 bCmdEnable = 0;
static TKX_QUEUE_ITEM s_CmdBFItem, s_CmdSFItem, s_CmdAFItem, s_CmdBEItem;

// Appends `length` characters of `text` after one blank; false when the
// command text would grow past its buffer.
static bool AppendWord(UINT32& used, const char* text, UINT32 length) {
    if (used + 1 + length > kCmdTextMax) return false;
    CmdBuffer[used++] = ' ';
    MemCpy(CmdBuffer + used, text, length);
    used += length;
    CmdBuffer[used] = '\0';
    return true;
}

static const char* LastChar(const char* text, char c) {
    const char* found = nullptr;
    for (const char* p = text; *p != '\0'; ++p)
        if (*p == c) found = p;
    return found;
}

// The braced text of option word i (the text before "{" is dropped); a
// text the shell split at blanks goes on in the following words, which
// leave the argument list. 1 when a text over 255 characters is refused.
static ENUM_ERR_ID TakeCmdText(TKXArgvList& args, unsigned long i) {
    const char* value = args[i]->text + 5;
    const char* open = strchr(value, '{');
    MemSet(CmdBuffer, 0, sizeof(CmdBuffer));
    if (open == nullptr) return eEID_NO_ERROR;
    const char* close = strchr(open + 1, '}');
    UINT32 length = close != nullptr ? static_cast<UINT32>(close - open - 1) : StringLength(open + 1);
    if (length > kCmdTextMax) return eEID_COMMAND_LINE;
    MemCpy(CmdBuffer, open + 1, length);
    UINT32 used = length;
    while (close == nullptr && i + 1 < args.size()) {
        TKX_ARGV_ITEM* next = args[i + 1];
        close = LastChar(next->text, '}');
        UINT32 part = close != nullptr ? static_cast<UINT32>(close - next->text) : StringLength(next->text);
        if (!AppendWord(used, next->text, part)) return eEID_COMMAND_LINE;
        args.remove(i + 1);
        if (next->fromTrailer) delete[] next->text;
        delete next;
    }
    if (close == nullptr) return eEID_NO_ERROR;
    s_CmdBFItem.Enabled = 1;
    args[i]->claimed = 1;
    bCmdEnable = 1;
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID CmdBFParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    if (!YOZ_ModeTakesPart(self->ModeMask)) return eEID_NO_ERROR;
    for (unsigned long i = 1; i < args.size(); ++i) {
        if (StringLength(args[i]->text) <= 5 || strncasecmp(args[i]->text, "/CMD:", 5) != 0) continue;
        if (args.size() <= 2) return eEID_COMMAND_LINE;
        ENUM_ERR_ID status = TakeCmdText(args, i);
        if (status != eEID_NO_ERROR) return status;
    }
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID CmdStageParse(TKXArgvList&, TKX_QUEUE_ITEM* self) {
    if (!YOZ_ModeTakesPart(self->ModeMask)) return eEID_NO_ERROR;
    if (bCmdEnable) self->Enabled = 1;
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID CmdBFExecute(TKXQueueItemList&) {
    if (!YOZ_ModeTakesPart(s_CmdBFItem.ModeMask)) return eEID_NO_ERROR;
    return ZOKT_CMD_BeginFlash(CmdBuffer);
}
static ENUM_ERR_ID CmdSFExecute(TKXQueueItemList&) {
    return YOZ_ModeTakesPart(s_CmdSFItem.ModeMask) ? ZOKT_CMD_StartFlash() : eEID_NO_ERROR;
}
static ENUM_ERR_ID CmdAFExecute(TKXQueueItemList&) {
    return YOZ_ModeTakesPart(s_CmdAFItem.ModeMask) ? ZOKT_CMD_AfterFlash() : eEID_NO_ERROR;
}
static ENUM_ERR_ID CmdBEExecute(TKXQueueItemList&) {
    return YOZ_ModeTakesPart(s_CmdBEItem.ModeMask) ? ZOKT_CMD_BeginEnd() : eEID_NO_ERROR;
}

static void CmdBFHelp(UINT8 pass) {
    if (!YOZ_ModeTakesPart(s_CmdBFItem.ModeMask) || pass != 0) return;
    WriteOut("|%*s - Send special command to BIOS. /CMD:{xxx}                     |\n", 11, "/CMD:");
    YOZ_CheckGlobalLineCont(1);
}

static ENUM_ERR_ID Register(TKXQueueItemList& items, TKX_QUEUE_ITEM& item, ParsingCommandFunctionT parse,
                            ExecutionActionFunctionT execute, CommandHelpT help, UINT16 orderKey) {
    return YOZ_RegisterStageItem(items, item, eMID_CMD, YOZ_MODE_NORMAL | YOZ_MODE_FTF, parse, execute, help, orderKey);
}

ENUM_ERR_ID RegistercmdBFQueueItem(TKXQueueItemList& items) {
    MemSet(CmdBuffer, 0, sizeof(CmdBuffer));
    bCmdEnable = 0;
    return Register(items, s_CmdBFItem, CmdBFParse, CmdBFExecute, CmdBFHelp, 0x4E36);
}
ENUM_ERR_ID RegistercmdSFQueueItem(TKXQueueItemList& items) {
    return Register(items, s_CmdSFItem, CmdStageParse, CmdSFExecute, nullptr, 0x58EE);
}
ENUM_ERR_ID RegistercmdAFQueueItem(TKXQueueItemList& items) {
    return Register(items, s_CmdAFItem, CmdStageParse, CmdAFExecute, nullptr, 0x8003);
}
ENUM_ERR_ID RegistercmdBEQueueItem(TKXQueueItemList& items) {
    return Register(items, s_CmdBEItem, CmdStageParse, CmdBEExecute, nullptr, 0x801E);
}
