// The engineering set's parsing module: takes the firmware's prefix word and
// selects the sub-commands the command line names. A word with the prefix is
// claimed whether or not it names an entry; the rest of the word (at most 63
// characters, lower-cased) is matched against the names in table order, and
// the text after a name becomes that entry's arguments. A later word that
// names the same entry replaces them.
#include <cstring>
#include "HuxCoreHooks.h"
#include "TKXString.h"
#include "YozEgm.h"
#include "YozOptionStore.h"

GM_CMD_ITEM GMCmdList[EGM_ENTRIES] = {
    {"s24", 0, {}, {}},    {"info", 0, {}, {}},    {"meinfo", 0, {}, {}},
    {"npslp", 0, {}, {}},  {"er", 0, {}, {}},      {"sfmdt:", 0, {}, {}},
    {"preset:", 0, {}, {}}, {"jvc", 0, {}, {}},    {"2x2", 0, {}, {}},
};
char gEGM_HC_IdfStr[YOZ_MFG_WORD_CHARS + 1];
int SubCmdNum = 0;
UINT8 EGMHelp = 0;
// The command-line word that last named each entry, for the messages.
static char s_EntryWord[EGM_ENTRIES][EGM_WORD_CHARS + 1];

static TKX_QUEUE_ITEM EGMQueueItem;

static const char kHelpKeyword[] = "hiyoz";

static void SelectEntries(const char* word, const char* rest) {
    for (UINT32 e = 0; e < EGM_ENTRIES; ++e) {
        GM_CMD_ITEM& entry = GMCmdList[e];
        size_t n = strlen(entry.name);
        if (strncmp(rest, entry.name, n) != 0) continue;
        entry.selected = 1;
        MemSet(entry.args, 0, sizeof(entry.args));
        TKX_BoundedCopy(entry.args, rest + n, EGM_TEXT_SIZE - 1);
        TKX_BoundedCopy(s_EntryWord[e], word, EGM_WORD_CHARS);
        ++SubCmdNum;
    }
    if (strncmp(rest, kHelpKeyword, sizeof(kHelpKeyword) - 1) == 0) EGMHelp = 1;
}

static ENUM_ERR_ID EgmParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    self->Enabled = 0;
    EGMHelp = 0;
    YOZ_TakeMfgWord(EGM_MFG_CMD_STRING, gEGM_HC_IdfStr);
    SubCmdNum = 0;
    for (GM_CMD_ITEM& entry : GMCmdList) entry.selected = 0;
    UINT32 length = StringLength(gEGM_HC_IdfStr);
    if (length == 0) return eEID_NO_ERROR;
    for (unsigned long i = 1; i < args.size(); ++i) {
        const char* tail = YOZ_MatchPrefixWord(args[i]->text, length, gEGM_HC_IdfStr);
        if (tail == nullptr) continue;
        args[i]->claimed = 1;
        self->Enabled = 1;
        char rest[EGM_REST_CHARS + 1] = {};
        TKX_BoundedCopy(rest, tail, EGM_REST_CHARS);
        StrToLow(rest);
        SelectEntries(args[i]->text, rest);
    }
    return eEID_NO_ERROR;
}

// The help keyword alone sets the stop-parse byte, which the execute pass no
// longer reads.
static ENUM_ERR_ID EgmExecute(TKXQueueItemList&) {
    if (SubCmdNum == 0 && EGMHelp) EGMQueueItem.StopParse = 1;
    return eEID_NO_ERROR;
}

static void EgmHelp(UINT8) {}

ENUM_ERR_ID EGM_RegisterSubModule(TKXQueueItemList& items, TKX_QUEUE_ITEM& item, UINT32 moduleId,
                                  ParsingCommandFunctionT parse, ExecutionActionFunctionT execute, UINT16 orderKey) {
    item = TKX_QUEUE_ITEM{moduleId, parse, execute, EgmHelp, nullptr, 0, 0, orderKey, 0, 0};
    items.push_back(&item);
    return eEID_NO_ERROR;
}

void EGM_TakeSelection(TKX_QUEUE_ITEM* self, EGM_ENTRY entry) { self->Enabled = GMCmdList[entry].selected; }

const char* EGM_EntryWord(EGM_ENTRY entry) { return s_EntryWord[entry]; }

ENUM_ERR_ID RegisterEGMQueueItem(TKXQueueItemList& items) {
    return EGM_RegisterSubModule(items, EGMQueueItem, eMID_EGM, EgmParse, EgmExecute, 0x4E34);
}
