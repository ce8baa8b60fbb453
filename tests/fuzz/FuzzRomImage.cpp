// The ROM image model over an image file of any size, against a fixed
// 64 KiB block table: volume and file checksums, the firmware-ID record and
// ROM-ID check, the protected-file walker (holes, SLP, DMI) over the main and
// boot-block runs, the OEM activation key, layout data, the ME volume, the
// capsule forms and the EC image header.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>
#include "FuzzKit.h"
#include "HuxCore.h"
#include "RomInfo.h"
#include "RomModelKit.h"
#include "SecureFlash.h"
#include "TKXPhysMem.h"
#include "YozRomFile.h"
#include "YozSysRom.h"

static bool Inside(UINT32 offset, UINT32 length, UINT32 size) { return YOZ_RangeInside(offset, length, size); }

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzkit::QuietOutput();
    romkit::SetBlocks(fuzzkit::FlashBlocks());
    // The running firmware's identity, as the builders' images carry it.
    memcpy(g_FwId, "PRJ00001", 9);
    static const UINT8 guid[16] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88,
                                   0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xF0, 0x01};
    memcpy(g_FwGuid, guid, 16);
    g_OnBoardROMProjectIDLength = 8;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 2 * fuzzkit::kFlashSize) return 0;
    romkit::ResetModels();
    YOZ_SysRom_GetBlockInfo();
    std::vector<UINT8> file(data, data + size);
    UINT8* image = file.data();
    UINT32 length = static_cast<UINT32>(size);
    YOZ_pOpenFileBuff = image;
    YOZ_OpenFileSize = length;
    YOZ_OpenFileOK = 1;

    YOZ_RomFile_CheckSum(image, length);
    UINT32 fid = YOZ_RomFile_FindImageFidOffset(image);
    if (fid != 0 && fid >= length) abort();
    YOZ_RomFile_GetVer4Fid(image);
    YOZ_CheckOEMRomIDFlag = 1;
    YOZ_RomFile_CheckRomID(image, length);
    YOZ_RomFile_CheckOAKey();

    YOZ_RomFile_SearchNCB(image);
    UINT32 holes = YOZ_HoleCount(YOZ_RomFile_GetRomHoleNumber());
    for (UINT32 i = 0; i < holes; ++i) {
        if (!Inside(YOZ_RomFileRHRECList[i].RomOffset, YOZ_RomFileRHRECList[i].Size, length)) abort();
    }
    for (UINT32 i = 0; i < YOZ_RomFile_GetDMINumber(); ++i) {
        if (!Inside(YOZ_RomFile_GetDMIRomOffset(i), YOZ_RomFile_GetDMISize(i), length)) abort();
    }

    if (YOZ_RomFile_CheckRomLayoutData(image, length)) {
        UINT32 areaSize = 0;
        FreeMem(YOZ_RomFile_Get_RomLayout_pRomAreaData(&areaSize));
    }

    UINT8* bios = image;
    UINT32 biosSize = length;
    UINT8* me = nullptr;
    UINT32 meSize = 0;
    if (YOZ_RomFile_CheckME_FV(image, length) && YOZ_RomFile_GetME_FV_BIOSAddrSeting(&bios, &biosSize, &me, &meSize)) {
        if (me < image || !Inside(static_cast<UINT32>(me - image), meSize, length) || biosSize > length) abort();
    }

    // Capsule forms, with and without secure flash.
    for (UINT8 secure = 0; secure < 2; ++secure) {
        FLASH_SetSecureFlashSupported(secure);
        UINT8* rom = image;
        UINT32 romSize = length;
        YOZ_RomFile_CheckNewCAPGUID(rom, romSize);
        if (YOZ_RomFile_ResetCAPFileHead(&rom, &romSize)) {
            if (rom != YOZ_pReSourceBuff || romSize != YOZ_ReSourceSize) abort();
        }
        if (YOZ_RomFile_CheckCapHeader(rom, romSize)) YOZ_RomFile_GetNoSecureHeadRom(&rom, &romSize);
    }
    FLASH_SetSecureFlashSupported(0);

    ZOKT_EC_HDR_STRUCT header;
    UINT8 found = 0;
    YOZ_RomFile_CheckECBuffer(image, length, &header, &found);

    YOZ_RomFile_Var_Release();
    YOZ_RomFile_Init();
    YOZ_SysRom_Var_Release();
    return 0;
}
