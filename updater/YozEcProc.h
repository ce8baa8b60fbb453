// Region processors of the EC block (block type 3): SEC_ flashes it from the
// image ("/E"), SECUF_ only when the image's EC firmware is newer ("/ECUF").
// Members of the family of YozRegionProc.h: both mark the EC blocks and,
// under "/caf", keep a differing first EC block together with the last one.
#pragma once
#include "YozRegionProc.h"

#pragma pack(push, 1)
// The firmware's "$ECB" EC/battery status header (31 bytes at the signature).
struct ECBHdr {
    UINT8 Signature[4];       // "$ECB"
    UINT8 Status;             // bit 0: the EC version may be compared; 0x10-0x80 block flashing
    UINT32 AreaStart;         // flash offset of the EC area
    UINT32 AreaSize;
    UINT8 Reserved[4];
    UINT16 VersionOffset;     // of the version word in the EC area
    UINT32 VersionMask;
    UINT16 MessageOffset[4];  // messages of the bits 0x10, 0x20, 0x40, 0x80 (from E0000h)
};
#pragma pack(pop)
static_assert(sizeof(ECBHdr) == 31, "$ECB header is 31 bytes");
static_assert(offsetof(ECBHdr, AreaStart) == 5 && offsetof(ECBHdr, AreaSize) == 9 &&
                  offsetof(ECBHdr, VersionOffset) == 0x11 && offsetof(ECBHdr, VersionMask) == 0x13 &&
                  offsetof(ECBHdr, MessageOffset) == 23,
              "$ECB header layout");
#define ECB_STATUS_COMPARE 0x01

// Largest EC area the version compare reads.
#define SECUF_EC_AREA_MAX 0x10000u

extern UINT32 gSECF_AllBlockSize;
extern UINT8 gSECF_FvType;
extern UINT32 gSECUFF_AllBlockSize;
extern UINT8 gSECUFF_FvType;
extern const YOZ_REGION_PROC YOZ_SECProc, YOZ_SECUFProc;

YOZ_REGION_PROC_COMMON_NAMES(SEC)
UINT32 SEC_Proc_MakeTypeDoItList(UINT8* map, char type);
YOZ_REGION_PROC_COMMON_NAMES(SECUF)
UINT32 SECUF_Proc_MakeTypeDoItList(UINT8* map, char type);

// Compares the EC version word of the flash with the image's (`imageSize`
// bytes) under the mask: with a "$ECB" header, of its area, offset and
// mask, and only when its status has bit 0; without one, of the first EC
// block with the ROM information's offset and mask. Sets `newer` when the
// image's word is the higher one and leaves it alone otherwise. 0xAD
// without an EC block, 0xA3 when the area exceeds 64 KiB or the flash, or
// the word lies outside the area or the image (nothing read then), 0x42
// when the flash cannot be read.
ENUM_ERR_ID SECUF_EC_CheckBIOSVer(UINT8* image, UINT32 imageSize, const ECBHdr* header, UINT8& newer);
