// Matchers and helpers shared by the run-control option modules.
#include "RunControl.h"
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include "TKXString.h"
#include "YozOptionStore.h"
#include "YozSwitchMode.h"
#include "ZoktMfg.h"

char gDU_HC_IdfStr[YOZ_MFG_WORD_CHARS + 1];
char gDefans_HC_IdfStr[YOZ_MFG_WORD_CHARS + 1];
char gPW_HC_IdfStr[YOZ_MFG_WORD_CHARS + 1];
char gICC_HC_IdfStr[YOZ_MFG_WORD_CHARS + 1];
char gRetry_HC_IdfStr[YOZ_MFG_WORD_CHARS + 1];

int YOZ_QuietPrintf(const char*, ...) { return 0; }

ENUM_ERR_ID YOZ_ClaimWholeWord(TKXArgvList& args, const char* word, UINT8* enabled) {
    for (unsigned long i = 1; i < args.size(); ++i) {
        if (IdentifyArg(args[i]->text, word, 1) != 1) continue;
        if (args.size() <= 2) return eEID_COMMAND_LINE;
        *enabled = 1;
        args[i]->claimed = 1;
    }
    return eEID_NO_ERROR;
}

void YOZ_TakeMfgWord(UINT8 id, char (&word)[YOZ_MFG_WORD_CHARS + 1]) {
    if (!YOZ_GetMFGIsEnable()) return;
    const char* text = ZOKT_YOZMFG_GetCmdString(id);
    if (text != nullptr) TKX_BoundedCopy(word, text, YOZ_MFG_WORD_CHARS);
}

const char* YOZ_MatchPrefixWord(const char* arg, UINT32 length, const char* match) {
    if (length == 0 || length > YOZ_MFG_WORD_CHARS || StringLength(arg) <= length) return nullptr;
    char head[YOZ_MFG_WORD_CHARS + 1] = {};
    TKX_BoundedCopy(head, arg, length);
    return IdentifyArg(head, match, 1) == 1 ? arg + length : nullptr;
}

ENUM_ERR_ID YOZ_ParseMfgNumberOption(TKXArgvList& args, TKX_QUEUE_ITEM* self, UINT8 id,
                                     char (&word)[YOZ_MFG_WORD_CHARS + 1], const char* match, long long* value) {
    YOZ_TakeMfgWord(id, word);
    if (!YOZ_ModeTakesPart(self->ModeMask)) return eEID_NO_ERROR;
    UINT32 length = StringLength(word);
    if (length == 0) return eEID_NO_ERROR;
    for (unsigned long i = 1; i < args.size(); ++i) {
        const char* number = YOZ_MatchPrefixWord(args[i]->text, length, match);
        if (number == nullptr) continue;
        if (args.size() <= 2) return eEID_COMMAND_LINE;
        args[i]->claimed = 1;
        self->Enabled = 1;
        *value = YOZ_OptionNumber(number);
    }
    return eEID_NO_ERROR;
}

long long YOZ_OptionNumber(const char* text) {
    char digits[32];
    TKX_BoundedCopy(digits, text, 31);
    errno = 0;
    long long value = strtoll(digits, nullptr, 10);
    return value;  // strtoll holds an overflow at LLONG_MIN / LLONG_MAX
}
