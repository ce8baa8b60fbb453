// Layout data ("ROML") of a ROM buffer, for the image and the flash copy.
#include <cstring>
#include "RomScan.h"
#include "TKXPhysMem.h"
#include "YozFvLayout.h"
#include "YozRomFile.h"

#define LAYOUT_SECTION_GUID_AT 28
#define LAYOUT_SIGNATURE_AT 44
#define LAYOUT_AREA_AT 60

void YOZ_RomLayout_Clear(YOZ_ROM_LAYOUT* layout) {
    FreeMem(layout->pRomAreaData);
    memset(layout, 0, sizeof(*layout));
}

UINT8 YOZ_RomLayout_Find(UINT8* image, UINT32 size, YOZ_ROM_LAYOUT* layout) {
    YOZ_RomLayout_Clear(layout);
    UINT32 from = 0;
    while (true) {
        UINT32 at = RomScan_Find(image, size, from, kGuidLayoutFile, 16);
        if (at == ROMSCAN_NONE || size - at < LAYOUT_AREA_AT) return 0;
        from = at + 1;
        if (memcmp(image + at + LAYOUT_SECTION_GUID_AT, kGuidLayoutSection, 16) != 0) continue;
        if (memcmp(image + at + LAYOUT_SIGNATURE_AT, "ROML", 4) != 0) continue;
        // The file must hold the layout header and lie inside the buffer.
        UINT32 fileSize = YOZ_FfsFileSize(image + at);
        if (fileSize < LAYOUT_AREA_AT || fileSize > size - at) continue;
        layout->pFfsHeader = image + at;
        layout->pHeader = image + at + LAYOUT_SIGNATURE_AT;
        layout->pRomArea = image + at + LAYOUT_AREA_AT;
        UINT32 areaSize = fileSize - LAYOUT_AREA_AT;
        layout->pRomAreaData = AllocMem(areaSize);
        if (layout->pRomAreaData != nullptr) {
            if (areaSize != 0) memcpy(layout->pRomAreaData, layout->pRomArea, areaSize);
            layout->RomAreaSize = areaSize;
        }
        return 1;
    }
}

UINT8* YOZ_RomLayout_TakeAreaData(YOZ_ROM_LAYOUT* layout, UINT32* size) {
    UINT8* data = layout->pRomAreaData;
    if (size != nullptr) *size = data ? layout->RomAreaSize : 0;
    layout->pRomAreaData = nullptr;
    layout->RomAreaSize = 0;
    return data;
}

UINT8 YOZ_RomFile_CheckRomLayoutData(UINT8* image, UINT32 size) {
    return YOZ_RomLayout_Find(image, size, &YOZ_RomFileLayout);
}
UINT8* YOZ_RomFile_Get_RomLayout_pFFS_Hander() { return YOZ_RomFileLayout.pFfsHeader; }
UINT8* YOZ_RomFile_Get_RomLayout_pHader() { return YOZ_RomFileLayout.pHeader; }
UINT8* YOZ_RomFile_Get_RomLayout_pRomArea() { return YOZ_RomFileLayout.pRomArea; }
UINT8* YOZ_RomFile_Get_RomLayout_pRomAreaData(UINT32* size) {
    return YOZ_RomLayout_TakeAreaData(&YOZ_RomFileLayout, size);
}
