// A region flash must not leave the flash without a firmware ID: when every
// "$FID" record of the flash lies in blocks that the run writes and the
// image holds none in them, the machine would end up without one (the next
// run could not tell its firmware, 0x9A). Checked by the open modules, before
// any erase.
#include <cstring>
#include "RomInfo.h"
#include "RomScan.h"
#include "YozOptionStore.h"
#include "YozRegionProc.h"
#include "YozRomFile.h"
#include "YozSysRom.h"

namespace {

// The "$FID" record follows its firmware-ID file's headers within this many bytes.
const UINT32 kFidWithinFile = 0x82;

UINT32 TypeAt(UINT32 offset) {
    if (gpFlashInfo == nullptr) return 0x100;
    for (UINT32 i = 0; i < gpFlashInfo->BlockCount; ++i) {
        const sBlockInfo& b = gpFlashInfo->Blocks[i];
        if (offset >= b.StartAddress && offset - b.StartAddress < b.BlockSize) return b.Type;
    }
    return 0x100;
}

bool Written(UINT32 type, UINT8 region) { return type < 0x100 && RP_RunWritesType(static_cast<UINT8>(type), region); }

// A "$FID" record of the image (firmware-ID file, its section, the record) in written blocks.
bool ImageBringsOne(UINT8 region) {
    const UINT8* image = YOZ_pOpenFileBuff;
    UINT32 size = YOZ_OpenFileSize < gRomSize ? YOZ_OpenFileSize : gRomSize;
    if (image == nullptr) return false;
    for (UINT32 from = 0;;) {
        UINT32 file = RomScan_Find(image, size, from, kGuidFidFile, 16);
        if (file == ROMSCAN_NONE) return false;
        from = file + 1;
        if (size - file < 44 || memcmp(image + file + 28, kGuidFidSection, 16) != 0) continue;
        UINT32 end = size - file > kFidWithinFile + 4 ? file + kFidWithinFile + 4 : size;
        UINT32 fid = RomScan_Find(image, end, file, "$FID", 4);
        if (fid != ROMSCAN_NONE && Written(TypeAt(fid), region)) return true;
    }
}

}  // namespace

ENUM_ERR_ID RP_CheckFirmwareIdKept(UINT8 region) {
    if (gROMIDCnt == 0) return eEID_NO_ERROR;
    for (UINT32 i = 0; i < gROMIDCnt && i < YOZ_MAX_ROMID; ++i) {
        if (!Written(TypeAt(RomIDDataList[i].FidOffset), region)) return eEID_NO_ERROR;
    }
    return ImageBringsOne(region) ? eEID_NO_ERROR : eEID_INEXIST_ROM_FILE_ID;
}
