// The system ROM model over a flash copy of any contents, against the fixed
// 64 KiB block table: the firmware-ID records and the running firmware's
// identity, its version-4 record, the protected-file walker over the main
// and boot-block runs, layout data; and the "$ECB" status block search over
// the input as a mapped segment.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>
#include "FuzzKit.h"
#include "HuxCore.h"
#include "RomModelKit.h"
#include "RomScan.h"
#include "TKXPhysMem.h"
#include "YozSysRom.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzkit::QuietOutput();
    romkit::SetBlocks(fuzzkit::FlashBlocks());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > fuzzkit::kFlashSize) return 0;
    romkit::ResetModels();
    // The flash copy always holds the whole flash; what the input leaves is erased.
    romimg::Bytes flash(fuzzkit::kFlashSize, 0xFF);
    if (size > 0) memcpy(flash.data(), data, size);
    romkit::UseFlashCopy(flash);
    UINT8* copy = YOZ_pSystembuff;

    YOZ_SysRom_GetBlockInfo();
    YOZ_SysRom_GetRomID(copy);
    if (gROMIDCnt > YOZ_MAX_ROMID) abort();
    UINT8* fid = YOZ_SysRom_GetVer4Fid(copy);
    if (fid != nullptr && RomScan_FidRecordSize(fid, 1024) == 0) abort();
    YOZ_SysRom_SearchNCB(copy);
    UINT32 holes = YOZ_HoleCount(YOZ_SysRom_GetRomHoleNumber());
    for (UINT32 i = 0; i < holes; ++i) {
        if (!YOZ_RangeInside(YOZ_SysRom_GetRomHoleRomOffset(i), YOZ_SysRom_GetRomHoleSize(i), fuzzkit::kFlashSize)) {
            abort();
        }
    }
    for (UINT32 i = 0; i < YOZ_SysRom_GetDMINumber(); ++i) {
        if (!YOZ_RangeInside(YOZ_SysRom_GetDMIRomOffset(i), YOZ_SysRom_GetDMISize(i), fuzzkit::kFlashSize)) abort();
    }
    if (YOZ_SysRom_CheckRomLayoutData(copy, fuzzkit::kFlashSize)) {
        UINT32 areaSize = 0;
        FreeMem(YOZ_SysRom_Get_RomLayout_pRomAreaData(&areaSize));
    }

    // The E0000h segment as mapped: exactly the input's bytes.
    std::vector<UINT8> segment(data, data + size);
    YOZ_SysRom_EC_ScanSegment(segment.data(), static_cast<UINT32>(size));
    FreeMem(YOZ_pEcbHdr);
    YOZ_pEcbHdr = nullptr;

    YOZ_SysRom_Var_Release();
    FreeMem(YOZ_pSystembuff);
    YOZ_pSystembuff = nullptr;
    return 0;
}
