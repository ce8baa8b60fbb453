// Firmware-volume and FFS-file checksum walk over the image.
#include <cstring>
#include <initializer_list>
#include "RomScan.h"
#include "TKXPhysMem.h"
#include "YozOptionStore.h"
#include "YozFvLayout.h"
#include "YozRomFile.h"

#define FV_SCAN_WINDOW 0x10000u

// Checks the FFS file the cursor stands at; false on a bad header, size or
// checksum.
static bool CheckFile(const YOZ_FFS_CURSOR& file, UINT32 tail) {
    if (!YOZ_FfsSizeFits(&file, tail)) return false;
    const UINT8* f = file.Volume + file.Offset;
    const YOZ_FFS_FILE_HEADER* h = YOZ_FfsHeader(f);
    UINT32 size = file.Size;
    // The header sums to zero with the data check and the state left out.
    UINT32 s = 0;
    for (UINT32 i = 0; i < YOZ_FFS_HEADER_SIZE; ++i) {
        if (i != offsetof(YOZ_FFS_FILE_HEADER, IntegrityFile) && i != offsetof(YOZ_FFS_FILE_HEADER, State)) s += f[i];
    }
    if ((s & 0xFF) != 0) return false;
    if (h->Attributes & YOZ_FFS_ATTRIB_CHECKSUM) {
        UINT8 data = YOZ_CalCheckSum8(f + YOZ_FFS_HEADER_SIZE, size - YOZ_FFS_HEADER_SIZE - tail);
        if (static_cast<UINT8>(h->IntegrityFile + data) != 0) return false;
    } else if (h->IntegrityFile != 0x5A && h->IntegrityFile != 0xAA) {
        return false;
    }
    if (tail != 0 && RomScan_Get16(f + size - YOZ_FFS_TAIL_SIZE) != static_cast<UINT16>(~YOZ_FfsIntegrity16(f)))
        return false;
    return true;
}

// Checks the volume at v; returns its length, or 0 when it is bad.
static UINT32 CheckVolume(const UINT8* image, UINT32 size, UINT32 v, UINT32 fid) {
    const UINT8* h = image + v;
    const YOZ_FV_HEADER* fv = YOZ_FvHeader(h);
    if (!YOZ_FvLengthsFit(h, size - v)) return 0;
    UINT32 fvLength = static_cast<UINT32>(fv->FvLength);
    if (YOZ_FvHeaderSum(h, fv->HeaderLength / 2) != 0) return 0;
    if (fv->Revision == 1) YOZ_RomFile_PIVersion = 0x9000;
    else if (fv->Revision == 2) YOZ_RomFile_PIVersion = 0x10000;
    UINT8 erasedHeader[YOZ_FFS_HEADER_SIZE];
    YOZ_FvErasedHeader(h, erasedHeader);

    YOZ_FFS_CURSOR file;
    for (bool more = YOZ_FfsFirstFile(h, fvLength, &file); more; more = YOZ_FfsNextFile(&file)) {
        const UINT8* f = h + file.Offset;
        if (memcmp(f, erasedHeader, YOZ_FFS_HEADER_SIZE) == 0) break;
        bool tailed = YOZ_RomFile_PIVersion == 0x9000 && (YOZ_FfsHeader(f)->Attributes & YOZ_FFS_ATTRIB_TAIL);
        if (!CheckFile(file, tailed ? YOZ_FFS_TAIL_SIZE : 0)) return 0;
        UINT32 at = v + file.Offset;
        if (fid > at && fid - at < YOZ_FfsAlignedSize(file.Size)) YOZ_ImageFidCheckSumOffset = at;
    }
    return fvLength;
}

static bool ZeroVector(const UINT8* v) {
    const UINT8* zeros = YOZ_FvHeader(v)->ZeroVector;
    for (UINT32 i = 0; i < sizeof(YOZ_FvHeader(v)->ZeroVector); ++i)
        if (zeros[i] != 0) return false;
    return true;
}

// A volume header that lost its file-system GUID: the zero vector and the
// signature are in place, but the header no longer sums to zero (a volume
// of another file system keeps its sum).
static bool LostFileSystem(const UINT8* image, UINT32 size, UINT32 v) {
    if (!ZeroVector(image + v)) return false;
    UINT32 headerLength = YOZ_FvHeader(image + v)->HeaderLength;
    if ((headerLength & 1) != 0 || headerLength < YOZ_FV_MIN_HEADER || headerLength > size - v) return true;
    return YOZ_FvHeaderSum(image + v, headerLength / 2) != 0;
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
            if (size - v < YOZ_FV_HEADER_ROOM || !ZeroVector(image + v) ||
                memcmp(YOZ_FvHeader(image + v)->Signature, "_FVH", 4) == 0)
                continue;
            UINT64 fvLength = YOZ_FvHeader(image + v)->FvLength;
            UINT32 headerLength = YOZ_FvHeader(image + v)->HeaderLength;
            if (fvLength >= headerLength && fvLength <= size - v && headerLength >= YOZ_FV_MIN_HEADER) return true;
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
            if (sig - window < YOZ_FV_SIGNATURE_OFFSET) continue;
            UINT32 v = sig - YOZ_FV_SIGNATURE_OFFSET;
            if (size - v < YOZ_FV_HEADER_ROOM) break;
            if (!YOZ_FvIsFfs(image + v)) {
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
    if (limit - v < YOZ_FV_HEADER_ROOM || !ZeroVector(image + v) || !YOZ_FvIsFfs(image + v)) return 0;
    if (!YOZ_FvLengthsFit(image + v, limit - v)) return 0;
    return static_cast<UINT32>(YOZ_FvHeader(image + v)->FvLength);
}

// The file of the volume at v (fvLength bytes) that holds [at, at + n) in
// its data, by the volume's own file sizes; 0 when none does.
static UINT32 FileOfVolume(const UINT8* image, UINT32 v, UINT32 fvLength, UINT32 at, UINT32 n) {
    const UINT8* h = image + v;
    UINT8 erasedHeader[YOZ_FFS_HEADER_SIZE];
    YOZ_FvErasedHeader(h, erasedHeader);
    YOZ_FFS_CURSOR file;
    for (bool more = YOZ_FfsFirstFile(h, fvLength, &file); more; more = YOZ_FfsNextFile(&file)) {
        if (memcmp(h + file.Offset, erasedHeader, YOZ_FFS_HEADER_SIZE) == 0 || !YOZ_FfsSizeFits(&file, 0)) return 0;
        UINT32 start = v + file.Offset;
        UINT64 end = static_cast<UINT64>(start) + file.Size;
        if (at < end) return at >= start + YOZ_FFS_HEADER_SIZE && static_cast<UINT64>(at) + n <= end ? start : 0;
    }
    return 0;
}

// The volume that holds `at`: the nearest volume before it whose length
// reaches past it; its length in *fvLength. ROMSCAN_NONE when none does.
static UINT32 VolumeHolding(const UINT8* image, UINT32 limit, UINT32 at, UINT32* fvLength) {
    for (UINT32 before = at; before > YOZ_FV_SIGNATURE_OFFSET;) {
        UINT32 sig = RomScan_FindBack(image, limit, before, "_FVH", 4);
        if (sig == ROMSCAN_NONE || sig < YOZ_FV_SIGNATURE_OFFSET) return ROMSCAN_NONE;
        before = sig;
        UINT32 v = sig - YOZ_FV_SIGNATURE_OFFSET;
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
    YOZ_FFS_FILE_HEADER* file =
        YOZ_RangeInside(header, YOZ_FFS_HEADER_SIZE, limit) ? YOZ_FfsHeader(image + header) : nullptr;
    if (file != nullptr && (file->Attributes & YOZ_FFS_ATTRIB_CHECKSUM) != 0) {
        fileEnd = static_cast<UINT64>(header) + YOZ_FfsFileSize(image + header);
        // A file of a revision-1 volume with a tail ends in the complement of its checks.
        UINT32 fvLength = 0;
        UINT32 v = (file->Attributes & YOZ_FFS_ATTRIB_TAIL) ? VolumeHolding(image, limit, header, &fvLength)
                                                            : ROMSCAN_NONE;
        if (v != ROMSCAN_NONE && YOZ_FvHeader(image + v)->Revision == YOZ_FV_REVISION_TAILS && fileEnd <= limit)
            tail = YOZ_FFS_TAIL_SIZE;
        fileSum = at >= header + YOZ_FFS_HEADER_SIZE && static_cast<UINT64>(at) + n + tail <= fileEnd;
    }
    UINT8 before = YOZ_CalCheckSum8(image + at, n), after = YOZ_CalCheckSum8(data, n);
    memmove(image + at, data, n);
    if (!fileSum) return 1;
    file->IntegrityFile = static_cast<UINT8>(file->IntegrityFile + before - after);
    if (tail != 0) {
        UINT16 check = static_cast<UINT16>(~YOZ_FfsIntegrity16(image + header));
        image[fileEnd - 2] = static_cast<UINT8>(check);
        image[fileEnd - 1] = static_cast<UINT8>(check >> 8);
    }
    return 1;
}
