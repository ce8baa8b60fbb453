// Stages and parse steps shared by the four ROM-hole modules.
#pragma once
#include "YozHoleProc.h"
#include "YozRegionStages.h"

// Flash stage: the block-map engine over the system ROM copy, the ROM-hole
// progress lines with the module's total.
ENUM_ERR_ID YOZ_Hole_FlashStage(UINT32 total);
// Write-once stage: the flash-item list over the system ROM copy (compare,
// size, erase, write, verify).
ENUM_ERR_ID YOZ_Hole_WriteOnceStage(UINT32 total);

// Per volume (boot, main): whether the pre-flash walk ran its open module.
struct YOZ_HOLE_AHEAD {
    UINT8 Volume[2];
};

// The all-holes and holes-by-number modules.
struct YOZ_HOLE_MODULE {
    const YOZ_REGION_PROC* Proc;
    YOZ_STAGE_SLOTS* Slots;
    TKXQueueItemList** Items;      // the queue-item list saved by the execute function
    UINT8* BootEnable;             // a marked block lies in the boot-block volume
    UINT8* MainEnable;             // ... in the main volume
    YOZ_StageFunc SecureFlashFunc;
    YOZ_HOLE_AHEAD* Ahead;         // what its pre-flash entry did
};
// Process stage over a whole image: merge, copy of the (chosen) holes into
// the system ROM copy, do-it list; the secure switch or the compare pass.
// `chosen` null: every hole.
ENUM_ERR_ID YOZ_Hole_ProcessImage(const YOZ_HOLE_MODULE& m, UINT8* chosen);
// Secure stage: the boot-block and main-BIOS modules process and flash the
// volumes that hold marked blocks; then the image is uploaded.
ENUM_ERR_ID YOZ_Hole_SecureFlash(const YOZ_HOLE_MODULE& m);
// The module's pre-flash entry: what would refuse the hole stage later
// (the pairing, chosen holes the image lacks; under secure flash the merge,
// each volume's open module unless its option was given and the firmware's
// policy, and the volume's data carried into the uploaded image).
ENUM_ERR_ID YOZ_Hole_PreFlash(const YOZ_HOLE_MODULE& m, UINT8* chosen);
// The do-it list, allocated on first use (null without memory).
UINT8* YOZ_Hole_DoItList();

// Parse of "/HOLE:" and "/HOLEOUT:" (prefix, then a GUID): claims the word
// and word 1 (the file word, also kept in `fileWord` when given); the last
// GUID given counts. 0x01 when the operator named no file in word 1 (none
// given, the option itself, or the embedded image's name) or the GUID is
// not 32 hex digits.
ENUM_ERR_ID YOZ_Hole_GuidParse(TKX_QUEUE_ITEM* item, TKXArgvList& args, const char* prefix, EFI_GUID* guid,
                               char** fileWord);
