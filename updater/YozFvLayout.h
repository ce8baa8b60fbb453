// The firmware-volume and FFS file headers as an image and the flash hold
// them, and the one walk over a volume's files that every walker uses.
#pragma once
#include <cstddef>
#include "HuxTypes.h"

#pragma pack(push, 1)
// The firmware-volume header up to its block map.
struct YOZ_FV_HEADER {
    UINT8 ZeroVector[16];
    UINT8 FileSystemGuid[16];
    UINT64 FvLength;
    char Signature[4];  // "_FVH"
    UINT32 Attributes;
    UINT16 HeaderLength;  // block map included
    UINT16 Checksum;
    UINT16 ExtHeaderOffset;
    UINT8 Reserved;
    UINT8 Revision;  // 1: PI 0x9000 (files may end in a tail), 2: PI 0x10000
};
// The FFS file header.
struct YOZ_FFS_FILE_HEADER {
    UINT8 Name[16];
    UINT8 IntegrityHeader;
    UINT8 IntegrityFile;  // the data checksum, or 0x5A / 0xAA without one
    UINT8 Type;
    UINT8 Attributes;
    UINT8 Size[3];  // the whole file, header included
    UINT8 State;
};
#pragma pack(pop)
static_assert(sizeof(YOZ_FV_HEADER) == 56, "volume header up to the block map");
static_assert(offsetof(YOZ_FV_HEADER, FileSystemGuid) == 16 && offsetof(YOZ_FV_HEADER, FvLength) == 32 &&
                  offsetof(YOZ_FV_HEADER, Signature) == 40 && offsetof(YOZ_FV_HEADER, Attributes) == 44 &&
                  offsetof(YOZ_FV_HEADER, HeaderLength) == 48 && offsetof(YOZ_FV_HEADER, Revision) == 55,
              "volume header layout");
static_assert(sizeof(YOZ_FFS_FILE_HEADER) == 24, "FFS file header");
static_assert(offsetof(YOZ_FFS_FILE_HEADER, IntegrityHeader) == 16 &&
                  offsetof(YOZ_FFS_FILE_HEADER, IntegrityFile) == 17 &&
                  offsetof(YOZ_FFS_FILE_HEADER, Attributes) == 19 && offsetof(YOZ_FFS_FILE_HEADER, Size) == 20 &&
                  offsetof(YOZ_FFS_FILE_HEADER, State) == 23,
              "FFS file header layout");

#define YOZ_FV_SIGNATURE_OFFSET offsetof(YOZ_FV_HEADER, Signature)
// The smallest header length a volume may give: the header and an empty block map's end.
#define YOZ_FV_MIN_HEADER sizeof(YOZ_FV_HEADER)
// Bytes from a volume's start that must lie in the buffer before any field is read.
#define YOZ_FV_HEADER_ROOM 64u
#define YOZ_FV_ERASE_POLARITY 0x800u  // Attributes: erased bytes are 0xFF
#define YOZ_FV_REVISION_TAILS 1       // Revision whose files may carry a tail
#define YOZ_FFS_HEADER_SIZE sizeof(YOZ_FFS_FILE_HEADER)
#define YOZ_FFS_ATTRIB_TAIL 0x01u      // a revision-1 file ends in the complement of its checks
#define YOZ_FFS_ATTRIB_CHECKSUM 0x40u  // IntegrityFile sums the file's data
#define YOZ_FFS_TAIL_SIZE 2u

inline const YOZ_FV_HEADER* YOZ_FvHeader(const UINT8* volume) {
    return reinterpret_cast<const YOZ_FV_HEADER*>(volume);
}
inline YOZ_FFS_FILE_HEADER* YOZ_FfsHeader(UINT8* file) { return reinterpret_cast<YOZ_FFS_FILE_HEADER*>(file); }
inline const YOZ_FFS_FILE_HEADER* YOZ_FfsHeader(const UINT8* file) {
    return reinterpret_cast<const YOZ_FFS_FILE_HEADER*>(file);
}
// The file's 24-bit size.
inline UINT32 YOZ_FfsFileSize(const UINT8* file) {
    const UINT8* s = YOZ_FfsHeader(file)->Size;
    return static_cast<UINT32>(s[0]) | static_cast<UINT32>(s[1]) << 8 | static_cast<UINT32>(s[2]) << 16;
}
// The file's 16-bit IntegrityCheck (header and data checks together).
inline UINT16 YOZ_FfsIntegrity16(const UINT8* file) {
    return static_cast<UINT16>(YOZ_FfsHeader(file)->IntegrityHeader | YOZ_FfsHeader(file)->IntegrityFile << 8);
}
// A file's size rounded up to the 8-byte alignment of the next file.
inline UINT32 YOZ_FfsAlignedSize(UINT32 size) { return (size + 7) & ~7u; }

// The file system is FFS2 or FFS3.
bool YOZ_FvIsFfs(const UINT8* volume);
// The 16-bit sum of the first `words` words of a volume header.
UINT16 YOZ_FvHeaderSum(const UINT8* volume, UINT32 words);
// The volume's header length is even, no shorter than the header and no
// longer than the volume, and the volume (FvLength) lies in `room` bytes.
bool YOZ_FvLengthsFit(const UINT8* volume, UINT64 room);
// The erased header of the volume's polarity, for comparison.
void YOZ_FvErasedHeader(const UINT8* volume, UINT8 erased[YOZ_FFS_HEADER_SIZE]);

// The walk over the files of a volume of `FvLength` bytes: each step stands
// at a file header of which all 24 bytes lie inside the volume. Whether its
// size fits is the walker's to judge (YOZ_FfsSizeFits).
struct YOZ_FFS_CURSOR {
    const UINT8* Volume;
    UINT32 FvLength;
    UINT32 Offset;  // of the file header, from the volume's start
    UINT32 Size;    // the file's 24-bit size
};
// The first file, at the volume's header length; false when no whole header
// lies there.
bool YOZ_FfsFirstFile(const UINT8* volume, UINT32 fvLength, YOZ_FFS_CURSOR* cursor);
// The next file, behind this one's aligned size; false when this file is
// shorter than a header, reaches the volume's end or no whole header lies
// behind it.
bool YOZ_FfsNextFile(YOZ_FFS_CURSOR* cursor);
// The file holds at least a header and `least` bytes more and ends inside the volume.
bool YOZ_FfsSizeFits(const YOZ_FFS_CURSOR* cursor, UINT32 least);
