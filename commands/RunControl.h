// Shared pieces of the run-control option modules: the whole-word and
// prefix matchers, the manufacturing option words, the quiet printer and
// the values the modules keep for the rest of the run.
#pragma once
#include "HuxCore.h"

// Prints nothing; WriteOut points here once "/Q" has executed.
int YOZ_QuietPrintf(const char* format, ...);

// Whole-word option: every word from index 1 equal to `word` (any case) is
// claimed and sets *enabled. 1 (command-line error) when the list holds
// nothing but the program name and the word.
ENUM_ERR_ID YOZ_ClaimWholeWord(TKXArgvList& args, const char* word, UINT8* enabled);

// Copies the firmware's manufacturing option word `id` into `word` (at most
// 16 characters, always terminated) while manufacturing mode is on; leaves
// it untouched otherwise. An empty word means the option does not exist.
const UINT32 YOZ_MFG_WORD_CHARS = 16;
void YOZ_TakeMfgWord(UINT8 id, char (&word)[YOZ_MFG_WORD_CHARS + 1]);

// The value text after the first `length` characters of `arg` when those
// characters equal `match` (any case) and the word is longer than them;
// null otherwise.
const char* YOZ_MatchPrefixWord(const char* arg, UINT32 length, const char* match);

// Number option whose word the firmware names by manufacturing entry `id`:
// the entry is taken into `word`, and the option exists only while that word
// is as long as `match`. Every word from index 1 that begins with `match`
// (any case) and carries more text is claimed, enables `self` and leaves its
// number in *value. 1 (command-line error) when the list holds nothing but
// the program name and the option.
ENUM_ERR_ID YOZ_ParseMfgNumberOption(TKXArgvList& args, TKX_QUEUE_ITEM* self, UINT8 id,
                                     char (&word)[YOZ_MFG_WORD_CHARS + 1], const char* match, long long* value);

// Number text of a prefix option (at most 31 characters are read) as a
// signed value; no digits give 0, out-of-range text is held at the limits.
long long YOZ_OptionNumber(const char* text);

// Closes the flash interface and restarts the machine; 0x91 when the shell
// cannot start the restart. The "/REBOOT" end hook, and "s24" of the
// engineering set.
ENUM_ERR_ID ReBootFunc();

extern UINT8 RetryCnt;
extern INT32 ICC_CheckCount;
extern char gPW_FileName[256];
extern UINT8* gPW_FileBuff;
extern UINT32 gPW_FileSize;
extern char gDU_HC_IdfStr[YOZ_MFG_WORD_CHARS + 1];
extern char gDefans_HC_IdfStr[YOZ_MFG_WORD_CHARS + 1];
extern char gPW_HC_IdfStr[YOZ_MFG_WORD_CHARS + 1];
extern char gICC_HC_IdfStr[YOZ_MFG_WORD_CHARS + 1];
extern char gRetry_HC_IdfStr[YOZ_MFG_WORD_CHARS + 1];
