// Trailer-records module: in its parse it reads the configuration records
// appended to the program (version text, embedded image, default command
// line), so the merged words are in the argument list before every later
// module parses. It never claims a word and has no execute or help action.
#include "HuxCoreHooks.h"
#include "YozOptionStore.h"
#include "YozRomFile.h"
#include "YozSwitchMode.h"
#include "YozZozRecords.h"

static const UINT8 kTrailerRecordsMask = YOZ_MODE_NORMAL;

static ENUM_ERR_ID TrailerRecordsParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    if (!YOZ_ModeTakesPart(self->ModeMask)) return eEID_NO_ERROR;
    if (!YOZ_GetDelZOZCmdIsEnable()) YOZ_ZOZ_Load(args, YOZ_pUCPOEMVerString, YOZ_pOpenFileBuff, YOZ_OpenFileSize);
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID TrailerRecordsExecute(TKXQueueItemList&) { return eEID_NO_ERROR; }
static void TrailerRecordsHelp(UINT8) {}

static TKX_QUEUE_ITEM s_TrailerRecordsItem;

ENUM_ERR_ID RegisterZOZQueueItem(TKXQueueItemList& items) {
    YOZ_ZOZ_Init();
    s_TrailerRecordsItem = TKX_QUEUE_ITEM{eMID_ZOZ, TrailerRecordsParse, TrailerRecordsExecute, TrailerRecordsHelp,
                                          nullptr, 0, 0, 0, kTrailerRecordsMask, 0};
    items.push_back(&s_TrailerRecordsItem);
    return eEID_NO_ERROR;
}
