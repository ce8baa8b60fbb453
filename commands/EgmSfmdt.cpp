// Engineering "sfmdt:<before>:<after>": waits around the secure-flash
// session request, in units of 10 µs, before and after it. Numbers that are
// not plain decimal digits, or whose wait would not fit 32 bits of µs, leave
// both waits 0, as a text without ":" does.
#include <cstring>
#include "HuxCoreHooks.h"
#include "SecureFlash.h"
#include "YozEgm.h"

static TKX_QUEUE_ITEM EGM_SFMDT_QueueItem;
static UINT32 BeforDelayTime = 0;
static UINT32 AfterDelayTime = 0;

// Digits only, at least one, at most the limit.
static bool ReadDelay(const char* text, size_t length, UINT32* value) {
    if (length == 0) return false;
    UINT64 v = 0;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        v = v * 10 + static_cast<UINT64>(text[i] - '0');
        if (v > EGM_SFMDT_MAX_DELAY) return false;
    }
    *value = static_cast<UINT32>(v);
    return true;
}

UINT8 EGM_SFMDT_ReadDelays(const char* text, UINT32* before, UINT32* after) {
    *before = 0;
    *after = 0;
    const char* colon = strchr(text, ':');
    if (colon == nullptr) return 0;
    UINT32 b = 0, a = 0;
    if (!ReadDelay(text, static_cast<size_t>(colon - text), &b) || !ReadDelay(colon + 1, strlen(colon + 1), &a))
        return 0;
    *before = b;
    *after = a;
    return 1;
}

static ENUM_ERR_ID SfmdtParse(TKXArgvList&, TKX_QUEUE_ITEM* self) {
    BeforDelayTime = 0;
    AfterDelayTime = 0;
    EGM_TakeSelection(self, EGM_SFMDT);
    if (self->Enabled) EGM_SFMDT_ReadDelays(GMCmdList[EGM_SFMDT].args, &BeforDelayTime, &AfterDelayTime);
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID SfmdtExecute(TKXQueueItemList&) {
    ZOKT_SetMethod_BeforeDelayTime(BeforDelayTime);
    ZOKT_SetMethod_AfterDelayTime(AfterDelayTime);
    return eEID_NO_ERROR;
}

ENUM_ERR_ID RegisterEGM_SFMDT_QueueItem(TKXQueueItemList& items) {
    BeforDelayTime = 0;
    AfterDelayTime = 0;
    return EGM_RegisterSubModule(items, EGM_SFMDT_QueueItem, eMID_EGM_SFMDT, SfmdtParse, SfmdtExecute, 0x5D2A);
}
