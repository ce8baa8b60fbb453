// Records shared by the ROM image model and the system ROM model.
#pragma once
#include "HuxCore.h"

#define YOZ_MAX_ROMHOLE 16
#define YOZ_MAX_SLP 2
#define YOZ_MAX_NCB 16
#define YOZ_MAX_ROMID 8

// Records a list of YOZ_MAX_ROMHOLE holds of a counted n (counts go on past it).
inline UINT32 YOZ_HoleCount(UINT32 n) { return n < YOZ_MAX_ROMHOLE ? n : YOZ_MAX_ROMHOLE; }

// True when [offset, offset + length) lies inside a buffer of `limit` bytes.
inline bool YOZ_RangeInside(UINT32 offset, UINT32 length, UINT32 limit) {
    return offset <= limit && length <= limit - offset;
}

// Record kinds of a protected file.
#define YOZ_RH_TYPE_ROMHOLE 1
#define YOZ_RH_TYPE_SLP 2

#pragma pack(push, 1)
// One protected firmware file of a ROM.
struct _ROMHOLEREC {
    EFI_GUID Guid;       // the FFS file name
    UINT32 FileOffset;   // offset of the same file in the new image (set by the region processors)
    UINT32 RomOffset;    // offset of the FFS file header in the ROM the list describes
    UINT32 Size;         // 24-bit FFS size
    UINT32 Type;         // YOZ_RH_TYPE_*
    UINT16 Spare;
};

// "$NUVEC" header of an EC image.
struct ZOKT_EC_HDR_STRUCT {
    UINT8 Signature[6];  // "$NUVEC"
    UINT8 Zero;
    UINT8 Flag;          // non-zero: the checksum starts at file byte 256
    UINT16 ChipId;
    UINT16 CheckSum;
    UINT8 CoreVersion;   // bits 7-6 major, 5-0 minor
    UINT8 OemVersion;
    UINT8 OemBuild;      // 0: none
    UINT8 Reserved;
};
#pragma pack(pop)
static_assert(sizeof(_ROMHOLEREC) == 34, "ROM hole record is 34 bytes");
static_assert(offsetof(_ROMHOLEREC, RomOffset) == 20 && offsetof(_ROMHOLEREC, Type) == 28, "ROM hole record layout");
static_assert(sizeof(ZOKT_EC_HDR_STRUCT) == 16 && offsetof(ZOKT_EC_HDR_STRUCT, CheckSum) == 10,
              "EC header layout");

typedef TKXList<_ROMHOLEREC*> TKXRomHoleList;

// Layout data ("ROML") found in a ROM buffer.
struct YOZ_ROM_LAYOUT {
    UINT8* pFfsHeader;     // the layout file's FFS header
    UINT8* pHeader;        // the "ROML" header (+44)
    UINT8* pRomArea;       // the area data (+60)
    UINT8* pRomAreaData;   // heap copy of the area data, handed to its first taker
    UINT32 RomAreaSize;
};
