// Analysis of a ROM file that may hold a flash descriptor, the ME and the
// BIOS in one binary: where the BIOS part lies and how much is ME data.
#include "RomInfo.h"
#include "TKXPhysMem.h"
#include "TKXString.h"
#include "ZoktMe.h"

static UINT8* g_ME_File = nullptr;
static UINT32 g_ME_FileSize = 0;
static UINT8 bDataChecked = 0;
static UINT8 bDescriptorFound = 0;
static UINT8 bAnalysisDone = 0;
static UINT8 bAnalysisResult = 0;
static UINT8 bSingleBin = 0;
static UINT8* g_ME_BiosPart = nullptr;
static UINT32 g_ME_BiosSize = 0;
static UINT32 g_ME_BufferSize = 0;

static const UINT8 kDescriptorSignature[4] = {0x5A, 0xA5, 0xF0, 0x0F};
#define ME_DESCRIPTOR_SEARCH_END 0x1B
#define ME_FID_WINDOW 0x400u
#define ME_FID_STEP 0x37Eu

void ZOKT_ME_ForgetFile() {
    g_ME_File = nullptr;
    g_ME_FileSize = 0;
    bDataChecked = 0;
    bDescriptorFound = 0;
    bAnalysisDone = 0;
    bAnalysisResult = 0;
    bSingleBin = 0;
    g_ME_BiosPart = nullptr;
    g_ME_BiosSize = 0;
    g_ME_BufferSize = 0;
}

UINT8 ZOKT_ME_HasDescriptor(const UINT8* file, UINT32 size) {
    if (file == nullptr || size < 0x400) return 0;
    for (UINT32 at = 0; at <= ME_DESCRIPTOR_SEARCH_END; ++at) {
        if (MemCmp(file + at, kDescriptorSignature, 4) == 1) return 1;
    }
    return 0;
}

UINT8 ZOKT_ME_CheckMEData(UINT8* file, UINT32 size) {
    if (file == nullptr || size < 0x400) return 0;
    if (bDataChecked == 0) {
        g_ME_File = file;
        g_ME_FileSize = size;
        bDataChecked = 1;
    }
    if (!ZOKT_ME_HasDescriptor(file, size)) return 0;
    bDescriptorFound = 1;
    return 1;
}

// The BIOS entry of the firmware's region table, or null.
static const ZOKT_MER_BLK_ENTRY* BiosEntry() {
    if (g_ME_NewInterface == 0 || g_MER_BlkDataInfo == nullptr) return nullptr;
    for (UINT32 i = 0; i < g_MER_BlkDataInfo->Count; ++i) {
        if (g_MER_BlkDataInfo->Entries[i].Id == ME_BIOS_REGION_ID) return &g_MER_BlkDataInfo->Entries[i];
    }
    return nullptr;
}

// "$FID" searched backwards in windows of 0x400 bytes that step down by
// 0x37E while above base; each window is searched at its first 0x37E offsets.
static bool FindFid(const UINT8* file, UINT32 size, UINT32 base) {
    if (size < ME_FID_WINDOW) return false;
    for (UINT32 window = size - ME_FID_WINDOW;; window -= ME_FID_STEP) {
        for (UINT32 k = 0; k < ME_FID_STEP; ++k) {
            if (MemCmp(file + window + k, "$FID", 4) == 1) return true;
        }
        if (window <= base || window < ME_FID_STEP) return false;
    }
}

static UINT8 Bad(ENUM_ERR_ID err) {
    WriteOut("bad\n");
    if (err != eEID_NO_ERROR) g_ME_LastError = err;
    bAnalysisResult = 0;
    return 0;
}

static UINT8 Analyse() {
    WriteOut(" - ME Data Size checking . ");
    if (g_pMEInfo == nullptr || g_ME_File == nullptr) return Bad(eEID_NO_ERROR);
    UINT32 fileSize = g_ME_FileSize;
    if (bDescriptorFound == 0) {
        if (g_pMEInfo->RuntimeLength != fileSize) return Bad(static_cast<ENUM_ERR_ID>(3));
        bSingleBin = 1;
        g_ME_BiosPart = nullptr;
        g_ME_BiosSize = 0;
        WriteOut("ok\n");
        return 1;
    }
    const ZOKT_MER_BLK_ENTRY* bios = BiosEntry();
    UINT32 base = g_pMEInfo->BiosRegionBase;
    UINT32 length = g_pMEInfo->BiosRegionLength;
    if (bios != nullptr) {
        base = bios->StartAddress;
        length = bios->Size;
    }
    if (fileSize != gRomSize && bios != nullptr) {
        UINT64 sum = 0;
        for (UINT32 i = 0; i < g_MER_BlkDataInfo->Count; ++i) {
            if (g_MER_BlkDataInfo->Entries[i].StartAddress <= bios->StartAddress) sum += g_MER_BlkDataInfo->Entries[i].Size;
        }
        // The table describes the file; it may not claim more than the file holds.
        if (sum < fileSize) fileSize = static_cast<UINT32>(sum);
    }
    if (static_cast<UINT64>(base) + length > fileSize) return Bad(eEID_ANALYZE_ME_DATA);
    if (!FindFid(g_ME_File, fileSize, base)) return Bad(eEID_ANALYZE_ROM_IMG);
    g_ME_BiosPart = g_ME_File + base;
    g_ME_BiosSize = length;
    if (bios != nullptr) {
        g_ME_BufferSize = g_MER_BlkDataInfo->TotalSize;
    } else {
        g_ME_BufferSize = g_pMEInfo->RuntimeLength;
    }
    WriteOut("ok\n");
    return 1;
}

UINT8 ZOKT_ME_GetBIOSAddrSeting(UINT8** bios, UINT32& size) {
    if (bAnalysisDone == 0) {
        bAnalysisResult = Analyse();
        bAnalysisDone = 1;
    }
    if (bAnalysisResult != 0) {
        *bios = g_ME_BiosPart;
        size = g_ME_BiosSize;
    }
    return bAnalysisResult;
}

UINT8 ZOKT_ME_BufferISSingleBin() {
    if (bAnalysisDone != 0) return bSingleBin;
    if (g_pMEInfo != nullptr && bDescriptorFound == 0 && g_pMEInfo->BiosRegionLength == g_ME_FileSize) return 1;
    g_ME_LastError = static_cast<ENUM_ERR_ID>(3);
    return 0;
}

UINT32 ZOKT_ME_GetMEBufferSize() { return g_ME_BufferSize; }
