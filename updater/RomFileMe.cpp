// The ME firmware volume of a single-binary image.
#include <cstring>
#include "RomScan.h"
#include "YozRomFile.h"
#include "ZoktMe.h"

static const UINT8 kZeroVector[16] = {0};

UINT8 YOZ_RomFile_CheckME_FV(UINT8* image, UINT32 size) {
    YOZ_RomFile_ME_FV_Exist = 0;
    YOZ_RomFile_ME_FV_StAddr = 0;
    YOZ_RomFile_ME_FV_Size = 0;
    UINT32 me = RomScan_Find(image, size, 1, kGuidMeFirst, 16);
    if (me == ROMSCAN_NONE) return 0;
    // Back to the volume's file-system GUID, then back to its zero vector.
    UINT32 fs2 = RomScan_FindBack(image, size, me, kGuidFfs2, 16);
    UINT32 fs3 = RomScan_FindBack(image, size, me, kGuidFfs3, 16);
    UINT32 fs = fs2;
    if (fs == ROMSCAN_NONE || (fs3 != ROMSCAN_NONE && fs3 > fs)) fs = fs3;
    if (fs == ROMSCAN_NONE) return 0;
    UINT32 start = RomScan_FindBack(image, size, fs, kZeroVector, 16);
    if (start == ROMSCAN_NONE || size - start < 64) return 0;
    UINT32 length = RomScan_Get32(image + start + 32);
    // The volume must hold its header and lie inside the image.
    if (length < 64 || length > size - start) return 0;
    YOZ_RomFile_ME_FV_Exist = 1;
    YOZ_RomFile_ME_FV_StAddr = start;
    YOZ_RomFile_ME_FV_Size = length;
    return 1;
}

UINT8 YOZ_RomFile_GetME_FV_BIOSAddrSeting(UINT8** image, UINT32* size, UINT8** me, UINT32* meSize) {
    if (!YOZ_RomFile_ME_FV_Exist || image == nullptr || *image == nullptr || size == nullptr) return 0;
    if (YOZ_RomFile_ME_FV_Size > *size || YOZ_RomFile_ME_FV_StAddr > *size - YOZ_RomFile_ME_FV_Size) return 0;
    if (me != nullptr) *me = *image + YOZ_RomFile_ME_FV_StAddr;
    if (meSize != nullptr) *meSize = YOZ_RomFile_ME_FV_Size;
    *size -= YOZ_RomFile_ME_FV_Size;
    return 1;
}

UINT8 YOZ_RomFile_CheckMEData(UINT8* file, UINT32 size) { return ZOKT_ME_CheckMEData(file, size); }
UINT8 YOZ_RomFile_GetNewBiosInfo(UINT8** bios, UINT32& size) { return ZOKT_ME_GetBIOSAddrSeting(bios, size); }
UINT8 YOZ_RomFile_CheckMEIsSingleBin() { return ZOKT_ME_BufferISSingleBin(); }
