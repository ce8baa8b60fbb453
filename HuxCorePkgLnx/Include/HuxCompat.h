// How an option module's work goes with the rest of a command line. Each
// module declares it once, when it registers; the core checks the command
// line against the declarations after the parse pass, and once more after
// the firmware's configuration answer has switched modules on or off.
#pragma once
#include "HuxCore.h"

enum HUX_COMPAT : UINT8 {
    HUX_COMPAT_ANY = 0,       // an update, a command or a check: what a module is unless it declares otherwise
    HUX_COMPAT_STANDS_ALONE,  // the run's only work: beside it only run-control words and one power action
    HUX_COMPAT_RUN_CONTROL,   // only sets how the run goes
    HUX_COMPAT_POWER_ACTION,  // restarts, powers off or resets the machine once the run's work is done
    HUX_COMPAT_OWN_POWER,     // a mode that ends the run with its own power-off or restart
    HUX_COMPAT_ME_UPDATE,     // an update of the ME: the firmware starts one a boot, so one a run
};

// Declares the module's compatibility and the word the messages name it by
// (a text that lives as long as the run and may be filled in later, as a
// word the firmware supplies is; null for none). A second declaration of
// the same item replaces the first.
void HuxDeclareCompat(const TKX_QUEUE_ITEM* item, HUX_COMPAT compat, const char* word);
HUX_COMPAT HuxCompatOf(const TKX_QUEUE_ITEM* item);

// The parse pass: words claimed before it (at registration) belong to no
// module's parse; after each parse the words it claimed are its own.
void HuxCompat_ClaimedBeforeParse(TKXArgvList& args);
void HuxCompat_NoteClaims(TKXArgvList& args, const TKX_QUEUE_ITEM* item);
// Once a stand-alone command has ended the parse, the modules that may go
// beside it (run-control words, power actions) still take their words.
UINT8 HuxCompat_GoesBesideStandAlone(const TKX_QUEUE_ITEM* item);

// Checks the enabled modules and the words against the declarations:
// beside a stand-alone command no word of another kind (nor one that no
// module took), at most one power action and, outside a mode that powers
// the machine itself, at most one ME update. A power action beside a mode
// that powers the machine itself is switched off, with a line that says so.
// eEID_COMMAND_LINE with the line that says why in `why` (size bytes);
// eEID_NO_ERROR otherwise.
ENUM_ERR_ID HuxCheckCompat(TKXArgvList& args, TKXQueueItemList& items, char* why, UINT32 size);
