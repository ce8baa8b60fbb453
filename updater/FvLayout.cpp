// The firmware-volume header checks the walkers share and the walk over a
// volume's files.
#include "YozFvLayout.h"
#include <cstring>
#include "RomScan.h"

bool YOZ_FvIsFfs(const UINT8* volume) {
    const UINT8* guid = YOZ_FvHeader(volume)->FileSystemGuid;
    return memcmp(guid, kGuidFfs2, 16) == 0 || memcmp(guid, kGuidFfs3, 16) == 0;
}

UINT16 YOZ_FvHeaderSum(const UINT8* volume, UINT32 words) {
    UINT32 s = 0;
    for (UINT32 i = 0; i < words; ++i) s += RomScan_Get16(volume + 2 * i);
    return static_cast<UINT16>(s);
}

bool YOZ_FvLengthsFit(const UINT8* volume, UINT64 room) {
    const YOZ_FV_HEADER* h = YOZ_FvHeader(volume);
    UINT32 headerLength = h->HeaderLength;
    return (headerLength & 1) == 0 && headerLength >= YOZ_FV_MIN_HEADER && h->FvLength >= headerLength &&
           h->FvLength <= room;
}

void YOZ_FvErasedHeader(const UINT8* volume, UINT8 erased[YOZ_FFS_HEADER_SIZE]) {
    memset(erased, (YOZ_FvHeader(volume)->Attributes & YOZ_FV_ERASE_POLARITY) ? 0xFF : 0x00, YOZ_FFS_HEADER_SIZE);
}

// The cursor stands at `offset` when a whole header lies there.
static bool HeaderAt(YOZ_FFS_CURSOR* cursor, UINT32 offset) {
    if (offset >= cursor->FvLength || cursor->FvLength - offset < YOZ_FFS_HEADER_SIZE) return false;
    cursor->Offset = offset;
    cursor->Size = YOZ_FfsFileSize(cursor->Volume + offset);
    return true;
}

bool YOZ_FfsFirstFile(const UINT8* volume, UINT32 fvLength, YOZ_FFS_CURSOR* cursor) {
    cursor->Volume = volume;
    cursor->FvLength = fvLength;
    cursor->Offset = 0;
    cursor->Size = 0;
    return HeaderAt(cursor, YOZ_FvHeader(volume)->HeaderLength);
}

bool YOZ_FfsNextFile(YOZ_FFS_CURSOR* cursor) {
    // A size below a header would stand still.
    if (cursor->Size < YOZ_FFS_HEADER_SIZE) return false;
    UINT32 aligned = YOZ_FfsAlignedSize(cursor->Size);
    if (aligned > cursor->FvLength - cursor->Offset) return false;
    return HeaderAt(cursor, cursor->Offset + aligned);
}

bool YOZ_FfsSizeFits(const YOZ_FFS_CURSOR* cursor, UINT32 least) {
    return cursor->Size >= YOZ_FFS_HEADER_SIZE + least && cursor->Size <= cursor->FvLength - cursor->Offset;
}
