// Region processors of the main block and the two boot-block variants: the
// data side of a region command. Each builds the buffer to flash and the
// do-it list, and keeps what must survive an update (the system's ROM
// holes, SLP data and OEM activation key). One family implementation serves
// every variant; a small descriptor says where they differ, and the MB_,
// BB_, BB2_ (and NVR_, NBF_, NBN_, YozNcbProc.h) names are thin entry
// points into it.
#pragma once
#include "HuxCore.h"
#include "RomInfo.h"
#include "YozRomRecords.h"

// What sets one processor apart from the others of the family.
struct YOZ_REGION_PROC {
    UINT32* AllBlockSize;  // total of the marked blocks
    UINT8* FlashEnable;    // armed by the open module
    UINT8* FvType;         // type of the last type list
    UINT8 CafAllocCheck;   // a copy that cannot be allocated ends the compare with 0xFFFFFFFF
    UINT8 CafFirstLast;    // a differing first block of the type forces the last one too
    UINT8 MergeFileHoles;  // strict merge of the hole commands: pairs by index, every image hole
};
#define YOZ_CAF_ALLOC_FAILED 0xFFFFFFFFu

extern const YOZ_REGION_PROC YOZ_MBProc, YOZ_BBProc, YOZ_BB2Proc;

// The family.
void RP_FuncVar_Init(const YOZ_REGION_PROC* p);
UINT32 RP_MakeTypeDoItList(const YOZ_REGION_PROC* p, UINT8* map, char type);
void RP_GetFirstLastBlockNum(char type, UINT16& first, UINT16& last);
UINT8 RP_CheckFlashAddr(const sBlockInfo* block, const _ROMHOLEREC* hole);
UINT32 RP_MakeCAFDoItList(const YOZ_REGION_PROC* p, UINT8* buffer, UINT8* map, UINT32 total);
UINT8 RP_RomFileData2SysBuff(UINT8* destination, UINT8* source, UINT8 type);
UINT8 RP_MergeRHList(const YOZ_REGION_PROC* p, _ROMHOLEREC* system, _ROMHOLEREC* file);
UINT8 RP_FileLoadOldRHToFlashBuff(const YOZ_REGION_PROC* p, UINT8* destination, UINT8* source, UINT32 size,
                                  _ROMHOLEREC* system);
UINT8 RP_CheckSLPDataisNull(UINT8* image);
UINT8 RP_Preserve_SLPData(UINT8* destination, UINT8* source);
UINT8 RP_UpdateOemActKey(UINT8* systemImage, UINT8* fileImage);

// 1 when system hole i is replaced by the image's in this run ("/L", or
// "/L" with its number): no region flash keeps it.
UINT8 RP_HoleReplaced(UINT32 i);

// Pairing of the system's protected files with the image's, by GUID.
#define RP_PAIR_NONE (-1)
#define RP_PAIR_SEVERAL (-2)
// The index of the one record among the first n with the GUID (records of
// size 0 are empty places); RP_PAIR_NONE or RP_PAIR_SEVERAL.
INT32 RP_PairOf(const EFI_GUID& guid, const _ROMHOLEREC* list, UINT32 n);
// 1 when an SLP record of `image` holds no key data (all 0xFF or all 0x00
// after its headers, or no room for any).
UINT8 RP_SlpKeyBlank(const UINT8* image, const _ROMHOLEREC& record);
// Before any erase of the blocks of `type`: every system ROM hole and SLP
// file with key data that lies in them (or whose image file does) must find
// the image's file of its GUID, once, of its size, and both in those
// blocks. 0xBB when the image lacks such a hole, or when a volume that
// starts in those blocks runs past them and holds protected files (it is
// not walked); 0x14 when a file cannot be carried; holes are not checked under a changed layout, SLP files not when
// their keeping is switched off.
ENUM_ERR_ID RP_CheckCarryOver(UINT8 type);
// The same check over the blocks a do-it list marks (one byte per block of
// the flash), for a flash that writes other blocks than one type's.
ENUM_ERR_ID RP_CheckCarryOverMarked(const UINT8* map);
// Carries the system's data into `work` (a ROM-size buffer holding the
// image, `size` bytes of it): each SLP file with key data and each paired
// ROM hole of `system`, at the image's place of its GUID (holes not under a
// changed layout, SLP files not when their keeping is switched off). The
// carry check above has stopped the run where something would be lost.
void RP_CarrySystemData(const YOZ_REGION_PROC* p, UINT8* work, UINT8* system, UINT32 size);
// Before any erase of the blocks of `type`: a system without an OA block
// keeps its OEM activation key in its version-4 "$FID" record; when those
// blocks hold a key, or an image record there will count after the run (the
// boot block's, the system's lying elsewhere), the image's version-4 record
// must have room for it and lie in blocks the run writes, else 0xB8. Not once the operator has given the key
// up at the OA-key warning.
ENUM_ERR_ID RP_CheckOAKeyCarry(UINT8 type);
// 1 when the run writes the blocks of `type` from the image: the region
// being flashed (`region`), those of the region options given and, under
// secure flash, those that hold the holes "/L" or "/L" with numbers write.
UINT8 RP_RunWritesType(UINT8 type, UINT8 region);
// Bytes of [offset, offset + size) that lie in blocks of the type.
UINT64 RP_BytesInType(UINT32 offset, UINT32 size, UINT8 type);
// Before a flash of the region of the type (with the other regions the run's
// options name): 0x99 when every "$FID" record of the flash lies in blocks
// the run writes and the image holds none in them.
ENUM_ERR_ID RP_CheckFirmwareIdKept(UINT8 type);

// The operations every processor of the family carries.
#define YOZ_REGION_PROC_COMMON_NAMES(P)                                                              \
    void P##_FuncVar_Init();                                                                          \
    void P##_Proc_GetFirstLastBlockNum(char type, UINT16& first, UINT16& last);                       \
    UINT8 P##_Proc_CheckFlashAddr(sBlockInfo* block, _ROMHOLEREC* hole);                              \
    UINT32 P##_Proc_MakeCAFDoItList(UINT8* buffer, UINT8* map, UINT32 total);

// The per-variant names of the main and boot-block processors.
#define YOZ_REGION_PROC_NAMES(P)                                                                     \
    extern UINT32 g##P##F_AllBlockSize;                                                               \
    extern UINT8 g##P##F_FlashEnable;                                                                 \
    extern UINT8 g##P##F_FvType;                                                                      \
    YOZ_REGION_PROC_COMMON_NAMES(P)                                                                   \
    UINT32 P##_Proc_MakeTypeDoItList(UINT8* map, char type);                                          \
    UINT8 P##_Proc_RomFileData2SysBuff(UINT8* destination, UINT8* source, UINT8 type);                \
    UINT8 P##_Proc_MergeRHList(_ROMHOLEREC* system, _ROMHOLEREC* file);                               \
    UINT8 P##_Proc_FileLoadOldRHToFlashBuff(UINT8* destination, UINT8* source, UINT32 size,           \
                                            _ROMHOLEREC* system);                                     \
    UINT8 P##_Proc_CheckSLPDataisNull(UINT8* image);                                                  \
    UINT8 P##_Proc_Preserve_SLPData(UINT8* destination, UINT8* source);                               \
    UINT8 P##_Proc_UpdateOemActKey(UINT8* systemImage, UINT8* fileImage);
YOZ_REGION_PROC_NAMES(MB)
YOZ_REGION_PROC_NAMES(BB)
YOZ_REGION_PROC_NAMES(BB2)

// Entry-point bodies of the common operations but the initialiser, which
// some processors extend; expanded once per variant (in its own source file).
#define YOZ_REGION_PROC_COMMON_DEFINE(P, Desc)                                                        \
    void P##_Proc_GetFirstLastBlockNum(char type, UINT16& first, UINT16& last) {                      \
        RP_GetFirstLastBlockNum(type, first, last);                                                   \
    }                                                                                                 \
    UINT8 P##_Proc_CheckFlashAddr(sBlockInfo* block, _ROMHOLEREC* hole) { return RP_CheckFlashAddr(block, hole); } \
    UINT32 P##_Proc_MakeCAFDoItList(UINT8* buffer, UINT8* map, UINT32 total) {                        \
        return RP_MakeCAFDoItList(&Desc, buffer, map, total);                                         \
    }

// Entry-point bodies of the main and boot-block processors.
#define YOZ_REGION_PROC_DEFINE(P, Desc)                                                               \
    void P##_FuncVar_Init() { RP_FuncVar_Init(&Desc); }                                               \
    YOZ_REGION_PROC_COMMON_DEFINE(P, Desc)                                                            \
    UINT32 P##_Proc_MakeTypeDoItList(UINT8* map, char type) { return RP_MakeTypeDoItList(&Desc, map, type); } \
    UINT8 P##_Proc_RomFileData2SysBuff(UINT8* destination, UINT8* source, UINT8 type) {               \
        return RP_RomFileData2SysBuff(destination, source, type);                                     \
    }                                                                                                 \
    UINT8 P##_Proc_MergeRHList(_ROMHOLEREC* system, _ROMHOLEREC* file) {                              \
        return RP_MergeRHList(&Desc, system, file);                                                   \
    }                                                                                                 \
    UINT8 P##_Proc_FileLoadOldRHToFlashBuff(UINT8* destination, UINT8* source, UINT32 size,           \
                                            _ROMHOLEREC* system) {                                    \
        return RP_FileLoadOldRHToFlashBuff(&Desc, destination, source, size, system);                 \
    }                                                                                                 \
    UINT8 P##_Proc_CheckSLPDataisNull(UINT8* image) { return RP_CheckSLPDataisNull(image); }          \
    UINT8 P##_Proc_Preserve_SLPData(UINT8* destination, UINT8* source) {                              \
        return RP_Preserve_SLPData(destination, source);                                              \
    }                                                                                                 \
    UINT8 P##_Proc_UpdateOemActKey(UINT8* systemImage, UINT8* fileImage) {                            \
        return RP_UpdateOemActKey(systemImage, fileImage);                                            \
    }
