// Help module ("/H", "/?"): turns the run into a usage request. It drops
// every word after the program name and stops the parse pass, so the
// framework prints the usage and the run ends with 0.
#include "HuxCoreHooks.h"
#include "TKXString.h"
#include "YozSwitchMode.h"

static const UINT8 kHelpMask = YOZ_MODE_NORMAL | YOZ_MODE_2X2 | YOZ_MODE_FTF;

static ENUM_ERR_ID HelpParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    if (!YOZ_ModeTakesPart(self->ModeMask)) return eEID_NO_ERROR;
    for (unsigned long i = 1; i < args.size(); ++i) {
        if (IdentifyArg(args[i]->text, "/H", 1) == 1 || IdentifyArg(args[i]->text, "/?", 1) == 1) {
            self->Enabled = 1;
            args[i]->claimed = 1;
        }
    }
    if (self->Enabled != 0) {
        while (args.size() > 1) {
            TKX_ARGV_ITEM* last = args[args.size() - 1];
            args.pop_back();
            if (last->fromTrailer) delete[] last->text;
            delete last;
        }
    }
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID HelpExecute(TKXQueueItemList&) { return eEID_NO_ERROR; }

// The usage head's lines are the help of "/H": this module adds none.
static void HelpHelp(UINT8) {}

static TKX_QUEUE_ITEM s_HelpItem;

ENUM_ERR_ID RegisterhelpQueueItem(TKXQueueItemList& items) {
    s_HelpItem = TKX_QUEUE_ITEM{eMID_HELP, HelpParse, HelpExecute, HelpHelp, nullptr, 0, 1, 0, kHelpMask, 0};
    items.push_back(&s_HelpItem);
    return eEID_NO_ERROR;
}
