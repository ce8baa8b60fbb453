// The run-end list: a fixed table of the ends the run still owes, in the
// order they were pushed.
#include "TKXRunEnd.h"
#include "HuxCore.h"

namespace {

TKX_RunEndFunc s_Ends[TKX_RUN_END_SLOTS];
UINT32 s_Count = 0;

int Find(TKX_RunEndFunc end) {
    for (UINT32 i = 0; i < s_Count; ++i)
        if (s_Ends[i] == end) return static_cast<int>(i);
    return -1;
}

void RemoveAt(UINT32 at) {
    for (UINT32 i = at; i + 1 < s_Count; ++i) s_Ends[i] = s_Ends[i + 1];
    --s_Count;
}

}  // namespace

void TKX_RunEndPush(TKX_RunEndFunc end) {
    if (end == nullptr) return;
    int at = Find(end);
    if (at >= 0) RemoveAt(static_cast<UINT32>(at));
    if (s_Count < TKX_RUN_END_SLOTS) s_Ends[s_Count++] = end;
}

void TKX_RunEndPop(TKX_RunEndFunc end) {
    int at = Find(end);
    if (at >= 0) RemoveAt(static_cast<UINT32>(at));
}

UINT8 TKX_RunEndHolds(TKX_RunEndFunc end) { return Find(end) >= 0 ? 1 : 0; }

void TKX_RunEndAll() {
    while (s_Count > 0) {
        TKX_RunEndFunc end = s_Ends[--s_Count];
        ENUM_ERR_ID status = end();
        if (g_LastErrorCode == eEID_NO_ERROR) g_LastErrorCode = status;
    }
}
