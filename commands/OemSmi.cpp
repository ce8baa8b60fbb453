// OEM software SMI, named by the firmware in manufacturing mode (entry 15):
// the word is followed by hexadecimal digits and the program raises a
// software SMI with that byte. Only the last two digits count; a second
// word adds its byte to the first.
#include "HuxCompat.h"
#include "HuxCoreHooks.h"
#include "RunControl.h"
#include "SmiTransport.h"
#include "TKXString.h"
#include "YozGlobal.h"
#include "YozOptionStore.h"
#include "YozSwitchMode.h"
#include "YozZozRecords.h"

UINT8 gSMI_Value = 0;
char gOEMSMI_HC_IdfStr[YOZ_MFG_WORD_CHARS + 1];
CHECK_FUNC_ITEM OEMSMICheckFunc;
CHECK_FUNC_ITEM* PtrOEMSMICheckFunc = nullptr;

static TKX_QUEUE_ITEM s_OemSmiItem;
static const UINT32 kValueChars = 127;

// Adds the byte the hexadecimal text names to gSMI_Value; false when the
// text is empty or holds anything but hexadecimal digits.
static bool AddSmiValue(const char* text) {
    char digits[kValueChars + 1] = {};
    UINT32 count = TKX_BoundedCopy(digits, text, kValueChars);
    if (count == 0) return false;
    UINT32 value = 0;
    for (UINT32 k = 0; k < count; ++k) {
        char c = digits[count - 1 - k];
        if (!YOZ_Isxdigit(static_cast<unsigned char>(c))) return false;
        if (k < 2) value += static_cast<UINT32>(YOZ_Conv_GetNum(c)) << (4 * k);
    }
    gSMI_Value = static_cast<UINT8>(gSMI_Value + value);
    return true;
}

static ENUM_ERR_ID OemSmiParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    YOZ_TakeMfgWord(15, gOEMSMI_HC_IdfStr);
    if (!YOZ_ModeTakesPart(self->ModeMask)) return eEID_NO_ERROR;
    UINT32 length = StringLength(gOEMSMI_HC_IdfStr);
    if (length == 0) return eEID_NO_ERROR;
    for (unsigned long i = 1; i < args.size(); ++i) {
        const char* value = YOZ_MatchPrefixWord(args[i]->text, length, gOEMSMI_HC_IdfStr);
        if (value == nullptr) continue;
        if (!AddSmiValue(value)) return eEID_COMMAND_LINE_BAD_SMI_ADDRESS;
        args[i]->claimed = 1;
        self->Enabled = 1;
    }
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID OemSmiExecute(TKXQueueItemList&) {
    if (YOZ_ModeTakesPart(s_OemSmiItem.ModeMask)) CallOemSmi(gSMI_Value);
    return eEID_NO_ERROR;
}

static void OemSmiHelp(UINT8) { YOZ_ModeTakesPart(s_OemSmiItem.ModeMask); }

ENUM_ERR_ID RegisterOEMSMIQueueItem(TKXQueueItemList& items) {
    s_OemSmiItem = TKX_QUEUE_ITEM{eMID_OEMSMI, OemSmiParse, OemSmiExecute, OemSmiHelp, nullptr, 0, 0, 0x4E34,
                                  YOZ_MODE_NORMAL, 0};
    // Enters the "/U" command (the ROM-ID display's entry), which that module
    // enters again when it registers.
    YOZ_ZOZ_RegisterModule(eMID_DISPLAYROMID, "/U");
    OEMSMICheckFunc = CHECK_FUNC_ITEM{nullptr, nullptr, 0, 0, 0, 0, 0, 0, &s_OemSmiItem.Enabled};
    PtrOEMSMICheckFunc = &OEMSMICheckFunc;
    items.push_back(&s_OemSmiItem);
    HuxDeclareCompat(&s_OemSmiItem, HUX_COMPAT_RUN_CONTROL, nullptr);
    return eEID_NO_ERROR;
}
