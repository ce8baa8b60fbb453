// The system ROM model: regions of the flash block table, the whole-flash
// copy, the running firmware's identity, its protected files and
// non-critical blocks, the "$ECB" status block and the password dialogue.
#pragma once
#include "HuxCore.h"
#include "YozRomRecords.h"

// Block types of the block table.
#define YOZ_BLOCK_BOOT 0x00
#define YOZ_BLOCK_MAIN 0x01
#define YOZ_BLOCK_NVRAM 0x02
#define YOZ_BLOCK_EC 0x03
#define YOZ_BLOCK_NVRAM_BACKUP 0x04
#define YOZ_BLOCK_OA 0x4A
#define YOZ_BLOCK_FT 0x7E
#define YOZ_BLOCK_NCB 0x80

// One run of consecutive flash blocks of one type.
struct _RGINFO {
    UINT8 Type;
    UINT16 FirstIndex;
    UINT16 LastIndex;
    UINT32 StartAddress;
    UINT32 Size;
};
typedef TKXList<_RGINFO*> TKXRegionList;

#pragma pack(push, 1)
// One non-critical block record.
struct YOZ_NCB_REC {
    UINT8 Type;
    UINT32 Start;   // 0xFFFFFFFF until set
    UINT32 Size;
};
// One firmware-ID record found in the flash.
struct YOZ_ROMID_ENTRY {
    UINT8 FwGuid[16];
    UINT8 ProjectId[8];
    UINT8 Spare[4];
    UINT32 FidOffset;
    UINT8 Flag;      // 0: inside a boot-block region, 0xFF: outside
    UINT8 Pad[3];
};
#pragma pack(pop)
static_assert(sizeof(YOZ_NCB_REC) == 9, "NCB record is 9 bytes");
static_assert(sizeof(YOZ_ROMID_ENTRY) == 36, "ROM-ID entry is 36 bytes");

extern TKXRegionList gYOZ_SysRom_RGList, gYOZ_SysRom_BB_RGList, gYOZ_SysRom_MB_RGList, gYOZ_SysRom_NB_RGList,
    gYOZ_SysRom_NBK_RGList, gYOZ_SysRom_EC_RGList, gYOZ_SysRom_OA_RGList, gYOZ_SysRom_FT_RGList,
    gYOZ_SysRom_NCB_RGList;
extern UINT8 YOZ_SysRom_bIsGetBlockInfo;
extern UINT32 gYOZ_SysRom_AllBlockSize;
extern UINT8 gYOZ_SysRom_bECBInRom, gYOZ_SysRom_bOABInRom, YOZ_SysRom_bHaveFT_PHASE;
extern YOZ_NCB_REC YOZ_SysNCBRecList[YOZ_MAX_NCB];
extern UINT32 YOZ_SysNCBCnt;
extern UINT8* YOZ_pSystembuff;
extern UINT8 YOZ_SysRomLoadOK;
extern ENUM_ERR_ID YOZ_SysRom_ErrorID;
extern _ROMHOLEREC YOZ_SysRHRECList[YOZ_MAX_ROMHOLE];
extern UINT8 YOZ_SysRHCnt;
extern _ROMHOLEREC YOZ_SysSLPRHRECList[YOZ_MAX_SLP];
extern UINT8 YOZ_SysSLPCnt;
extern UINT8 YOZ_SysRom_bHaveSLP20;
extern TKXRomHoleList gYOZ_SysRom_DMIGuidList;
extern UINT8 gYOZ_SysRom_bOA31GUIDInFind;
extern YOZ_ROMID_ENTRY RomIDDataList[YOZ_MAX_ROMID];
extern UINT32 gROMIDCnt;
extern UINT8* YOZ_pFIDVer4;
extern UINT32 gYOZ_FidSystemOffset;
extern UINT8* YOZ_pEcbHdr;
extern UINT8 YOZ_SysRom_bECB_Is_Get;
extern UINT8* gYOZ_SysRom_PassWord;
extern UINT32 gYOZ_SysRom_PWFileSize;
extern UINT8 gYOZ_SysRom_PWPassed;  // the password dialogue passed in this run
extern YOZ_ROM_LAYOUT YOZ_SysRomLayout;

// Region accessors (build the lists first).
UINT32 YOZ_SysRom_GetRgNumber();
UINT32 YOZ_SysRom_GetBlockStartAddress(UINT32 i);
UINT32 YOZ_SysRom_GetBlockSize(UINT32 i);
UINT8 YOZ_SysRom_GetBlockType(UINT32 i);
UINT32 YOZ_SysRom_GetBootBlockRgNumber();
UINT32 YOZ_SysRom_GetMainBlockRgNumber();
UINT32 YOZ_SysRom_GetNVRamBlockRgNumber();
UINT32 YOZ_SysRom_GetNVRamBackupBlockRgNumber();
UINT32 YOZ_SysRom_GetOABlockRgNumber();
UINT32 YOZ_SysRom_GetECBlockRgNumber();
UINT32 YOZ_SysRom_GetBootBlockStartAddress(UINT32 i);
UINT32 YOZ_SysRom_GetBootBlockSize(UINT32 i);
UINT16 YOZ_SysRom_GetBBFirstBlockIndex(UINT32 i);
UINT32 YOZ_SysRom_GetMainBlockStartAddress(UINT32 i);
UINT32 YOZ_SysRom_GetMainBlockSize(UINT32 i);
UINT16 YOZ_SysRom_GetMBFirstBlockIndex(UINT32 i);
UINT32 YOZ_SysRom_GetNVRamBlockStartAddress(UINT32 i);
UINT32 YOZ_SysRom_GetNVRamBlockSize(UINT32 i);
UINT16 YOZ_SysRom_GetNVFirstBlockIndex(UINT32 i);
UINT32 YOZ_SysRom_GetNVRamBackupBlockStartAddress(UINT32 i);
UINT32 YOZ_SysRom_GetNVRamBackupBlockSize(UINT32 i);
UINT32 YOZ_SysRom_GetOAKeyStartAddress(UINT32 i);
UINT32 YOZ_SysRom_GetOAKeyBlockSize(UINT32 i);
UINT32 YOZ_SysRom_GetECBlockStartAddress(UINT32 i);
UINT32 YOZ_SysRom_ECBlockSize(UINT32 i);
UINT32 YOZ_SysRom_GetAllSize();
UINT8 YOZ_SysRom_HaveOAKeyBlock();
UINT8 YOZ_SysRom_HaveECBlock();
UINT8 YOZ_SysRom_HaveOA31Guid();
UINT8 YOZ_SysRom_HaveFTBlock();

// Record accessors.
UINT8 YOZ_SysRom_GetRomHoleNumber();
EFI_GUID* YOZ_SysRom_GetRomHoleGuid(UINT32 i);
UINT32 YOZ_SysRom_GetRomHoleFileOffset(UINT32 i);
UINT32 YOZ_SysRom_GetRomHoleRomOffset(UINT32 i);
UINT32 YOZ_SysRom_GetRomHoleSize(UINT32 i);
UINT8 YOZ_SysRom_GetNCBNumber();
UINT8 YOZ_SysRom_GetNCBType(UINT32 i);
UINT32 YOZ_SysRom_GetNCBOffset(UINT32 i);
UINT32 YOZ_SysRom_GetNCBSize(UINT32 i);
UINT32 YOZ_SysRom_GetDMINumber();
UINT32 YOZ_SysRom_GetDMIRomOffset(UINT32 i);
UINT32 YOZ_SysRom_GetDMISize(UINT32 i);
UINT8 YOZ_SysRom_HaveSLP20();
ENUM_ERR_ID YOZ_SysRom_LastError();
UINT8 YOZ_SysRom_CheckOAKeyInRom();

void YOZ_SysRom_Var_Init();
void YOZ_SysRom_Var_Release();
void YOZ_SysRom_GetBlockInfo();
UINT8 YOZ_SysRom_GetFVRang(UINT8 type, UINT32* start, UINT32* size, UINT16* index);
UINT8 YOZ_SysRom_GetShareECBlockInfo(UINT32& start, UINT32& size);
UINT8* YOZ_SysRom_GetBuffer();
ENUM_ERR_ID YOZ_SysRom_LoadMem(UINT8* buffer);
// The copy's bytes [offset, offset + size) as the flash gives them to a
// second read, or where that differs to a third: 0, else 0x42 (0x22 without
// memory). Outside the copy: 0.
ENUM_ERR_ID YOZ_SysRom_CopyAgrees(UINT32 offset, UINT32 size);
ENUM_ERR_ID YOZ_SysRom_GetRomID(UINT8* copy);
// The flash's version-4 "$FID" record; owned by the model for the whole run.
UINT8* YOZ_SysRom_GetVer4Fid(UINT8* copy);
UINT8 YOZ_SysRom_SearchNCB(UINT8* copy);

// The volume walker: hole and SLP records of [start, start + length) of rom
// into records (at most 16); returns the number written.
UINT8 YOZ_SysRom_GetRomHole(UINT8* rom, UINT32 start, UINT32 length, _ROMHOLEREC* records);
// File classifiers over a 24-byte FFS header: record type (1 hole, 2 SLP, 0
// neither); 1 for a DMI file; 1 for an OEM activation 3.1 key file.
UINT32 YOZ_SysRom_FV_FFS_GUIDRang(const UINT8* fileHeader);
UINT8 YOZ_SysRom_FV_FFS_DMIGUID(const UINT8* fileHeader);
UINT8 YOZ_SysRom_FV_FFS_OA31KEYGUID(const UINT8* fileHeader);

// Walker with explicit bounds and targets (both models use it). Writes at most
// `capacity` records, counts every hole and SLP file in found[0] and found[1]
// (when given), appends DMI
// records to dmiList (when given) and sets the OA3.1 flag when `systemWalk`.
// ROM holes and SLP files in the volumes that start in [start, start +
// length) and run past it (the walker above skips them).
UINT32 YOZ_FvWalk_ProtectedPastRange(const UINT8* rom, UINT32 romLimit, UINT32 start, UINT32 length);
UINT32 YOZ_FvWalk_FindProtected(const UINT8* rom, UINT32 romLimit, UINT32 start, UINT32 length,
                                _ROMHOLEREC* records, UINT32 capacity, UINT32* found, TKXRomHoleList* dmiList,
                                UINT8 systemWalk);
void YOZ_FvWalk_ClearDmiList(TKXRomHoleList& list);
// Walks every run of one block type and appends the records found to the
// hole and SLP arrays (16 and 2 written at most; the counts go on).
void YOZ_Holes_WalkRuns(const UINT8* rom, UINT32 limit, UINT8 type, _ROMHOLEREC* holes, UINT32& holeCount,
                        _ROMHOLEREC* slps, UINT32& slpCount, TKXRomHoleList* dmiList, UINT8 systemWalk);

UINT8 YOZ_SysRom_CheckMESupport();
UINT8 YOZ_SysRom_EC_CheckStatus();
UINT8 YOZ_SysRom_EC_ECBIDFlag();
// The "$ECB" search over a mapped E0000h segment of `size` bytes: 1 when
// flashing is allowed (prints the firmware's message otherwise).
UINT8 YOZ_SysRom_EC_ScanSegment(const UINT8* segment, UINT32 size);
void YOZ_SysRom_PassWord(UINT8* data, UINT32 size);
ENUM_ERR_ID YOZ_SysRom_CheckPW();

UINT8 YOZ_SysRom_CheckRomLayoutData(UINT8* copy, UINT32 size);
UINT8* YOZ_SysRom_Get_RomLayout_pFFS_Hander();
UINT8* YOZ_SysRom_Get_RomLayout_pHader();
UINT8* YOZ_SysRom_Get_RomLayout_pRomArea();
UINT8* YOZ_SysRom_Get_RomLayout_pRomAreaData(UINT32* size);
