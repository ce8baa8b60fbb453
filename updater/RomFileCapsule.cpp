// Capsule forms of the image: the capsule header in front, and the capsule
// embedded as a firmware file.
#include <cstring>
#include "RomScan.h"
#include "SecureFlash.h"
#include "TKXPhysMem.h"
#include "YozRomFile.h"

#define CAPSULE_LENGTH_OFFSET 0x1C
#define CAPSULE_MIN_HEADER (CAPSULE_LENGTH_OFFSET + 2)

UINT32 YOZ_ReSourceSize = 0;

UINT8 YOZ_RomFile_CheckCapHeader(UINT8* image, UINT32 size) {
    return (image != nullptr && size >= 16 && memcmp(image, kGuidCapsuleHeader, 16) == 0) ? 1 : 0;
}

UINT8 YOZ_RomFile_GetNoSecureHeadRom(UINT8** image, UINT32* size) {
    if (!FLASH_IsSecureFlashSupported()) {
        WriteOut("Disable.\n");
        return 0;
    }
    WriteOut(" Secure Flash enabled, recalculate ROM size with signature... ");
    UINT8* rom = FLASH_ExtractRomImageFromCapsule(*image, *size);
    // A header that claims more than the image holds is not stripped.
    if (rom == nullptr || rom < *image || static_cast<UINT32>(rom - *image) > *size) {
        WriteOut("Disable.\n");
        return 0;
    }
    *size -= static_cast<UINT32>(rom - *image);
    *image = rom;
    WriteOut("Enable.\n");
    return 1;
}

UINT8 YOZ_RomFile_CheckNewCAPGUID(UINT8* image, UINT32 size) {
    UINT32 file = RomScan_Find(image, size, 0, kGuidCapsuleFile, 16);
    if (file == ROMSCAN_NONE) return 0;
    return RomScan_Find(image, size, file + 1, kGuidCapsuleSection, 16) != ROMSCAN_NONE ? 1 : 0;
}

UINT8 YOZ_RomFile_ResetCAPFileHead(UINT8** image, UINT32* size) {
    if (image == nullptr || *image == nullptr || size == nullptr) return 0;
    UINT8* rom = *image;
    UINT32 romSize = *size;
    UINT32 file = RomScan_Find(rom, romSize, 1, kGuidCapsuleFile, 16);
    if (file == ROMSCAN_NONE) return 0;
    UINT32 header = RomScan_Find(rom, romSize, file, kGuidCapsuleHeader, 16);
    if (header == ROMSCAN_NONE || romSize - header < CAPSULE_MIN_HEADER) return 0;
    UINT32 length = RomScan_Get16(rom + header + CAPSULE_LENGTH_OFFSET);
    if (length < CAPSULE_MIN_HEADER || length > romSize - header) return 0;
    UINT8* rebuilt = AllocMem(romSize + length);
    if (rebuilt == nullptr) return 0;
    memcpy(rebuilt, rom + header, length);
    memcpy(rebuilt + length, rom, romSize);
    FreeMem(YOZ_pReSourceBuff);   // the old buffer was copied from above when it was the image
    YOZ_pReSourceBuff = rebuilt;
    YOZ_ReSourceSize = romSize + length;
    *image = rebuilt;
    *size = romSize + length;
    return 1;
}
