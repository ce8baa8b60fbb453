// The non-critical block processors: every non-critical block of the system
// (NBF_) or the chosen ones (NBN_). A block belongs to a non-critical block
// of the system's list when its type byte equals that one's type.
#include <cstring>
#include "YozNcbProc.h"
#include "YozSysRom.h"

UINT32 gNBFF_AllBlockSize = 0;
UINT8 gNBFF_FlashEnable = 0;
static UINT8 s_NBFFvType = 0;
const YOZ_REGION_PROC YOZ_NBFProc = {&gNBFF_AllBlockSize, &gNBFF_FlashEnable, &s_NBFFvType, 0, 0, 0};

UINT32 gNBNF_AllBlockSize = 0;
UINT8 gNBN_FlashEnable = 0;
UINT8 gNBN_UseBinFile = 0;
UINT8 gNBN_InputKnList[YOZ_MAX_NCB];
static UINT8 s_NBNFvType = 0;
const YOZ_REGION_PROC YOZ_NBNProc = {&gNBNF_AllBlockSize, &gNBN_FlashEnable, &s_NBNFvType, 0, 0, 0};

void NBF_FuncVar_Init() { RP_FuncVar_Init(&YOZ_NBFProc); }
YOZ_REGION_PROC_COMMON_DEFINE(NBF, YOZ_NBFProc)

void NBN_FuncVar_Init() {
    RP_FuncVar_Init(&YOZ_NBNProc);
    gNBN_UseBinFile = 0;
}
YOZ_REGION_PROC_COMMON_DEFINE(NBN, YOZ_NBNProc)

static UINT32 BlockCount() { return gpFlashInfo != nullptr ? gpFlashInfo->BlockCount : 0; }

// The system's non-critical blocks that the list describes.
static UINT32 NcbCount() {
    UINT32 n = YOZ_SysRom_GetNCBNumber();
    return n < YOZ_MAX_NCB ? n : YOZ_MAX_NCB;
}

// Copies `length` bytes of block b from source + sourceAt to the block's own
// place; false when either range lies outside its buffer.
static bool CopyIntoBlock(UINT8* destination, const UINT8* source, UINT32 sourceSize, UINT32 sourceAt,
                          const sBlockInfo& b, UINT32 length) {
    if (sourceAt > sourceSize || length > sourceSize - sourceAt) return false;
    if (b.StartAddress > gRomSize || length > gRomSize - b.StartAddress) return false;
    memmove(destination + b.StartAddress, source + sourceAt, length);
    return true;
}

// Every block of `type`, from the same offsets of the source.
static bool CopyType(UINT8* destination, const UINT8* source, UINT32 size, UINT8 type) {
    for (UINT32 i = 0; i < BlockCount(); ++i) {
        const sBlockInfo& b = gpFlashInfo->Blocks[i];
        if (b.Type == type && !CopyIntoBlock(destination, source, size, b.StartAddress, b, b.BlockSize)) return false;
    }
    return true;
}

UINT32 NBF_Proc_MakeDoItList(UINT8* map) {
    UINT32 total = 0;
    for (UINT32 i = 0; i < BlockCount(); ++i) {
        const sBlockInfo& b = gpFlashInfo->Blocks[i];
        map[i] = 0;
        if ((b.Type & YOZ_BLOCK_NCB) == 0) continue;
        map[i] = 2;
        total += b.BlockSize;
    }
    return total;
}

UINT8 NBF_Proc_FileNCBToFlashBuff(UINT8* destination, UINT8* source, UINT32 size) {
    if (destination == nullptr || source == nullptr) return 0;
    for (UINT32 n = 0; n < NcbCount(); ++n)
        if (!CopyType(destination, source, size, YOZ_SysRom_GetNCBType(n))) return 0;
    return 1;
}

UINT32 NBN_Proc_MakeDoItList(UINT8* map, const UINT8* chosen) {
    UINT32 total = 0;
    for (UINT32 i = 0; i < BlockCount(); ++i) {
        const sBlockInfo& b = gpFlashInfo->Blocks[i];
        if (map != nullptr) map[i] = 0;
        if ((b.Type & YOZ_BLOCK_NCB) == 0) continue;
        UINT32 n = 0;
        while (n < NcbCount() && YOZ_SysRom_GetNCBType(n) != b.Type) ++n;
        if (n == NcbCount() || !chosen[n]) continue;
        if (map != nullptr) map[i] = 2;
        total += b.BlockSize;
    }
    return total;
}

// The file's bytes laid into the blocks of `type` in table order: whole
// blocks while the bytes last, what is left at the start of the next one.
static bool FillType(UINT8* destination, const UINT8* source, UINT32 size, UINT8 type) {
    UINT32 at = 0;
    for (UINT32 i = 0; i < BlockCount() && at < size; ++i) {
        const sBlockInfo& b = gpFlashInfo->Blocks[i];
        if (b.Type != type) continue;
        UINT32 length = size - at < b.BlockSize ? size - at : b.BlockSize;
        if (!CopyIntoBlock(destination, source, size, at, b, length)) return false;
        at += length;
        if (length < b.BlockSize) break;
    }
    return true;
}

UINT8 NBN_Proc_FileRHToFlashBuff(UINT8* destination, UINT8* source, UINT32 sourceSize, UINT8* chosen) {
    if (destination == nullptr || source == nullptr) return 0;
    for (UINT32 n = 0; n < NcbCount(); ++n) {
        if (!chosen[n]) continue;
        UINT8 type = YOZ_SysRom_GetNCBType(n);
        // A file of block data only fills the first chosen block.
        if (gNBN_UseBinFile) return FillType(destination, source, sourceSize, type) ? 1 : 0;
        if (!CopyType(destination, source, sourceSize, type)) return 0;
    }
    return 1;
}

UINT8 NBN_Proc_BinFileFits(UINT32 fileSize, const UINT8* chosen) {
    for (UINT32 n = 0; n < NcbCount(); ++n) {
        if (!chosen[n]) continue;
        UINT64 room = 0;
        for (UINT32 i = 0; i < BlockCount(); ++i)
            if (gpFlashInfo->Blocks[i].Type == YOZ_SysRom_GetNCBType(n)) room += gpFlashInfo->Blocks[i].BlockSize;
        return fileSize <= room ? 1 : 0;
    }
    return 1;
}
