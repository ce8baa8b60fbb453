// The one-hole processor ("/HOLE:"): a hole named by GUID, or one of the two
// SLP records, rewritten from a file that holds the hole's data.
#include <cstring>
#include "RomScan.h"
#include "TKXPhysMem.h"
#include "YozFlash.h"
#include "YozHoleProc.h"
#include "YozOptionStore.h"
#include "YozSysRom.h"

UINT32 gRHF_AllBlockSize = 0;
_ROMHOLEREC gRHF_RHRECList[YOZ_MAX_ROMHOLE];
UINT8 gRHF_Count = 0;
UINT8 gRHF_RomHole_TheSame = 0;
static UINT8 s_FlashEnable = 0, s_FvType = 0;  // the family's bytes this processor does not use
const YOZ_REGION_PROC YOZ_RHProc = {&gRHF_AllBlockSize, &s_FlashEnable, &s_FvType, 0, 0, 0};

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
// rewritten only when the file keeps a data checksum; the checksum covers
// the file's data as it will be: the new section header, the key and the
// old bytes after it.
UINT8 RH_Proc_ChangSLPKey(UINT8* destination, UINT8* file, UINT32 fileSize, _ROMHOLEREC* record) {
    if (destination == nullptr || file == nullptr || record->RomOffset < YOZ_FFS_HEADER_SIZE) return 1;
    UINT32 at = record->RomOffset - YOZ_FFS_HEADER_SIZE;
    if (!YOZ_RangeInside(at, YOZ_FFS_HEADER_SIZE + kSectionHeaderSize, gRomSize)) return 1;
    UINT8* header = destination + at;
    YOZ_FFS_FILE_HEADER* ffs = YOZ_FfsHeader(header);
    if (ffs->Attributes == 0 || !(ffs->Attributes & YOZ_FFS_ATTRIB_CHECKSUM)) return 1;
    UINT32 ffsSize = YOZ_FfsFileSize(header);
    UINT32 dataSize = ffsSize - YOZ_FFS_HEADER_SIZE;
    if (ffsSize < YOZ_SLP_KEY_DATA || fileSize > ffsSize - YOZ_SLP_KEY_DATA || !YOZ_RangeInside(at, ffsSize, gRomSize))
        return 1;
    UINT8 oldData = YOZ_CalCheckSum8(header + YOZ_FFS_HEADER_SIZE, dataSize);
    UINT8* section = header + YOZ_FFS_HEADER_SIZE;
    UINT32 sectionSize = fileSize + kSectionHeaderSize;
    section[0] = static_cast<UINT8>(sectionSize);
    section[1] = static_cast<UINT8>(sectionSize >> 8);
    section[2] = static_cast<UINT8>(sectionSize >> 16);
    section[3] = kSlpKeySectionType;
    UINT8 key = YOZ_CalCheckSum8(file, fileSize);
    UINT8 newHeader = YOZ_CalCheckSum8(section, kSectionHeaderSize);
    UINT8 rest = YOZ_CalCheckSum8(header + YOZ_SLP_KEY_DATA + fileSize, ffsSize - YOZ_SLP_KEY_DATA - fileSize);
    ffs->IntegrityFile = static_cast<UINT8>(ffs->IntegrityFile + oldData - newHeader - key - rest);
    return 1;
}

// The SLP file as the flash will hold it is consistent: under secure flash
// the write-once item leaves the FFS header (and the file checksum in it)
// and everything outside its payload as they were in `before`.
static bool SlpFileStaysConsistent(const UINT8* before, const UINT8* after, const _ROMHOLEREC& record) {
    if (!(YOZ_FfsHeader(after)->Attributes & YOZ_FFS_ATTRIB_CHECKSUM)) return true;
    UINT8 sum = YOZ_FfsHeader(after)->IntegrityFile;
    UINT32 from = YOZ_FFS_HEADER_SIZE, to = record.Size;
    _FLASHITEM* item = YOZ_FlashItemList_Get(YOZ_FlashItemList.size() - 1);
    if (YOZ_GetSecureFlashStatus() && item != nullptr) {
        UINT32 address = 0, size = 0;
        YOZ_FlashItem_Payload(item, &address, &size);
        from = address - record.RomOffset;
        to = from + size;
        sum = static_cast<UINT8>(YOZ_FfsHeader(before)->IntegrityFile +
                                 YOZ_CalCheckSum8(before + YOZ_FFS_HEADER_SIZE, from - YOZ_FFS_HEADER_SIZE) +
                                 YOZ_CalCheckSum8(before + to, record.Size - to));
    }
    return static_cast<UINT8>(sum + YOZ_CalCheckSum8(after + from, to - from)) == 0;
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

// The key goes in with its section header and the file checksum; the file
// is taken only when the flash will hold it consistent, else the system
// copy keeps the flash's file.
static ENUM_ERR_ID WriteSlpKey(UINT8* destination, UINT8* file, UINT32 fileSize, const _ROMHOLEREC& record) {
    UINT8* ffs = destination + record.RomOffset;
    UINT8* before = AllocMem(record.Size);
    if (before == nullptr) return eEID_MEM_ALLOC;
    memcpy(before, ffs, record.Size);
    _ROMHOLEREC advanced = record;
    advanced.RomOffset += YOZ_FFS_HEADER_SIZE;
    advanced.Size -= YOZ_FFS_HEADER_SIZE;
    RH_Proc_ChangSLPKey(destination, file, fileSize, &advanced);
    memcpy(ffs + YOZ_SLP_KEY_DATA, file, fileSize);
    ENUM_ERR_ID result = eEID_NO_ERROR;
    if (!SlpFileStaysConsistent(before, ffs, record)) {
        memcpy(ffs, before, record.Size);
        result = YOZ_ERR_NOT_WRITE_ONCE;
    }
    FreeMem(before);
    return result;
}

ENUM_ERR_ID RH_Proc_FileRHToFlashBuff(UINT8* destination, UINT8* file, UINT32 fileSize, _ROMHOLEREC* record) {
    if (destination == nullptr || file == nullptr || record == nullptr) return eEID_MEM_MGR_INIT;
    bool slp = RHP_IsSlpGuid(&record->Guid) != 0;
    // The file must fit the hole's payload: nothing is written past the hole.
    UINT32 room = 0;
    if (!RHP_PayloadRoom(record, slp ? YOZ_SLP_KEY_DATA : YOZ_FFS_HEADER_SIZE, &room) || fileSize > room)
        return eEID_NOT_MATCH_HOLE;
    if (slp) {
        const UINT8* ffs = destination + record->RomOffset;
        if (!RH_Proc_CheckSLPDataisNull(destination, record->RomOffset, record->Size)) return YOZ_ERR_SLP_NOT_BLANK;
        // A data checksum with a tail behind the data is not rewritten.
        UINT8 attributes = YOZ_FfsHeader(ffs)->Attributes;
        if ((attributes & YOZ_FFS_ATTRIB_CHECKSUM) && (attributes & YOZ_FFS_ATTRIB_TAIL))
            return YOZ_ERR_NOT_WRITE_ONCE;
    }
    // The write-once check judges the flash as it is, before the file changes.
    if (!slp) {
        ENUM_ERR_ID taken = RHP_CheckHoleData(destination, file, fileSize, *record);
        if (taken != eEID_NO_ERROR) return taken;
    }
    if (!RHP_AddHoleItem(*record)) return eEID_MEM_ALLOC;
    if (!YOZ_FlashItemList_WriteOnce_Check(destination)) return YOZ_ERR_NOT_WRITE_ONCE;
    if (slp) return WriteSlpKey(destination, file, fileSize, *record);
    RHP_PutHoleData(destination, file, fileSize, *record);
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
