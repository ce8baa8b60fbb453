// The ROM image model: the image file (or the embedded image) in memory and
// what is found in it: volume checksums, firmware ID, protected files, ME
// volume, capsule headers, EC image header and layout data.
#pragma once
#include "HuxCore.h"
#include "YozRomRecords.h"

// Image state.
extern char* YOZ_pFileName;
extern UINT8 YOZ_bHaveFileName;
extern UINT8* YOZ_pOpenFileBuff;
extern UINT32 YOZ_OpenFileSize;
extern UINT8 YOZ_OpenFileOK;
extern UINT8 YOZ_bZOZLoadFileOK;
extern UINT32 YOZ_FidFileOffset;
extern UINT32 YOZ_ImageFidCheckSumOffset;
extern UINT8* YOZ_pFileFIDVer4;
extern UINT32 YOZ_RomFile_PIVersion;
extern UINT8 YOZ_CheckOEMRomIDFlag;
extern UINT8 YOZ_CheckRomIDNFlag;
extern UINT8 YOZ_CheckRomIDCount;
extern UINT8 YOZ_RomFile_ME_FV_Exist;
extern UINT32 YOZ_RomFile_ME_FV_StAddr;
extern UINT32 YOZ_RomFile_ME_FV_Size;
extern _ROMHOLEREC YOZ_RomFileRHRECList[YOZ_MAX_ROMHOLE];
extern UINT8 YOZ_FileRHCnt;
extern _ROMHOLEREC YOZ_RomFileSLPRHRECList[YOZ_MAX_SLP];
extern UINT8 YOZ_RomFileSLPCnt;
extern UINT8 YOZ_RomFile_bHaveSLP20;
extern UINT8 YOZ_FileNCBCnt;
extern TKXRomHoleList gYOZ_RomFile_DMIGuidList;
extern UINT8* YOZ_pReSourceBuff;
extern UINT32 YOZ_ReSourceSize;   // bytes of YOZ_pReSourceBuff
extern YOZ_ROM_LAYOUT YOZ_RomFileLayout;

void YOZ_RomFile_Init();
UINT8 YOZ_RomFile_Var_Release();
// 1 when the word names an existing file that is no directory, or is
// "UCPIMG" (the image embedded in the program).
UINT8 YOZ_RomFile_IsFileWord(const char* name);
void YOZ_RomFile_SetFileEnable(char* name);
UINT8 YOZ_RomFile_GetFileEnable();
UINT8 YOZ_RomFile_IsLoad();
ENUM_ERR_ID YOZ_RomFile_LoadToBuff();
UINT8* YOZ_RomFile_GetBuffer();
UINT32 YOZ_RomFile_Size();

// Volume and file checksums: 1 when every checksum holds.
UINT8 YOZ_RomFile_CheckSum(UINT8* image, UINT32 size);
// The header offset of the FFS file that holds [at, at + n) in its data,
// found by walking the volume that holds those bytes (whatever the state of
// other volumes, and without looking at sums); 0 when no file does.
UINT32 YOZ_RomFile_FileHolding(const UINT8* image, UINT32 limit, UINT32 at, UINT32 n);
// Puts n bytes at `at` of a buffer of `limit` bytes, inside the FFS file
// whose header is at `header`: when they lie in the file's data and the
// file carries a data checksum (attribute 0x40), its checksum byte moves by
// the change of their sum (and a revision-1 volume's file tail follows it),
// so the file stays valid. 0 when the bytes do not lie in the buffer
// (nothing written).
UINT8 YOZ_RomFile_PutFileData(UINT8* image, UINT32 limit, UINT32 header, UINT32 at, const UINT8* data, UINT32 n);

void YOZ_RomFile_SetCheckRomID(UINT8 on);
void YOZ_RomFile_SetCheckRomIDCount(UINT8 fixed, UINT8 count);
ENUM_ERR_ID YOZ_RomFile_CheckRomID(UINT8* image, UINT32 size);
ENUM_ERR_ID YOZ_RomFile_ZOKT_CheckRomID(UINT8* image);
UINT32 YOZ_RomFile_FindImageFidOffset(UINT8* image);
UINT8* YOZ_RomFile_GetVer4Fid(UINT8* image);
UINT32 YOZ_RomFile_GetCheckSumOffset();
UINT8 YOZ_RomFile_CheckOAKey();

// Protected files of the image, walked over the system's main and boot-block runs.
UINT8 YOZ_RomFile_SearchNCB(UINT8* image);
UINT8 YOZ_RomFile_GetRomHoleNumber();
UINT8 YOZ_RomFile_GetNCBNumber();
UINT8 YOZ_RomFile_HaveSLP20();
UINT8 YOZ_RomFile_GetFVRang(UINT8 type, UINT32* start, UINT32* size, UINT16* index);
UINT8 YOZ_RomFile_GetRomHole(UINT8* rom, UINT32 start, UINT32 length, _ROMHOLEREC* records);
UINT32 YOZ_RomFile_FV_FFS_GUIDRang(const UINT8* fileHeader);
UINT32 YOZ_RomFile_GetDMINumber();
UINT32 YOZ_RomFile_GetDMIRomOffset(UINT32 index);
UINT32 YOZ_RomFile_GetDMISize(UINT32 index);

// ME volume.
UINT8 YOZ_RomFile_CheckME_FV(UINT8* image, UINT32 size);
UINT8 YOZ_RomFile_GetME_FV_BIOSAddrSeting(UINT8** image, UINT32* size, UINT8** me, UINT32* meSize);
UINT8 YOZ_RomFile_CheckMEData(UINT8* file, UINT32 size);
UINT8 YOZ_RomFile_GetNewBiosInfo(UINT8** bios, UINT32& size);
UINT8 YOZ_RomFile_CheckMEIsSingleBin();

// Capsule headers.
// 1 when the image of `size` bytes begins with the capsule header GUID.
UINT8 YOZ_RomFile_CheckCapHeader(UINT8* image, UINT32 size);
UINT8 YOZ_RomFile_GetNoSecureHeadRom(UINT8** image, UINT32* size);
UINT8 YOZ_RomFile_CheckNewCAPGUID(UINT8* image, UINT32 size);
UINT8 YOZ_RomFile_ResetCAPFileHead(UINT8** image, UINT32* size);

// EC image.
UINT8 YOZ_RomFile_CheckECBuffer(UINT8* ec, UINT32 size, ZOKT_EC_HDR_STRUCT* out, UINT8* found);
UINT8 YOZ_RomFile_EC_CalRomCheckSum(UINT8* ec, UINT32 size, UINT16 expected, UINT32 checksumOffset, UINT8 flag);

// Layout data.
UINT8 YOZ_RomFile_CheckRomLayoutData(UINT8* image, UINT32 size);
UINT8* YOZ_RomFile_Get_RomLayout_pFFS_Hander();
UINT8* YOZ_RomFile_Get_RomLayout_pHader();
UINT8* YOZ_RomFile_Get_RomLayout_pRomArea();
// Hands the copied area data to the caller, who frees it (FreeMem); null
// unless copied or already handed over.
UINT8* YOZ_RomFile_Get_RomLayout_pRomAreaData(UINT32* size);

// Shared by both models: finds the layout file in a buffer and fills `layout`.
UINT8 YOZ_RomLayout_Find(UINT8* image, UINT32 size, YOZ_ROM_LAYOUT* layout);
void YOZ_RomLayout_Clear(YOZ_ROM_LAYOUT* layout);
UINT8* YOZ_RomLayout_TakeAreaData(YOZ_ROM_LAYOUT* layout, UINT32* size);
