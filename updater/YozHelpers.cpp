// Checksums, GUID and hex text, GUID printing and the firmware-ID file
// locator.
#include <cstring>
#include "RomInfo.h"
#include "HuxCore.h"
#include "TKXString.h"
#include "RomScan.h"
#include "YozOptionStore.h"

#if defined(__SSE2__)
typedef UINT8 YozByteLanes __attribute__((vector_size(16)));
#endif

// Only the sum modulo 256 counts. Where the processor adds sixteen bytes at
// once, sixteen byte lanes each keep their own sum modulo 256 and are added
// at the end; elsewhere eight bytes at a time go into four 16-bit lanes (two
// bytes a lane, at most 510 a word), folded before a lane can overflow.
UINT8 YOZ_CalCheckSum8(const UINT8* data, UINT32 length) {
    if (data == nullptr) return 0;
    UINT32 sum = 0, i = 0;
#if defined(__SSE2__)
    YozByteLanes lanes = {};
    for (; length - i >= 16; i += 16) {
        YozByteLanes bytes;
        memcpy(&bytes, data + i, 16);
        lanes += bytes;
    }
    for (int lane = 0; lane < 16; ++lane) sum += lanes[lane];
#else
    const UINT64 kLow = 0x00FF00FF00FF00FFull;
    const UINT32 kWordsPerFold = 128;  // 128 * 510 < 65536
    while (length - i >= 8) {
        UINT64 lanes = 0;
        for (UINT32 n = 0; n < kWordsPerFold && length - i >= 8; ++n, i += 8) {
            UINT64 word;
            memcpy(&word, data + i, 8);
            lanes += (word & kLow) + ((word >> 8) & kLow);
        }
        for (int lane = 0; lane < 4; ++lane) sum += static_cast<UINT32>(lanes >> (16 * lane)) & 0xFFFF;
    }
#endif
    for (; i < length; ++i) sum += data[i];
    return static_cast<UINT8>(sum);
}

UINT16 YOZ_CalCheckSum16(const UINT16* data, UINT32 wordCount) {
    UINT16 sum = 0;
    if (data == nullptr) return 0;
    const UINT8* bytes = reinterpret_cast<const UINT8*>(data);
    for (UINT32 i = 0; i < wordCount; ++i) {
        sum = static_cast<UINT16>(sum + (bytes[2 * i] | (bytes[2 * i + 1] << 8)));
    }
    return sum;
}

UINT8 YOZ_Conv_GetNum(char c) {
    if (c >= 0x30 && c <= 0x3F) return static_cast<UINT8>(c - 0x30);
    if (c >= 'A' && c <= 'Z') return static_cast<UINT8>(c - 55);
    if (c >= 'a' && c <= 'z') return static_cast<UINT8>(c - 87);
    return 0;
}

ENUM_ERR_ID YOZ_Conv_StrtoGUID(const char* text, EFI_GUID* guid) {
    static const UINT32 kDigits = 32;
    if (text == nullptr || guid == nullptr || StringLength(text) != kDigits) return eEID_COMMAND_LINE;
    UINT8 digit[kDigits];
    for (UINT32 i = 0; i < kDigits; ++i) {
        if (!YOZ_Isxdigit(static_cast<unsigned char>(text[i]))) return eEID_COMMAND_LINE;
        digit[i] = YOZ_Conv_GetNum(text[i]);
    }
    EFI_GUID g;
    g.Data1 = 0;
    for (UINT32 i = 0; i < 8; ++i) g.Data1 = (g.Data1 << 4) + digit[i];
    g.Data2 = 0;
    for (UINT32 i = 8; i < 12; ++i) g.Data2 = static_cast<UINT16>((g.Data2 << 4) + digit[i]);
    g.Data3 = 0;
    for (UINT32 i = 12; i < 16; ++i) g.Data3 = static_cast<UINT16>((g.Data3 << 4) + digit[i]);
    for (UINT32 k = 0; k < 8; ++k) g.Data4[k] = static_cast<UINT8>((digit[16 + 2 * k] << 4) + digit[17 + 2 * k]);
    *guid = g;
    return eEID_NO_ERROR;
}

UINT32 YOZ_HexStringToValue(char* text) {
    if (text == nullptr) return 0;
    StrToUpper(text);
    UINT32 length = StringLength(text);
    // A u32 holds 8 digits: a longer text gives the value of its last 8.
    UINT32 first = length > 8 ? length - 8 : 0;
    UINT32 value = 0;
    for (UINT32 k = 0; k < length - first; ++k) {
        char c = text[length - 1 - k];
        UINT32 v;
        if (c >= '0' && c <= '9') {
            v = static_cast<UINT32>(c - '0');
        } else if (c >= 'A' && c <= 'F') {
            v = static_cast<UINT32>(c - 'A' + 10);
        } else {
            continue;
        }
        value += v << (4 * k);
    }
    return value;
}

bool YOZ_Isxdigit(int c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

void YOZ_PrintGuid(const UINT8* guid) {
    if (guid == nullptr) return;
    const UINT8* g = guid;
    unsigned long data1 = static_cast<unsigned long>(g[0] | (g[1] << 8) | (g[2] << 16)) |
                          (static_cast<unsigned long>(g[3]) << 24);
    unsigned data2 = static_cast<unsigned>(g[4] | (g[5] << 8));
    unsigned data3 = static_cast<unsigned>(g[6] | (g[7] << 8));
    WriteOut("%08lx-%04x-%04x-%02x%02x%02x%02x%02x%02x%02x%02x\n", data1, data2, data3, g[8], g[9], g[10], g[11],
             g[12], g[13], g[14], g[15]);
}

// The firmware-ID file search is shared with the image and system models.
UINT32 YOZ_SearchFIDGuid_OffsetIn(const UINT8* rom, UINT32 size) { return RomScan_FidFileOffset(rom, size); }

UINT32 YOZ_SearchFIDGuid_Offset(const UINT8* rom) { return YOZ_SearchFIDGuid_OffsetIn(rom, gRomSize); }
