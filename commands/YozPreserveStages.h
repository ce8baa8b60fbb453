// Pieces shared by the setup and SMBIOS preservation modules ("/SP", "/R",
// "/R<n>" and their restore items).
#pragma once
#include "YozGlobal.h"
#include "YozRegionStages.h"
#include "YozSmbProc.h"

// The saved SMBIOS areas of "/R" and "/R<n>", freed at the end of the run.
extern _DMIDATA gSMB_DmiData;
extern _DMIDATA gSMBN_DmiData;

// Parse of "/SP" and "/R": every word from index 1 equal to `word` (any
// case) enables the item and is claimed with word 1, the ROM file; 1 when
// the command line holds no ROM file word.
ENUM_ERR_ID YOZ_Preserve_Parse(TKX_QUEUE_ITEM* item, TKXArgvList& args, const char* word);
// The check record of a store module: sizes must agree, a ROM file with
// checksums and ROM-ID check is needed.
void YOZ_Preserve_Record(CHECK_FUNC_ITEM& record, CHECK_FUNC_ITEM*& published, TKX_QUEUE_ITEM& item,
                         ENUM_ERR_ID (*checkRom)(INT16), ENUM_ERR_ID (*checkBlock)());

typedef UINT8 (*YOZ_DmiStoreFunc)(UINT8* systemImage, _DMIDATA* dmi);
// The image side of "/R" and "/R<n>": the system's area saved by `store`
// goes into the ROM image by `restore`. A system without an area is no
// error; one whose area cannot be read whole, or an image that cannot take
// it, gives 0xD4; memory 0x22.
ENUM_ERR_ID YOZ_Preserve_ImageSide(_DMIDATA* dmi, YOZ_DmiStoreFunc store, YOZ_DmiStoreFunc restore);
