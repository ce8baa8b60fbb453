// The EC version compare of "/ECUF": the version word of the EC area in the
// flash against the same word of the image, both under the mask.
#include <cstring>
#include "FlashBlock.h"
#include "RomInfo.h"
#include "TKXPhysMem.h"
#include "YozEcProc.h"
#include "YozRomRecords.h"
#include "YozSysRom.h"

namespace {

struct EcArea {
    UINT32 Start, Size, VersionOffset, VersionMask;
};

// The first block of type 3 in the table.
bool FirstEcBlock(UINT32& start, UINT32& size) {
    if (gpFlashInfo == nullptr) return false;
    for (UINT32 i = 0; i < gpFlashInfo->BlockCount; ++i) {
        const sBlockInfo& b = gpFlashInfo->Blocks[i];
        if (b.Type != YOZ_BLOCK_EC) continue;
        start = b.StartAddress;
        size = b.BlockSize;
        return true;
    }
    return false;
}

// The word is read from a buffer of at most 64 KiB holding the area, and
// from the image at the same flash offset.
bool AreaFits(const EcArea& a, UINT32 imageSize) {
    if (a.Size > SECUF_EC_AREA_MAX || !YOZ_RangeInside(a.Start, a.Size, gRomSize)) return false;
    if (!YOZ_RangeInside(a.VersionOffset, 4, a.Size)) return false;
    return YOZ_RangeInside(a.Start, a.VersionOffset, imageSize) &&
           YOZ_RangeInside(a.Start + a.VersionOffset, 4, imageSize);
}

}  // namespace

ENUM_ERR_ID SECUF_EC_CheckBIOSVer(UINT8* image, UINT32 imageSize, const ECBHdr* header, UINT8& newer) {
    if (image == nullptr) return eEID_MEM_ALLOC;
    EcArea area = {0, 0, 0, 0};
    if (!FirstEcBlock(area.Start, area.Size)) return eEID_EC_STOP;
    if (header != nullptr) {
        area = EcArea{header->AreaStart, header->AreaSize, header->VersionOffset, header->VersionMask};
        if ((header->Status & ECB_STATUS_COMPARE) == 0) return eEID_NO_ERROR;  // no compare: not newer
    } else {
        area.VersionOffset = gpFlashInfo->EcVersionOffset;
        area.VersionMask = gpFlashInfo->EcVersionMask;
    }
    if (!AreaFits(area, imageSize)) return eEID_EC_FILE_ERROR;
    UINT8* buffer = AllocMem(SECUF_EC_AREA_MAX);
    if (buffer == nullptr) return eEID_MEM_ALLOC;
    ENUM_ERR_ID status = FLASH_ReadBlockEx(area.Start, area.Size, buffer, nullptr);
    if (status == eEID_NO_ERROR) {
        UINT32 flashWord, imageWord;
        memcpy(&flashWord, buffer + area.VersionOffset, 4);
        memcpy(&imageWord, image + area.Start + area.VersionOffset, 4);
        if ((flashWord & area.VersionMask) < (imageWord & area.VersionMask)) newer = 1;
    } else {
        status = eEID_READ_FLASH;
    }
    FreeMem(buffer);
    return status;
}
