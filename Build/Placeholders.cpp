// Placeholders for the modules and platform services that are not built yet.
// Each is a weak definition; the real one, once linked, takes its place. A
// placeholder registrar appends nothing and succeeds, so the module table
// keeps its positions.
#include "HuxCoreHooks.h"
#include "HuxPlatform.h"
#include "YozOptionStore.h"

#define PLACEHOLDER __attribute__((weak))

PLACEHOLDER ENUM_ERR_ID RegisterMEBINULQueueItem(TKXQueueItemList&) { return eEID_NO_ERROR; }
PLACEHOLDER ENUM_ERR_ID RegistermeulQueueItem(TKXQueueItemList&) { return eEID_NO_ERROR; }
PLACEHOLDER ENUM_ERR_ID RegisterMEBULQueueItem(TKXQueueItemList&) { return eEID_NO_ERROR; }
