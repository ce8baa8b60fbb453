// The run-end list: what the run has started and not ended yet. Whoever
// starts something (an update, a session, a store, a flash mode, a new file)
// pushes the function that ends it, whoever ends it pops that function, and
// the shutdown path runs what is left, last pushed first, whichever way the
// run ends: the execute pass, an early error, an ending signal. Nothing is
// allocated: the list is a fixed table of function pointers.
#pragma once
#include "HuxErrorId.h"
#include "HuxTypes.h"

// Ends what its owner started. Its result becomes the run's status only when
// the run has none yet.
typedef ENUM_ERR_ID (*TKX_RunEndFunc)();

// Each end is on the list at most once, so the table holds every end the
// program has.
#define TKX_RUN_END_SLOTS 16

// Pushes `end` on top; one already on the list moves to the top.
void TKX_RunEndPush(TKX_RunEndFunc end);
// Takes `end` off the list wherever it stands; nothing when it is not there.
void TKX_RunEndPop(TKX_RunEndFunc end);
// 1 while `end` is on the list.
UINT8 TKX_RunEndHolds(TKX_RunEndFunc end);
// The shutdown path: runs every end left, last pushed first, each taken off
// before it runs; the first non-zero result becomes the run's status when it
// is still 0.
void TKX_RunEndAll();
