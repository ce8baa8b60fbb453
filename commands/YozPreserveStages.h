// Pieces shared by the setup and SMBIOS preservation modules ("/SP", "/R",
// "/R<n>" and their restore items).
#pragma once
#include "TKXRunEnd.h"
#include "YozGlobal.h"
#include "YozRegionStages.h"
#include "YozSmbProc.h"

// The saved SMBIOS areas of "/R" and "/R<n>", freed at the end of the run.
extern _DMIDATA gSMB_DmiData;
extern _DMIDATA gSMBN_DmiData;

// What tells the preservation modules apart at registration.
struct YOZ_PRESERVE_ENTRIES {
    UINT32 ModuleId;
    ParsingCommandFunctionT Parse;
    ExecutionActionFunctionT Execute;
    CommandHelpT Help;
    const char* Word;                     // name in the firmware's command table (store modules)
    ENUM_ERR_ID (*CheckRom)(INT16);       // check record (store modules)
    ENUM_ERR_ID (*CheckBlock)();
};
// A store module ("/SP", "/R", "/R<n>"): its queue item (order key 0x58EF,
// normal and FTF mode, region-open flag), its name for the firmware's
// command table and its check record (sizes must agree; a ROM file with
// checksums and ROM-ID check is needed).
ENUM_ERR_ID YOZ_Preserve_RegisterStore(TKXQueueItemList& items, TKX_QUEUE_ITEM& item, const YOZ_PRESERVE_ENTRIES& e,
                                       CHECK_FUNC_ITEM& record, CHECK_FUNC_ITEM*& published);
// A restore item (order key 0x8001, no option) whose slots hold only the
// firmware function `restore`.
ENUM_ERR_ID YOZ_Preserve_RegisterRestore(TKXQueueItemList& items, TKX_QUEUE_ITEM& item, const YOZ_PRESERVE_ENTRIES& e,
                                         YOZ_STAGE_SLOTS& slots, YOZ_StageFunc restore);
// Slots with the firmware check, processing and flash stages.
YOZ_STAGE_SLOTS YOZ_Preserve_Slots(YOZ_StageFunc zoktCheck, YOZ_StageFunc process, YOZ_StageFunc flash);
// Parse of "/SP" and "/R": the item is cleared and its slots set back to
// `registered` (the capsule-mode notice is owed again); every word from
// index 1 equal to `word` (any case) enables the item and is claimed with
// word 1, the ROM file; 1 when the command line holds no ROM file word.
ENUM_ERR_ID YOZ_Preserve_Parse(TKX_QUEUE_ITEM* item, TKXArgvList& args, const char* word, YOZ_STAGE_SLOTS& slots,
                               const YOZ_STAGE_SLOTS& registered);
// Parse of a restore item: enabled in every run that its mode admits.
ENUM_ERR_ID YOZ_Preserve_RestoreParse(TKX_QUEUE_ITEM* item);

typedef UINT8 (*YOZ_DmiStoreFunc)(UINT8* systemImage, _DMIDATA* dmi);
// The image side of "/R" and "/R<n>": the system's area saved by `store`
// (once a run) goes by `restore` into the image's area in the blocks the run
// writes ("/B", "/P"); a run that writes neither leaves it alone. A system
// without an area is no error; one whose area cannot be read whole, or an
// image that cannot take it, gives 0xD4; memory 0x22. With `restore` null
// only whether it would succeed.
ENUM_ERR_ID YOZ_Preserve_ImageSide(_DMIDATA* dmi, YOZ_DmiStoreFunc store, YOZ_DmiStoreFunc restore);
// The same without writing, for the pre-flash check (block check of the
// check record): a refusal comes before anything is stored or erased.
// Nothing in capsule or recovery mode.
ENUM_ERR_ID YOZ_Preserve_CheckImageSide(_DMIDATA* dmi, YOZ_DmiStoreFunc store);
// In capsule or recovery mode the store modules leave the signed file as it
// is: 1 then, after one line of notice for the run.
UINT8 YOZ_Preserve_SkipInCapsuleMode();
// The firmware's support of preservation: 1 when it says it has it. A query
// it never answered, sent again, is no verdict: a line says so.
UINT8 YOZ_Preserve_AskSupport();
// A firmware store ("/SP" setup, "/R" SMBIOS variables): its restore goes on
// the run-end list before the store is sent, and comes off again only when
// the store is refused; a store whose answer was lost may be held, and a
// line says that the firmware did not answer the store of its `what`. 1 when
// the store was done. The module's own restore pops it.
UINT8 YOZ_Preserve_Store(UINT8 (*store)(), TKX_RunEndFunc restoreAtRunEnd, const char* what);
// The restore of the run-end list: when it is refused or not answered, a
// line says that the firmware may still hold the stored `what`, and the
// restore's error is the result (the run keeps an error it has already).
ENUM_ERR_ID YOZ_Preserve_TakeBack(UINT8 (*restore)(), const char* what);
