// Placeholders for the modules and platform services that are not built yet.
// Each is a weak definition; the real one, once linked, takes its place. A
// placeholder registrar appends nothing and succeeds, so the module table
// keeps its positions.
#include "HuxCoreHooks.h"
#include "HuxPlatform.h"
#include "YozOptionStore.h"

#define PLACEHOLDER __attribute__((weak))

PLACEHOLDER ENUM_ERR_ID RegisterEGMQueueItem(TKXQueueItemList&) { return eEID_NO_ERROR; }
PLACEHOLDER ENUM_ERR_ID RegisterEGM_JVC_QueueItem(TKXQueueItemList&) { return eEID_NO_ERROR; }
PLACEHOLDER ENUM_ERR_ID RegisterMEBINULQueueItem(TKXQueueItemList&) { return eEID_NO_ERROR; }
PLACEHOLDER ENUM_ERR_ID RegistermeulQueueItem(TKXQueueItemList&) { return eEID_NO_ERROR; }
PLACEHOLDER ENUM_ERR_ID RegisterEGM_R2x2_QueueItem(TKXQueueItemList&) { return eEID_NO_ERROR; }
PLACEHOLDER ENUM_ERR_ID RegisterEGM_INFO_QueueItem(TKXQueueItemList&) { return eEID_NO_ERROR; }
PLACEHOLDER ENUM_ERR_ID RegisterEGM_MEINFO_QueueItem(TKXQueueItemList&) { return eEID_NO_ERROR; }
PLACEHOLDER ENUM_ERR_ID RegisterEGM_NPSLP_QueueItem(TKXQueueItemList&) { return eEID_NO_ERROR; }
PLACEHOLDER ENUM_ERR_ID RegisterEGM_SFMDT_QueueItem(TKXQueueItemList&) { return eEID_NO_ERROR; }
PLACEHOLDER ENUM_ERR_ID RegisterEGM_ERASE_QueueItem(TKXQueueItemList&) { return eEID_NO_ERROR; }
PLACEHOLDER ENUM_ERR_ID RegisterMEBULQueueItem(TKXQueueItemList&) { return eEID_NO_ERROR; }
PLACEHOLDER ENUM_ERR_ID RegisterEGM_S24_QueueItem(TKXQueueItemList&) { return eEID_NO_ERROR; }
PLACEHOLDER ENUM_ERR_ID RegisterEGM_PRESET_QueueItem(TKXQueueItemList&) { return eEID_NO_ERROR; }

#include "TKXAcpi.h"
#include "TKXPhysMem.h"
#include "TKXPortIo.h"

#include "SecureFlash.h"
#include "YozRomFile.h"

#include "RomInfo.h"
#include "ZoktMe.h"
#include "YozGlobal.h"
#include "ZoktCfgCmd.h"
#include "ZoktEc.h"
// Check records of the modules not built yet: none published.
