// The engineering set. In manufacturing mode the firmware names a prefix
// word (manufacturing word 6); a command-line word made of that prefix and a
// sub-command name selects one entry of GMCmdList. The parsing module `egm`
// fills the table; each sub-module enables itself when its entry was
// selected. None of them prints help or asks the mode filter.
#pragma once
#include "HuxCore.h"
#include "RunControl.h"

#define EGM_NAME_SIZE 32
#define EGM_TEXT_SIZE 256
// Characters of a word after the prefix that are looked at.
#define EGM_REST_CHARS 63
// Characters of a selecting word kept for the messages.
#define EGM_WORD_CHARS (YOZ_MFG_WORD_CHARS + EGM_REST_CHARS)
// Manufacturing word that holds the prefix.
#define EGM_MFG_CMD_STRING 6

#pragma pack(push, 1)
// One sub-command of the table.
struct GM_CMD_ITEM {
    char name[EGM_NAME_SIZE];       // lower case, matched as a prefix
    UINT8 selected;                 // a word named this entry
    char reserved[EGM_TEXT_SIZE];   // zeros; nothing reads it
    char args[EGM_TEXT_SIZE];       // the text after the name in the last word that named it
};
#pragma pack(pop)
static_assert(sizeof(GM_CMD_ITEM) == 545 && offsetof(GM_CMD_ITEM, args) == 289, "engineering table entry");

// Positions in GMCmdList.
enum EGM_ENTRY : UINT32 {
    EGM_S24,
    EGM_INFO,
    EGM_MEINFO,
    EGM_NPSLP,
    EGM_ERASE,
    EGM_SFMDT,
    EGM_PRESET,
    EGM_JVC,
    EGM_R2X2,
    EGM_ENTRIES
};

extern GM_CMD_ITEM GMCmdList[EGM_ENTRIES];
extern char gEGM_HC_IdfStr[YOZ_MFG_WORD_CHARS + 1];  // the prefix, empty outside manufacturing mode
extern int SubCmdNum;                                // entries selected
extern UINT8 EGMHelp;                                // the help keyword was given

// A sub-module's queue item: enabled 0, stop-parse 0, no mode mask, a help
// entry point that prints nothing.
ENUM_ERR_ID EGM_RegisterSubModule(TKXQueueItemList& items, TKX_QUEUE_ITEM& item, UINT32 moduleId,
                                  ParsingCommandFunctionT parse, ExecutionActionFunctionT execute, UINT16 orderKey);
// What every sub-module parse does: its enabled byte follows its entry.
void EGM_TakeSelection(TKX_QUEUE_ITEM* self, EGM_ENTRY entry);
// The command-line word that last named the entry (a buffer of the run;
// empty until a word names it).
const char* EGM_EntryWord(EGM_ENTRY entry);

// "sfmdt:" text "<before>:<after>": both numbers of decimal digits only, each
// at most EGM_SFMDT_MAX_DELAY (units of 10 µs, so that the wait stays within
// 32 bits of µs). 1 with both read; 0 with both left 0 otherwise.
#define EGM_SFMDT_MAX_DELAY 429496729u
UINT8 EGM_SFMDT_ReadDelays(const char* text, UINT32* before, UINT32* after);
// "preset:" text as a hex value (the common hex reader, which upper-cases
// the text); 0, which no reset accepts, for a value above 0xFF.
UINT8 EGM_PRESET_ReadValue(char* text);
