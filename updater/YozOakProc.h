// Region processors of the OEM activation key: OAK_ writes a new key from a
// key file, OAD_ clears the key. The key lives in the version-4 "$FID"
// record (u32 length at +0x43, data at +0x47) or in an OA block of its own.
// Their do-it and compare lists come from the region family (YozRegionProc.h).
#pragma once
#include "YozRegionProc.h"

#define YOZ_FID_KEY_LENGTH 0x43
#define YOZ_FID_KEY_DATA 0x47
// Key area of the delete command and of a system that reads no firmware ID.
#define YOZ_OA_KEY_AREA 0x31

extern UINT32 gOAKF_AllBlockSize;
extern UINT8 gOAKF_FvType;
extern UINT32 gOAKF_FidFileOffset, gOAKF_FidSystemOffset;
extern char gOAKF_BinFilePath[128];
extern UINT8* gOAKF_pBinFile;     // owned by the file hub
extern UINT32 gOAKF_BinFileSize;
extern UINT32 gOADF_AllBlockSize;
extern UINT8 gOADF_FvType;
extern UINT32 gOADF_FidSystemOffset;
extern const YOZ_REGION_PROC YOZ_OAKProc, YOZ_OADProc;

YOZ_REGION_PROC_COMMON_NAMES(OAK)
UINT32 OAK_Proc_MakeTypeDoItList(UINT8* map, char type);
void OAD_FuncVar_Init();
UINT32 OAD_Proc_MakeTypeDoItList(UINT8* map, char type);

// Puts the key file into the system's record and the system's key area over
// the image's; the image's FFS file sum follows the change, or (without the
// checksum attribute) a write-once flash item of the key area is added.
ENUM_ERR_ID OAK_Proc_UpdateOemActKey(UINT8* systemImage, UINT8* fileImage, UINT8* keyFile, UINT32 keyLength);
// What OAK_Proc_UpdateOemActKey would refuse with, changing nothing.
ENUM_ERR_ID OAK_Proc_CheckUpdate(UINT8* systemImage, UINT8* fileImage, UINT8* keyFile, UINT32 keyLength);
// 0 when the key bytes are blank (no key yet), else 0xBF (equal to the key file) or 0xB6.
ENUM_ERR_ID OAK_Proc_CheckOldOAData(UINT8* key, UINT32 length);
// Clears the system's key to 0xFF (and the image's, at its "$FID" offset),
// each FFS file keeping its data sum; without a ROM file under secure flash
// the key area is also added as a write-once flash item.
ENUM_ERR_ID OAD_Proc_UpdateOemActKey(UINT8* systemImage, UINT32 keyLength);
// What OAD_Proc_UpdateOemActKey would refuse with over the "$FID" record
// (0xB5, 0xB8, 0xB7, 0xB3), changing nothing.
ENUM_ERR_ID OAD_Proc_CheckDelete(UINT8* systemImage, UINT32 keyLength);
// 0xB7 when the key bytes are blank, else 0.
ENUM_ERR_ID OAD_Proc_CheckOldOAData(UINT8* key, UINT32 length);
// Adds to the do-it list every block that holds [address, address + size) and
// is not marked yet; returns the bytes added.
UINT32 OAK_MarkBlocksOf(UINT8* map, UINT32 address, UINT32 size);
// 1 when every byte of [address, address + size) lies in a block of the
// flash that the do-it list marks.
UINT8 OAK_BlocksMarked(const UINT8* map, UINT32 address, UINT32 size);
// The bytes that take the key of the version-4 "$FID" record of `image`:
// from the header of the FFS file that holds it (else the record) to the
// key's end; 0 without such a record.
UINT8 OAK_KeySpan(UINT8* image, UINT32* from, UINT32* size);
// Marks, as OAK_MarkBlocksOf does, the blocks of that span.
UINT32 OAK_MarkKeyBlocks(UINT8* map, UINT8* image);
