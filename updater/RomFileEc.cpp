// EC image: the "$NUVEC" header and the image checksum.
#include <cstring>
#include "RomScan.h"
#include "YozRomFile.h"

#define EC_SUM_SKIP 256u

UINT8 YOZ_RomFile_EC_CalRomCheckSum(UINT8* ec, UINT32 size, UINT16 expected, UINT32 checksumOffset, UINT8 flag) {
    if (ec == nullptr) return 0;
    UINT32 from = flag ? EC_SUM_SKIP : 0;
    if (from > size || checksumOffset > size || size - checksumOffset < 2) return 0;
    UINT32 sum = 0;
    for (UINT32 i = from; i < size; ++i) sum += ec[i];
    // The checksum's own two bytes do not count.
    if (checksumOffset >= from) sum -= ec[checksumOffset];
    if (checksumOffset + 1 >= from) sum -= ec[checksumOffset + 1];
    return static_cast<UINT16>(sum) == expected ? 1 : 0;
}

UINT8 YOZ_RomFile_CheckECBuffer(UINT8* ec, UINT32 size, ZOKT_EC_HDR_STRUCT* out, UINT8* found) {
    if (ec == nullptr || size < sizeof(ZOKT_EC_HDR_STRUCT)) return 0;
    UINT32 from = 0;
    UINT32 at = ROMSCAN_NONE;
    while (true) {
        at = RomScan_Find(ec, size, from, "$NUVEC", 6);
        if (at == ROMSCAN_NONE) return 0;
        // The header must lie whole inside the file.
        if (size - at < sizeof(ZOKT_EC_HDR_STRUCT)) return 0;
        if (ec[at + 6] == 0) break;
        from = at + 1;
    }
    ZOKT_EC_HDR_STRUCT hdr;
    memcpy(&hdr, ec + at, sizeof(hdr));
    WriteOut(" - CheckSum: 0x%04X\n", hdr.CheckSum);
    WriteOut(" - Core Version: %X.%02d\n", hdr.CoreVersion >> 6, hdr.CoreVersion & 0x3F);
    if (hdr.OemBuild != 0) {
        WriteOut(" - OEM Version: %X.%02d.%02d\n", hdr.OemVersion >> 6, hdr.OemVersion & 0x3F, hdr.OemBuild);
    } else {
        WriteOut(" - OEM Version: %X.%02d\n", hdr.OemVersion >> 6, hdr.OemVersion & 0x3F);
    }
    if (out != nullptr) *out = hdr;
    if (found != nullptr) *found = 1;
    if (!YOZ_RomFile_EC_CalRomCheckSum(ec, size, hdr.CheckSum, at + 10, hdr.Flag)) return 0;
    WriteOut(" - EC File checking ........ ok\n");
    return 1;
}
