// The working copy of a region flash, in the image where it covers the ROM.
#include "YozWorkCopy.h"
#include <cstring>
#include "RomInfo.h"
#include "TKXPhysMem.h"
#include "YozGlobal.h"
#include "YozRomRecords.h"

namespace {

// A range of the image as it was before the merge overwrote it.
struct SavedRange {
    UINT32 Offset;
    UINT32 Size;
    UINT8* Bytes;
};

// The merge overwrites at most every ROM hole and every SLP file once.
const UINT32 kMaxSaved = YOZ_MAX_ROMHOLE + YOZ_MAX_SLP;

UINT8* s_Image = nullptr;  // the image serving as the copy, else nullptr
SavedRange s_Saved[kMaxSaved];
UINT32 s_SavedCount = 0;

void DropSaved() {
    for (UINT32 i = 0; i < s_SavedCount; ++i) FreeMem(s_Saved[i].Bytes);
    s_SavedCount = 0;
}

}  // namespace

UINT8* YOZ_WorkCopy_Make(UINT8* image, UINT32 imageSize) {
    YOZ_WorkCopy_Done();
    FreeMem(YOZ_pFlashBuff);
    YOZ_pFlashBuff = nullptr;
    if (image != nullptr && imageSize >= gRomSize) {
        s_Image = image;
        return image;
    }
    YOZ_pFlashBuff = AllocMem(gRomSize);
    if (YOZ_pFlashBuff == nullptr) return nullptr;
    memset(YOZ_pFlashBuff, 0xFF, gRomSize);
    if (image != nullptr) memcpy(YOZ_pFlashBuff, image, imageSize);
    return YOZ_pFlashBuff;
}

UINT8* YOZ_WorkCopy_Get() { return s_Image != nullptr ? s_Image : YOZ_pFlashBuff; }

void YOZ_WorkCopy_Save(const UINT8* destination, UINT32 offset, UINT32 size) {
    if (s_Image == nullptr || destination != s_Image || size == 0 || s_SavedCount == kMaxSaved) return;
    UINT8* bytes = AllocMem(size);
    if (bytes == nullptr) return;
    memcpy(bytes, s_Image + offset, size);
    s_Saved[s_SavedCount++] = SavedRange{offset, size, bytes};
}

void YOZ_WorkCopy_Keep() {
    DropSaved();
    s_Image = nullptr;
}

void YOZ_WorkCopy_Done() {
    if (s_Image == nullptr) {
        FreeMem(YOZ_pFlashBuff);
        YOZ_pFlashBuff = nullptr;
        return;
    }
    // Latest first: where two ranges overlap, the earlier save holds the
    // image's own bytes.
    for (UINT32 i = s_SavedCount; i-- > 0;) memcpy(s_Image + s_Saved[i].Offset, s_Saved[i].Bytes, s_Saved[i].Size);
    DropSaved();
    s_Image = nullptr;
}
