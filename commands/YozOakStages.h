// Stages shared by the OEM activation key modules ("/A" and "/OAD").
#pragma once
#include "YozGlobal.h"
#include "YozOakProc.h"
#include "YozRegionStages.h"

// The working buffer with the system's contents: the OA-block volumes read
// from flash in eMMC 2x2 mode, else a copy of the whole system ROM.
ENUM_ERR_ID YOZ_Oak_LoadSystemCopy();
// Before the run's first erase, for a stage that writes that copy back: the
// OA block, or the blocks of the key's file (with `bootBlocks`, the boot
// blocks too) are named to the pre-flash walk, which reads them again.
void YOZ_Oak_KeepCopy(bool bootBlocks);
// The runtime secure-flash session of the boot-block area for `image`
// (gRomSize bytes, capsule header restored), with an upload of its own.
ENUM_ERR_ID YOZ_Oak_SecureStart(UINT8* image);
// A ROM file's blocks that the do-it list marks keep what the system holds
// in them, as a region flash does: each system ROM hole and SLP key there
// goes into `buffer` (the image, `size` bytes) at the image's place of its
// GUID, or the stage stops before any erase (0xBB, 0x14).
ENUM_ERR_ID YOZ_Oak_CarrySystemData(const YOZ_REGION_PROC* p, UINT8* buffer, UINT32 size);
// Before the run's first erase, for a ROM file's key update: the blocks it
// rewrites (the boot block and those of `image`'s key record) keep what the
// system holds there (0xBB, 0x14); with `systemKey`, they hold the system's
// key area; and a block of another region that the run does not write
// whole holds the system's bytes but for the protected files (0xB8).
ENUM_ERR_ID YOZ_Oak_KeyBlocksKept(UINT8* image, bool systemKey);
// Block-map run of the marked blocks over `buffer` with the message set;
// sets *ran when the engine ran.
ENUM_ERR_ID YOZ_Oak_ActionStage(UINT8* buffer, UINT8 msgSet, UINT32 total, UINT8* ran);
// The same for the blocks of the OA block: under secure flash (outside eMMC
// 2x2 mode) `buffer`, the whole ROM with the key in it, goes up first with
// a session of its own.
ENUM_ERR_ID YOZ_Oak_BlockStage(UINT8* buffer, UINT8 msgSet, UINT32 total, UINT8* ran);
// Flash-item run over `buffer` (OA-block messages); sets *ran on success.
// An empty item list fails with 0x4A.
ENUM_ERR_ID YOZ_Oak_ItemsStage(UINT8* buffer, UINT32 total, UINT8* ran);
// A ROM file beside "/A" or "/OAD" is flashed from: its check record then
// asks the global check for the file and its size, checksum and ROM-ID
// checks; without one it asks for nothing.
void YOZ_Oak_ImageChecks(CHECK_FUNC_ITEM& record, bool romFile);
// The record's size check: a ROM file in use must be as large as the flash (3).
ENUM_ERR_ID YOZ_Oak_SizeCheck(const CHECK_FUNC_ITEM& record, INT16 sizeStatus);
// Execute of "/A" and "/OAD": nothing in capsule or recovery mode; the
// stages in `order`; after a flash stage ran (*ran), every queue item of
// the follow-up module id is enabled.
ENUM_ERR_ID YOZ_Oak_Execute(const TKX_QUEUE_ITEM& item, const YOZ_STAGE_SLOTS& slots, const char* order, UINT8* ran,
                            TKXQueueItemList& items, UINT32 followUp);
// Help: the commands line in pass 1, the options line in pass 0.
void YOZ_Oak_Help(const TKX_QUEUE_ITEM& item, UINT8 pass, const char* word, const char* commands,
                  const char* options);
