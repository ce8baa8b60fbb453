// Firmware-volume and FFS-file checksum walk over the image.
#include <cstring>
#include <initializer_list>
#include "RomScan.h"
#include "TKXPhysMem.h"
#include "YozOptionStore.h"
#include "YozRomFile.h"

#define FV_SCAN_WINDOW 0x10000u
#define FV_SIGNATURE_OFFSET 40
#define FV_MIN_HEADER 0x38u
#define FFS_HEADER_SIZE 24u

static bool IsFfsVolume(const UINT8* v) {
    return memcmp(v + 16, kGuidFfs2, 16) == 0 || memcmp(v + 16, kGuidFfs3, 16) == 0;
}

// Checks one FFS file at f (fileRoom bytes of the volume from f); false on a
// bad header, size or checksum.
static bool CheckFile(const UINT8* f, UINT32 fileRoom, UINT32 size, UINT32 tail) {
    if (size < FFS_HEADER_SIZE + tail || size > fileRoom) return false;
    UINT32 s = 0;
    for (UINT32 i = 0; i < FFS_HEADER_SIZE; ++i) {
        if (i != 17 && i != 23) s += f[i];
    }
    if ((s & 0xFF) != 0) return false;
    UINT8 attributes = f[19];
    if (attributes & 0x40) {
        if (static_cast<UINT8>(f[17] + YOZ_CalCheckSum8(f + FFS_HEADER_SIZE, size - FFS_HEADER_SIZE - tail)) != 0) return false;
    } else if (f[17] != 0x5A && f[17] != 0xAA) {
        return false;
    }
    if (tail != 0) {
        UINT16 check = RomScan_Get16(f + 16);
        if (RomScan_Get16(f + size - 2) != static_cast<UINT16>(~check)) return false;
    }
    return true;
}

// Checks the volume at v; returns its length, or 0 when it is bad.
static UINT32 CheckVolume(const UINT8* image, UINT32 size, UINT32 v, UINT32 fid) {
    const UINT8* h = image + v;
    UINT32 headerLength = RomScan_Get16(h + 48);
    UINT64 fvLength64 = static_cast<UINT64>(RomScan_Get32(h + 32)) | static_cast<UINT64>(RomScan_Get32(h + 36)) << 32;
    if ((headerLength & 1) != 0 || headerLength < FV_MIN_HEADER || headerLength > size - v) return 0;
    if (fvLength64 < headerLength || fvLength64 > size - v) return 0;
    UINT32 fvLength = static_cast<UINT32>(fvLength64);
    UINT32 s = 0;
    for (UINT32 i = 0; i < headerLength; i += 2) s += RomScan_Get16(h + i);
    if ((s & 0xFFFF) != 0) return 0;
    if (h[55] == 1) YOZ_RomFile_PIVersion = 0x9000;
    else if (h[55] == 2) YOZ_RomFile_PIVersion = 0x10000;
    UINT32 attributes = RomScan_Get32(h + 44);
    UINT8 erased = (attributes & 0x800) ? 0xFF : 0x00;
    UINT8 erasedHeader[FFS_HEADER_SIZE];
    memset(erasedHeader, erased, sizeof(erasedHeader));

    UINT32 off = headerLength;
    while (off < fvLength && fvLength - off >= FFS_HEADER_SIZE) {
        const UINT8* f = h + off;
        if (memcmp(f, erasedHeader, FFS_HEADER_SIZE) == 0) break;
        UINT32 fileSize = RomScan_Get24(f + 20);
        UINT32 tail = (YOZ_RomFile_PIVersion == 0x9000 && (f[19] & 0x01)) ? 2 : 0;
        if (!CheckFile(f, fvLength - off, fileSize, tail)) return 0;
        UINT32 aligned = (fileSize + 7) & ~7u;
        UINT32 at = v + off;
        if (fid > at && fid - at < aligned) YOZ_ImageFidCheckSumOffset = at;
        if (aligned >= fvLength - off) break;
        off += aligned;
    }
    return fvLength;
}

static bool ZeroVector(const UINT8* v) {
    for (UINT32 i = 0; i < 16; ++i)
        if (v[i] != 0) return false;
    return true;
}

// A volume header that lost its file-system GUID: the zero vector and the
// signature are in place, but the header no longer sums to zero (a volume
// of another file system keeps its sum).
static bool LostFileSystem(const UINT8* image, UINT32 size, UINT32 v) {
    if (!ZeroVector(image + v)) return false;
    UINT32 headerLength = RomScan_Get16(image + v + 48);
    if ((headerLength & 1) != 0 || headerLength < FV_MIN_HEADER || headerLength > size - v) return true;
    UINT32 s = 0;
    for (UINT32 i = 0; i < headerLength; i += 2) s += RomScan_Get16(image + v + i);
    return (s & 0xFFFF) != 0;
}

// A volume header that lost its signature: a zero vector, an FFS file-system
// GUID and lengths that fit, but no "_FVH", at a start in [from, to).
static bool LostSignature(const UINT8* image, UINT32 size, UINT32 from, UINT32 to) {
    for (const UINT8* guid : {kGuidFfs2, kGuidFfs3}) {
        for (UINT32 at = from + 16; at < to + 16;) {
            UINT32 g = RomScan_Find(image, to + 32 < size ? to + 32 : size, at, guid, 16);
            if (g == ROMSCAN_NONE || g - 16 >= to) break;
            at = g + 1;
            UINT32 v = g - 16;
            if (size - v < 64 || !ZeroVector(image + v) || memcmp(image + v + FV_SIGNATURE_OFFSET, "_FVH", 4) == 0)
                continue;
            UINT64 fvLength = static_cast<UINT64>(RomScan_Get32(image + v + 32)) |
                              static_cast<UINT64>(RomScan_Get32(image + v + 36)) << 32;
            UINT32 headerLength = RomScan_Get16(image + v + 48);
            if (fvLength >= headerLength && fvLength <= size - v && headerLength >= FV_MIN_HEADER) return true;
        }
    }
    return false;
}

// Every volume's header and files are checked; a volume header damaged in its
// file-system GUID or its signature, which the walk would pass over as no
// volume at all, fails the check too.
UINT8 YOZ_RomFile_CheckSum(UINT8* image, UINT32 size) {
    if (image == nullptr) return 0;
    UINT32 fid = YOZ_RomFile_FindImageFidOffset(image);
    UINT32 window = 0;
    while (window < size) {
        UINT32 windowEnd = (size - window > FV_SCAN_WINDOW) ? window + FV_SCAN_WINDOW : size;
        UINT32 next = windowEnd;
        UINT32 volume = windowEnd;  // start of the volume found in the window
        UINT32 from = window;
        while (from < windowEnd) {
            UINT32 sig = RomScan_Find(image, windowEnd + 3 < size ? windowEnd + 3 : size, from, "_FVH", 4);
            if (sig == ROMSCAN_NONE) break;
            from = sig + 4;
            if (sig - window < FV_SIGNATURE_OFFSET) continue;
            UINT32 v = sig - FV_SIGNATURE_OFFSET;
            if (size - v < 64) break;
            if (!IsFfsVolume(image + v)) {
                if (LostFileSystem(image, size, v)) return 0;
                continue;
            }
            UINT32 fvLength = CheckVolume(image, size, v, fid);
            if (fvLength == 0) return 0;
            volume = v;
            next = v + fvLength;
            break;
        }
        if (LostSignature(image, size, window, volume)) return 0;
        window = next;
    }
    return 1;
}

// The volume at v, when its header has the form of an FFS volume (zero
// vector, file system, lengths inside the buffer); its length, else 0. Its
// sums are not looked at.
static UINT32 VolumeForm(const UINT8* image, UINT32 limit, UINT32 v) {
    if (limit - v < 64 || !ZeroVector(image + v) || !IsFfsVolume(image + v)) return 0;
    UINT32 headerLength = RomScan_Get16(image + v + 48);
    UINT64 fvLength = static_cast<UINT64>(RomScan_Get32(image + v + 32)) |
                      static_cast<UINT64>(RomScan_Get32(image + v + 36)) << 32;
    if ((headerLength & 1) != 0 || headerLength < FV_MIN_HEADER || fvLength < headerLength || fvLength > limit - v)
        return 0;
    return static_cast<UINT32>(fvLength);
}

// The file of the volume at v (fvLength bytes) that holds [at, at + n) in
// its data, by the volume's own file sizes; 0 when none does.
static UINT32 FileOfVolume(const UINT8* image, UINT32 v, UINT32 fvLength, UINT32 at, UINT32 n) {
    const UINT8* h = image + v;
    UINT8 erasedHeader[FFS_HEADER_SIZE];
    memset(erasedHeader, (RomScan_Get32(h + 44) & 0x800) ? 0xFF : 0x00, sizeof(erasedHeader));
    for (UINT32 off = RomScan_Get16(h + 48); off < fvLength && fvLength - off >= FFS_HEADER_SIZE;) {
        const UINT8* f = h + off;
        UINT32 fileSize = RomScan_Get24(f + 20);
        if (memcmp(f, erasedHeader, FFS_HEADER_SIZE) == 0 || fileSize < FFS_HEADER_SIZE || fileSize > fvLength - off)
            return 0;
        UINT32 start = v + off;
        if (at < static_cast<UINT64>(start) + fileSize) {
            bool holds = at >= start + FFS_HEADER_SIZE && static_cast<UINT64>(at) + n <= static_cast<UINT64>(start) + fileSize;
            return holds ? start : 0;
        }
        off += (fileSize + 7) & ~7u;
    }
    return 0;
}

// The volume that holds `at`: the nearest volume before it whose length
// reaches past it; its length in *fvLength. ROMSCAN_NONE when none does.
static UINT32 VolumeHolding(const UINT8* image, UINT32 limit, UINT32 at, UINT32* fvLength) {
    for (UINT32 before = at; before > FV_SIGNATURE_OFFSET;) {
        UINT32 sig = RomScan_FindBack(image, limit, before, "_FVH", 4);
        if (sig == ROMSCAN_NONE || sig < FV_SIGNATURE_OFFSET) return ROMSCAN_NONE;
        before = sig;
        UINT32 v = sig - FV_SIGNATURE_OFFSET;
        *fvLength = VolumeForm(image, limit, v);
        if (*fvLength != 0 && static_cast<UINT64>(v) + *fvLength > at) return v;
    }
    return ROMSCAN_NONE;
}

UINT32 YOZ_RomFile_FileHolding(const UINT8* image, UINT32 limit, UINT32 at, UINT32 n) {
    if (image == nullptr || at >= limit || n > limit - at) return 0;
    UINT32 fvLength = 0;
    UINT32 v = VolumeHolding(image, limit, at, &fvLength);
    return v != ROMSCAN_NONE ? FileOfVolume(image, v, fvLength, at, n) : 0;
}

UINT8 YOZ_RomFile_PutFileData(UINT8* image, UINT32 limit, UINT32 header, UINT32 at, const UINT8* data, UINT32 n) {
    if (image == nullptr || (data == nullptr && n != 0) || !YOZ_RangeInside(at, n, limit)) return 0;
    bool fileSum = false;
    UINT64 fileEnd = 0;
    UINT32 tail = 0;
    if (YOZ_RangeInside(header, FFS_HEADER_SIZE, limit) && (image[header + 19] & 0x40) != 0) {
        fileEnd = static_cast<UINT64>(header) + RomScan_Get24(image + header + 20);
        // A file of a revision-1 volume with attribute 0x01 ends in the complement of its checks.
        UINT32 fvLength = 0;
        UINT32 v = (image[header + 19] & 0x01) ? VolumeHolding(image, limit, header, &fvLength) : ROMSCAN_NONE;
        if (v != ROMSCAN_NONE && image[v + 55] == 1 && fileEnd <= limit) tail = 2;
        fileSum = at >= header + FFS_HEADER_SIZE && static_cast<UINT64>(at) + n + tail <= fileEnd;
    }
    UINT8 before = YOZ_CalCheckSum8(image + at, n), after = YOZ_CalCheckSum8(data, n);
    memmove(image + at, data, n);
    if (!fileSum) return 1;
    image[header + 17] = static_cast<UINT8>(image[header + 17] + before - after);
    if (tail != 0) {
        UINT16 check = static_cast<UINT16>(~RomScan_Get16(image + header + 16));
        image[fileEnd - 2] = static_cast<UINT8>(check);
        image[fileEnd - 1] = static_cast<UINT8>(check >> 8);
    }
    return 1;
}
