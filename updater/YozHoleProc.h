// Region processors of the ROM-hole commands: every hole of the image
// ("/L", RHF_), holes chosen by number ("/L" with a number, RHN_), one hole
// named by GUID from a hole file ("/HOLE:", RH_) and one hole saved to a file
// ("/HOLEOUT:", RHO_). A hole is rewritten while every other byte of the
// flash stays: its blocks are marked 1 in the do-it list (whole blocks are
// erased, written and verified from the system ROM copy), or it goes through
// the flash-item list as a write-once item. One implementation (RHP_) serves
// the four prefixes.
#pragma once
#include <cstdio>
#include "YozFvLayout.h"
#include "YozRegionProc.h"

#define YOZ_SLP_KEY_DATA 0x1C  // SLP key after the FFS and section headers
#define YOZ_ERR_NOT_WRITE_ONCE static_cast<ENUM_ERR_ID>(0x4A)  // platform data not blank, not block aligned
#define YOZ_ERR_SLP_NOT_BLANK static_cast<ENUM_ERR_ID>(0x4B)   // SLP key area already holds a key

// All holes.
extern UINT32 gRHFF_AllBlockSize;
extern UINT8 gRHFF_FlashEnable, gRHFF_FV_BootEnable, gRHFF_FV_MainEnable;
// Holes by number.
extern UINT32 gRHNF_AllBlockSize;
extern UINT8 gRHN_FlashEnable, gRHN_UseBinFile, gRHN_FV_BootEnable, gRHN_FV_MainEnable;
extern UINT8 gRHN_InputLnList[YOZ_MAX_ROMHOLE];  // entry n = 1: hole n chosen
extern UINT8 gRHN_LnNum;
// One hole.
extern UINT32 gRHF_AllBlockSize;
extern _ROMHOLEREC gRHF_RHRECList[YOZ_MAX_ROMHOLE];
extern UINT8 gRHF_Count, gRHF_RomHole_TheSame;
// Hole to file.
extern UINT8 gRHOF_RomHole_TheSame;

extern const YOZ_REGION_PROC YOZ_RHFProc, YOZ_RHNProc, YOZ_RHProc;

// ---- The shared implementation ----
// Secure form of the merge: 0 (nothing to merge, or merged) or 0xBB.
ENUM_ERR_ID RHP_SecureMergeRHList(_ROMHOLEREC* system, _ROMHOLEREC* file, UINT8 layoutGuard);
// One write-once flash item over a whole hole (its FFS header is not
// flashed); false without memory.
bool RHP_AddHoleItem(const _ROMHOLEREC& hole);
// 1 when the region (boot block or main block) that holds `offset` is
// flashed from the image in this run ("/B", the second boot block, "/P").
UINT8 RHP_RegionWritten(UINT32 offset);
// Without secure flash: pairs each system hole (the chosen ones, when
// given) with the image's hole of its GUID and sets write[i] (16 flags)
// for those the hole stage writes at the system's place, with the image's
// data (FileOffset: where the image has it). A hole of a region flashed from
// the image in this run is left to that flash. 0xBC when the system or the
// image holds the GUID twice; a hole the image lacks gives 0x0B when chosen,
// else 0x14, as one of another size does.
ENUM_ERR_ID RHP_PairHoles(_ROMHOLEREC* system, const _ROMHOLEREC* file, const UINT8* chosen, UINT8* write);
// The holes whose write flag is set into the system ROM copy at their
// place, from the image at FileOffset, one write-once flash item each.
ENUM_ERR_ID RHP_FileRHToFlashBuff(UINT8* destination, UINT8* source, UINT32 size, _ROMHOLEREC* system,
                                  const UINT8* write);
// Marks (1) the blocks that overlap holes [0, count) of `holes` (chosen ones
// only, when given); a chosen hole whose record in `sizes` is empty gives 0.
// Returns the size of the marked blocks.
UINT32 RHP_MakeDoItList(UINT8* map, const _ROMHOLEREC* holes, UINT32 count, const UINT8* chosen,
                        const _ROMHOLEREC* sizes, UINT8* bootEnable, UINT8* mainEnable);
// The record with the GUID among the first n (records of size 0 are empty
// places, never a match); null when none, or when a second one has it too
// (then *twice = 1, when a flag is given).
_ROMHOLEREC* RHP_FindHole(const EFI_GUID* guid, _ROMHOLEREC* list, UINT32 n, UINT8* twice);
// Bytes after the record's headers (FFS header, plus the section header of
// an SLP key); false when the record does not lie in the ROM or is too short.
bool RHP_PayloadRoom(const _ROMHOLEREC* record, UINT32 headers, UINT32* room);
// A hole file's data for the payload of the hole `record` (not an SLP file)
// of the system copy, taken as write-once data: 0x4A unless the payload is
// blank or whole blocks, or when the hole's file keeps a data checksum that
// the data would change under secure flash (the write-once item writes the
// payload alone) or that a tail repeats; else 0.
ENUM_ERR_ID RHP_CheckHoleData(UINT8* system, const UINT8* file, UINT32 fileSize, const _ROMHOLEREC& record);
// The data into the payload (after RHP_CheckHoleData); a file that keeps a
// data checksum has its checksum rewritten with it.
void RHP_PutHoleData(UINT8* system, const UINT8* file, UINT32 fileSize, const _ROMHOLEREC& record);
UINT8 RHP_IsSlpGuid(const EFI_GUID* guid);

// ---- Entry points ----
void RHF_FuncVar_Init();
UINT8 RHF_Proc_MergeRHList(_ROMHOLEREC* system, _ROMHOLEREC* file);
ENUM_ERR_ID RHF_Proc_SecureMergeRHList(_ROMHOLEREC* system, _ROMHOLEREC* file);
ENUM_ERR_ID RHF_Proc_FileRHToFlashBuff(UINT8* destination, UINT8* source, UINT32 size, _ROMHOLEREC* system);
UINT32 RHF_Proc_MakeDoItList(UINT8* map);
UINT32 RHF_Proc_MakeCAFDoItList(UINT8* buffer, UINT8* map, UINT32 total);
UINT8 RHF_Proc_CheckFlashAddr(sBlockInfo* block, _ROMHOLEREC* hole);

void RHN_FuncVar_Init();
UINT8 RHN_Proc_MergeRHList(_ROMHOLEREC* system, _ROMHOLEREC* file);
ENUM_ERR_ID RHN_Proc_SecureMergeRHList(_ROMHOLEREC* system, _ROMHOLEREC* file);
ENUM_ERR_ID RHN_Proc_FileRHToFlashBuff(UINT8* destination, UINT8* source, UINT32 size, _ROMHOLEREC* system,
                                       UINT8* chosen);
ENUM_ERR_ID RHN_Proc_SingleFileToFlashBuff(UINT8* destination, UINT8* file, UINT32 fileSize, _ROMHOLEREC* system,
                                           UINT8* chosen);
UINT32 RHN_Proc_MakeDoItList(UINT8* map, UINT8* chosen);
UINT32 RHN_Proc_MakeDoItList2(UINT8* map, UINT8* chosen);
UINT32 RHN_Proc_MakeCAFDoItList(UINT8* buffer, UINT8* map, UINT32 total);
UINT8 RHN_Proc_CheckFlashAddr(sBlockInfo* block, _ROMHOLEREC* hole);
// The firmware's choice (Ln selection entry: bits XOR mask) into the 16
// flags; 1 when anything is chosen.
UINT8 RHNF_BitDataToLnValue(UINT8* flags);

void RH_FuncVar_Init();
ENUM_ERR_ID RH_Proc_FileRHToFlashBuff(UINT8* destination, UINT8* file, UINT32 fileSize, _ROMHOLEREC* record);
UINT32 RH_Proc_MakeDoItList(UINT8* map, _ROMHOLEREC* record);
UINT32 RH_Proc_MakeCAFDoItList(UINT8* buffer, UINT8* map, UINT32 total);
UINT8 RH_Proc_CheckFlashAddr(sBlockInfo* block, _ROMHOLEREC* hole);
_ROMHOLEREC* RH_Proc_CompRHREC(EFI_GUID* guid, _ROMHOLEREC* list);
_ROMHOLEREC* RH_Proc_CompOtherRHREC(EFI_GUID* guid, _ROMHOLEREC* list, int n);
UINT8 RH_Proc_CheckSLPDataisNull(UINT8* image, UINT32 offset, UINT32 size);
UINT8 RH_Proc_ChangSLPKey(UINT8* destination, UINT8* file, UINT32 fileSize, _ROMHOLEREC* record);

_ROMHOLEREC* RHO_Proc_CompRHREC(EFI_GUID* guid, _ROMHOLEREC* list);
_ROMHOLEREC* RHO_Proc_CompOtherRHREC(EFI_GUID* guid, _ROMHOLEREC* list, int n);
ENUM_ERR_ID RHO_Proc_RomHoleWriteToFile(FILE* file, UINT8* image, _ROMHOLEREC* record);
