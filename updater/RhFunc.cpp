// The one-hole processor ("/HOLE:"): a hole named by GUID, or one of the two
// SLP records, rewritten from a file that holds the hole's data.
#include <cstring>
#include "RomScan.h"
#include "YozFlash.h"
#include "YozHoleProc.h"
#include "YozOptionStore.h"
#include "YozSysRom.h"

UINT32 gRHF_AllBlockSize = 0;
_ROMHOLEREC gRHF_RHRECList[YOZ_MAX_ROMHOLE];
UINT8 gRHF_Count = 0;
UINT8 gRHF_RomHole_TheSame = 0;
static UINT8 s_FlashEnable = 0, s_FvType = 0;  // the family's bytes this processor does not use
const YOZ_REGION_PROC YOZ_RHProc = {&gRHF_AllBlockSize, &s_FlashEnable, &s_FvType, 0, 0, 0, 0};

static const UINT32 kFfsFileSum = 0x11, kFfsAttributes = 0x13, kFfsSize = 0x14;
static const UINT8 kFfsChecksumAttribute = 0x40;
static const UINT8 kSlpKeySectionType = 0x19;
static const UINT32 kSectionHeaderSize = 4;

void RH_FuncVar_Init() {
    RP_FuncVar_Init(&YOZ_RHProc);
    memset(gRHF_RHRECList, 0, sizeof(gRHF_RHRECList));
    gRHF_Count = 0;
    gRHF_RomHole_TheSame = 0;
}

// `record` is advanced past the FFS header: the header lies 24 bytes before
// its RomOffset. The key's section header and the file checksum are
// rewritten only when the file keeps a data checksum.
UINT8 RH_Proc_ChangSLPKey(UINT8* destination, UINT8* file, UINT32 fileSize, _ROMHOLEREC* record) {
    if (destination == nullptr || file == nullptr || record->RomOffset < YOZ_FFS_HEADER_SIZE) return 1;
    UINT32 at = record->RomOffset - YOZ_FFS_HEADER_SIZE;
    if (!YOZ_RangeInside(at, YOZ_FFS_HEADER_SIZE + kSectionHeaderSize, gRomSize)) return 1;
    UINT8* header = destination + at;
    if (header[kFfsAttributes] == 0 || !(header[kFfsAttributes] & kFfsChecksumAttribute)) return 1;
    UINT32 ffsSize = RomScan_Get24(header + kFfsSize);
    if (ffsSize < YOZ_FFS_HEADER_SIZE + kSectionHeaderSize || !YOZ_RangeInside(at, ffsSize, gRomSize)) return 1;
    UINT8 oldData = YOZ_CalCheckSum8(header + YOZ_FFS_HEADER_SIZE, ffsSize - YOZ_FFS_HEADER_SIZE);
    UINT8* section = header + YOZ_FFS_HEADER_SIZE;
    UINT32 sectionSize = fileSize + kSectionHeaderSize;
    section[0] = static_cast<UINT8>(sectionSize);
    section[1] = static_cast<UINT8>(sectionSize >> 8);
    section[2] = static_cast<UINT8>(sectionSize >> 16);
    section[3] = kSlpKeySectionType;
    UINT8 key = YOZ_CalCheckSum8(file, fileSize);
    UINT8 newHeader = YOZ_CalCheckSum8(section, kSectionHeaderSize);
    header[kFfsFileSum] = static_cast<UINT8>(header[kFfsFileSum] + oldData - newHeader - key);
    return 1;
}

UINT8 RH_Proc_CheckSLPDataisNull(UINT8* image, UINT32 offset, UINT32 size) {
    if (image == nullptr || size < YOZ_SLP_KEY_DATA || !YOZ_RangeInside(offset, size, gRomSize)) return 0;
    const UINT8* data = image + offset + YOZ_SLP_KEY_DATA;
    UINT32 length = size - YOZ_SLP_KEY_DATA;
    bool allFF = true, all00 = true;
    for (UINT32 i = 0; i < length && (allFF || all00); ++i) {
        allFF = allFF && data[i] == 0xFF;
        all00 = all00 && data[i] == 0x00;
    }
    return allFF || all00 ? 1 : 0;
}

ENUM_ERR_ID RH_Proc_FileRHToFlashBuff(UINT8* destination, UINT8* file, UINT32 fileSize, _ROMHOLEREC* record) {
    if (destination == nullptr || file == nullptr || record == nullptr) return eEID_MEM_MGR_INIT;
    bool slp = RHP_IsSlpGuid(&record->Guid) != 0;
    // The file must fit the hole's payload: nothing is written past the hole.
    UINT32 room = 0;
    if (!RHP_PayloadRoom(record, slp ? YOZ_SLP_KEY_DATA : YOZ_FFS_HEADER_SIZE, &room) || fileSize > room)
        return eEID_NOT_MATCH_HOLE;
    UINT32 payload = record->RomOffset + YOZ_FFS_HEADER_SIZE;
    if (slp) {
        _ROMHOLEREC advanced = *record;
        advanced.RomOffset += YOZ_FFS_HEADER_SIZE;
        advanced.Size -= YOZ_FFS_HEADER_SIZE;
        RH_Proc_ChangSLPKey(destination, file, fileSize, &advanced);
        payload = record->RomOffset + YOZ_SLP_KEY_DATA;
        if (!RH_Proc_CheckSLPDataisNull(destination, record->RomOffset, record->Size)) return YOZ_ERR_SLP_NOT_BLANK;
    }
    if (!RHP_AddHoleItem(*record)) return eEID_MEM_ALLOC;
    if (!YOZ_FlashItemList_WriteOnce_Check(destination)) return YOZ_ERR_NOT_WRITE_ONCE;
    memcpy(destination + payload, file, fileSize);
    return eEID_NO_ERROR;
}

UINT32 RH_Proc_MakeDoItList(UINT8* map, _ROMHOLEREC* record) {
    return RHP_MakeDoItList(map, record, 1, nullptr, nullptr, nullptr, nullptr);
}

UINT32 RH_Proc_MakeCAFDoItList(UINT8* buffer, UINT8* map, UINT32 total) {
    return RP_MakeCAFDoItList(&YOZ_RHProc, buffer, map, total);
}

UINT8 RH_Proc_CheckFlashAddr(sBlockInfo* block, _ROMHOLEREC* hole) { return RP_CheckFlashAddr(block, hole); }

_ROMHOLEREC* RH_Proc_CompRHREC(EFI_GUID* guid, _ROMHOLEREC* list) {
    return RHP_FindHole(guid, list, YOZ_MAX_ROMHOLE, &gRHF_RomHole_TheSame);
}

_ROMHOLEREC* RH_Proc_CompOtherRHREC(EFI_GUID* guid, _ROMHOLEREC* list, int n) {
    return RHP_FindHole(guid, list, n > 0 ? static_cast<UINT32>(n) : 0, &gRHF_RomHole_TheSame);
}
