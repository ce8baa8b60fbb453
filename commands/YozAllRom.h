// The whole-ROM module: its state shared between the module's stages and
// its flash stage.
#pragma once
#include "HuxCore.h"
#include "SmiTransport.h"

// Offsets of the firmware-volume signatures ("_FVH") in the image and in the
// flash copy, and the blocks that hold a signature of the flash copy.
extern TKXList<unsigned int> RomFile_FVHAddressList;
extern TKXList<unsigned int> SysRom_FVHAddressList;
extern TKXList<unsigned short> SysRom_FVHIndexList;
void AllROM_ClearLists();

extern UINT8 gSysHasME;
extern UINT8 gFileHasME;
// Bytes of layout data handed to the firmware after a layout change.
extern UINT32 gRomFile_RomAreaTableSize;
// The layout data length of the image (its layout file size - 40), cut to
// the image's end; 0 without layout data. Needs the image's layout found.
UINT32 AllROM_LayoutDataLength(UINT8* image, UINT32 size);

// Tries of one range: the first with `callback`, then YOZ_GetFlashRetryCnt()
// more without, stopping at the first success: 0, or 0x43, 0x44, 0x45.
ENUM_ERR_ID AllROM_FlashErase(UINT32 start, UINT32 size, CallBackFn_T callback);
ENUM_ERR_ID AllROM_FlashWrite(UINT32 start, UINT32 size, UINT8* data, CallBackFn_T callback);
ENUM_ERR_ID AllROM_FlashVerify(UINT32 start, UINT32 size, UINT8* data, CallBackFn_T callback);

// Fills the signature lists from the image and the flash copy.
void AllROM_Record_FVH_Address(UINT8* image, UINT32 imageSize, UINT8* system, UINT32 systemSize);
// The flash stage: secure session when supported, every block erased,
// written and verified, the signature blocks and bytes once more, then the
// layout change when the layout changed.
ENUM_ERR_ID AllROM_FlashFunc();
