// The global secure-flash item (module slot 89): clears the secure-flash
// enable flag at registration and does nothing else.
#include "YozGlobal.h"

static TKX_QUEUE_ITEM s_GlobalSecureFlashItem;

static const UINT16 kGlobalSecureFlashOrderKey = 32771;

static ENUM_ERR_ID GlobalSecureFlashParse(TKXArgvList&, TKX_QUEUE_ITEM*) { return eEID_NO_ERROR; }
static ENUM_ERR_ID GlobalSecureFlashExecute(TKXQueueItemList&) { return eEID_NO_ERROR; }
static void GlobalSecureFlashHelp(UINT8) {}

ENUM_ERR_ID RegisterYozGlobalSecureFlashQueueItem(TKXQueueItemList& items) {
    s_GlobalSecureFlashItem = TKX_QUEUE_ITEM{eMID_YOZGLOBALSECUREFLASH, GlobalSecureFlashParse,
                                             GlobalSecureFlashExecute, GlobalSecureFlashHelp, nullptr, 0, 0,
                                             kGlobalSecureFlashOrderKey, 0, 0};
    items.push_back(&s_GlobalSecureFlashItem);
    YOZ_SecureFlashEnable = 0;
    return eEID_NO_ERROR;
}
