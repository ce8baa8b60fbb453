// Bounded searches over ROM buffers.
#include "RomScan.h"
#include <cstring>
#include "RomInfo.h"
#include "YozRomFile.h"
#include "YozSysRom.h"

// GUIDs in their stored form (Data1, Data2, Data3 little-endian).
const UINT8 kGuidFfs2[16] = {0xD9, 0x54, 0x93, 0x7A, 0x68, 0x04, 0x4A, 0x44,
                             0x81, 0xCE, 0x0B, 0xF6, 0x17, 0xD8, 0x90, 0xDF};
const UINT8 kGuidFfs3[16] = {0x78, 0xE5, 0x8C, 0x8C, 0x3D, 0x8A, 0x1C, 0x4F,
                             0x99, 0x35, 0x89, 0x61, 0x85, 0xC3, 0x2D, 0xD3};
const UINT8 kGuidFidFile[16] = {0xA2, 0xD3, 0xD1, 0x3F, 0xF7, 0x99, 0x0B, 0x42,
                                0xBC, 0x69, 0x8B, 0xB1, 0xD4, 0x92, 0xA3, 0x32};
const UINT8 kGuidFidSection[16] = {0x75, 0x02, 0xBE, 0x2E, 0x58, 0x64, 0xF9, 0x4A,
                                   0x91, 0xED, 0xD3, 0xF4, 0xED, 0xB1, 0x00, 0xAA};
const UINT8 kGuidRomHole0[16] = {0xFC, 0x01, 0xCA, 0x05, 0xC1, 0x0F, 0xDC, 0x11,
                                 0x90, 0x11, 0x00, 0x17, 0x31, 0x53, 0xEB, 0xA8};
const UINT8 kGuidSlpKey[16] = {0xE0, 0xA1, 0x6A, 0x99, 0x8C, 0x1E, 0x36, 0x4F,
                               0xB5, 0x19, 0xA1, 0x70, 0xA2, 0x06, 0xFC, 0x14};
const UINT8 kGuidSlpMarker[16] = {0x42, 0x98, 0x00, 0x69, 0xF2, 0x63, 0xDB, 0x43,
                                  0x96, 0x4B, 0xEF, 0xAD, 0x1C, 0x39, 0xEC, 0x85};
const UINT8 kGuidDmi[16] = {0x0B, 0x82, 0x44, 0xFD, 0xAB, 0xF1, 0xC0, 0x41,
                            0xAE, 0x4E, 0x0C, 0x55, 0x55, 0x6E, 0xB9, 0xBD};
const UINT8 kGuidOa31[16] = {0xB8, 0x0B, 0xCA, 0xC8, 0xDA, 0x67, 0x83, 0x48,
                             0x8C, 0xFC, 0x91, 0x80, 0xCB, 0x9E, 0xEC, 0x68};
const UINT8 kGuidCapsuleHeader[16] = {0x8B, 0xA6, 0x3C, 0x4A, 0x23, 0x77, 0xFB, 0x48,
                                      0x80, 0x3D, 0x57, 0x8C, 0xC1, 0xFE, 0xC4, 0x4D};
const UINT8 kGuidCapsuleFile[16] = {0xAD, 0x94, 0x4D, 0x41, 0x8D, 0x99, 0xD2, 0x47,
                                    0xBF, 0xCD, 0x4E, 0x88, 0x22, 0x41, 0xDE, 0x32};
const UINT8 kGuidCapsuleSection[16] = {0x1B, 0x64, 0x88, 0x5A, 0xB9, 0xBB, 0xA6, 0x4A,
                                       0x80, 0xF7, 0x49, 0x8A, 0xE4, 0x07, 0xC3, 0x1F};
const UINT8 kGuidMeFirst[16] = {0xEF, 0x1D, 0x8B, 0x9F, 0x2B, 0xB6, 0xF3, 0x45,
                                0x82, 0x82, 0xBF, 0xD7, 0xEA, 0x19, 0x80, 0x1B};
const UINT8 kGuidLayoutFile[16] = {0x17, 0x3C, 0x1C, 0xC9, 0x74, 0xFC, 0xE5, 0x46,
                                   0xBD, 0xBE, 0x6F, 0x48, 0x6A, 0x5A, 0x9F, 0x3C};
const UINT8 kGuidLayoutSection[16] = {0xA1, 0x1C, 0x78, 0x00, 0xE3, 0x5D, 0x5F, 0x40,
                                      0xAB, 0xB8, 0x37, 0x9C, 0x3C, 0x07, 0x69, 0x84};

#if defined(__SSE2__)
typedef UINT8 RomScanLanes __attribute__((vector_size(16)));
typedef signed char RomScanHits __attribute__((vector_size(16)));

// Sixteen places at a time: a place is a candidate when the pattern's first
// and last bytes both match there, which random data gives once in 64 KiB
// rather than once in 256 bytes. Moves `from` past the places it has looked
// at; returns the match, or ROMSCAN_NONE when it stopped without one (the
// last few places, or too many candidates that were no match).
static UINT32 FindByEnds(const UINT8* buf, UINT32 size, UINT32& from, const UINT8* pat, UINT32 length,
                         UINT32& misses, UINT32 budget) {
    RomScanLanes first, last;
    for (int i = 0; i < 16; ++i) {
        first[i] = pat[0];
        last[i] = pat[length - 1];
    }
    UINT32 stop = size - length + 1;  // one past the last place a match can start
    for (; stop - from >= 16 && misses < budget; from += 16) {
        RomScanLanes head, tail;
        memcpy(&head, buf + from, 16);
        memcpy(&tail, buf + from + length - 1, 16);
        RomScanHits hits = (head == first) & (tail == last);
        UINT64 low, high;
        memcpy(&low, &hits, 8);
        memcpy(&high, reinterpret_cast<const UINT8*>(&hits) + 8, 8);
        if ((low | high) == 0) continue;
        for (UINT32 j = 0; j < 16; ++j) {
            if (hits[j] == 0) continue;
            if (memcmp(buf + from + j + 1, pat + 1, length - 2) == 0) return from + j;
            ++misses;
        }
    }
    return ROMSCAN_NONE;
}
#endif

// The first match at or after `from`. The candidates are the places of the
// pattern's first byte (and, where the processor compares sixteen bytes at
// once, of its last byte too); where candidates keep failing, the rest of the
// range is left to memmem, which stays linear whatever the data.
UINT32 RomScan_Find(const UINT8* buf, UINT32 size, UINT32 from, const void* pattern, UINT32 length) {
    if (buf == nullptr || length == 0 || from >= size || size - from < length) return ROMSCAN_NONE;
    const UINT8* pat = static_cast<const UINT8*>(pattern);
    UINT32 misses = 0;
    const UINT32 kMissBudget = 4096 + (size - from) / 64;
#if defined(__SSE2__)
    if (length >= 2) {
        UINT32 hit = FindByEnds(buf, size, from, pat, length, misses, kMissBudget);
        if (hit != ROMSCAN_NONE) return hit;
    }
#endif
    const UINT8* last = buf + size - length;  // the last place a match can start
    for (const UINT8* p = buf + from; p <= last && misses < kMissBudget; ++p, ++misses) {
        p = static_cast<const UINT8*>(memchr(p, pat[0], static_cast<size_t>(last - p) + 1));
        if (p == nullptr) return ROMSCAN_NONE;
        if (memcmp(p + 1, pat + 1, length - 1) == 0) return static_cast<UINT32>(p - buf);
        from = static_cast<UINT32>(p - buf) + 1;
    }
    if (from > size - length) return ROMSCAN_NONE;
    const void* hit = memmem(buf + from, size - from, pattern, length);
    if (hit == nullptr) return ROMSCAN_NONE;
    return static_cast<UINT32>(static_cast<const UINT8*>(hit) - buf);
}

UINT32 RomScan_FindBack(const UINT8* buf, UINT32 size, UINT32 before, const void* pattern, UINT32 length) {
    if (buf == nullptr || length == 0 || length > size) return ROMSCAN_NONE;
    const UINT8* pat = static_cast<const UINT8*>(pattern);
    if (before > size - length + 1) before = size - length + 1;
    for (UINT32 i = before; i-- > 1;) {
        if (buf[i] == pat[0] && memcmp(buf + i, pat, length) == 0) return i;
    }
    return ROMSCAN_NONE;
}

UINT32 RomScan_FidFileOffset(const UINT8* buf, UINT32 size) {
    if (buf == nullptr || size <= 130) return 0;
    UINT32 end = size - 130;   // candidates below this offset; the section GUID fits behind them
    UINT32 from = 0;
    while (from < end) {
        UINT32 hit = RomScan_Find(buf, end + 15, from, kGuidFidFile, 16);
        if (hit == ROMSCAN_NONE || hit >= end) return 0;
        if (memcmp(buf + hit + 28, kGuidFidSection, 16) == 0) return hit;
        from = hit + 1;
    }
    return 0;
}

UINT16 RomScan_Get16(const UINT8* p) { return static_cast<UINT16>(p[0] | p[1] << 8); }
UINT32 RomScan_Get24(const UINT8* p) { return static_cast<UINT32>(p[0] | p[1] << 8 | p[2] << 16); }
UINT32 RomScan_Get32(const UINT8* p) {
    return static_cast<UINT32>(p[0]) | static_cast<UINT32>(p[1]) << 8 | static_cast<UINT32>(p[2]) << 16 |
           static_cast<UINT32>(p[3]) << 24;
}

static UINT32 Within(const UINT8* buf, const UINT8* base, UINT32 baseSize) {
    if (base == nullptr || buf < base || buf >= base + baseSize) return ROMSCAN_NONE;
    return baseSize - static_cast<UINT32>(buf - base);
}

UINT32 RomScan_Limit(const UINT8* buf) {
    UINT32 limit = gRomSize;
    UINT32 held = Within(buf, YOZ_pOpenFileBuff, YOZ_OpenFileSize);
    if (held == ROMSCAN_NONE) held = Within(buf, YOZ_pReSourceBuff, YOZ_ReSourceSize);
    if (held == ROMSCAN_NONE) held = Within(buf, YOZ_pSystembuff, YOZ_pSystembuff ? gRomSize : 0);
    if (held != ROMSCAN_NONE && held < limit) limit = held;
    return limit;
}

UINT32 RomScan_FidRecordSize(const UINT8* rec, UINT32 avail) {
    if (avail < 0x47) return 0;
    UINT32 size = RomScan_Get16(rec + 5);
    if (size < 0x47 || size > 1024 || size > avail) return 0;
    if (RomScan_Get32(rec + 0x43) > size - 0x47) return 0;
    return size;
}
