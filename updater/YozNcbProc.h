// Region processors of the NVRAM (block type 2, NVR_) and of the non-critical
// blocks (types 0x80 and up): every one of the system (NBF_) or the ones
// chosen on the command line (NBN_), these taken from a whole image or from a
// file that holds only non-critical block data. Members of the family of
// YozRegionProc.h: the common operations are thin entry points into it.
#pragma once
#include "YozRegionProc.h"

extern const YOZ_REGION_PROC YOZ_NVRProc, YOZ_NBFProc, YOZ_NBNProc;

extern UINT32 gNVRF_AllBlockSize;
extern UINT8 gNVRF_FlashEnable;
extern UINT8 gNVRF_FvType;
YOZ_REGION_PROC_COMMON_NAMES(NVR)
UINT32 NVR_Proc_MakeTypeDoItList(UINT8* map, char type);

extern UINT32 gNBFF_AllBlockSize;
extern UINT8 gNBFF_FlashEnable;
YOZ_REGION_PROC_COMMON_NAMES(NBF)
// Marks every block whose type has bit 0x80; returns their summed size.
UINT32 NBF_Proc_MakeDoItList(UINT8* map);
// Copies the blocks of every non-critical block of the system from source
// (`size` bytes) to destination at the same offsets; 0 when a buffer is
// missing or a block lies outside either.
UINT8 NBF_Proc_FileNCBToFlashBuff(UINT8* destination, UINT8* source, UINT32 size);

extern UINT32 gNBNF_AllBlockSize;
extern UINT8 gNBN_FlashEnable;
extern UINT8 gNBN_UseBinFile;                  // the input file holds only non-critical block data
extern UINT8 gNBN_InputKnList[YOZ_MAX_NCB];    // 1: the system's non-critical block n is chosen
YOZ_REGION_PROC_COMMON_NAMES(NBN)
// Marks the blocks of the chosen non-critical blocks (a block belongs to the
// first one of its type); returns their summed size, 0 when none has a block.
// A null map: only the size.
UINT32 NBN_Proc_MakeDoItList(UINT8* map, const UINT8* chosen);
// Image mode: copies the chosen blocks' data at the same offsets. Bin-file
// mode: lays the file's bytes into the blocks of the first chosen block, in
// table order, from file offset 0. 0 when a buffer is missing or a block
// lies outside either buffer.
UINT8 NBN_Proc_FileRHToFlashBuff(UINT8* destination, UINT8* source, UINT32 sourceSize, UINT8* chosen);
// Bin-file mode: 1 when a file of `fileSize` bytes fits the blocks of the
// first chosen block (or when the system has none of the chosen ones).
UINT8 NBN_Proc_BinFileFits(UINT32 fileSize, const UINT8* chosen);
