// Region processors of setup and SMBIOS preservation: SMB_ keeps the
// system's whole SMBIOS data area ("BSA_") in the image, SMBN_ only the
// structures of chosen types, SP_ holds the state of setup preservation.
//
// "BSA_" area, inside a DMI file of a ROM: "BSA_", u32 L, then L bytes of
// SMBIOS structures. The system's area is the one of its last DMI file
// (main-block files before boot-block files); the image's area that takes it
// is chosen among the DMI files in the blocks a run writes. The
// first structure chooses the header form of all: bit 7 of its byte 3 clear,
// 4-byte headers (type at 0, data length at 2); set, 9-byte headers (type at
// 0, u16 data length at 5). An area counts only when its 8 header bytes and
// its L data bytes lie inside the DMI file and the buffer.
#pragma once
#include "HuxCore.h"

#define SMB_AREA_HEADER 8u

#pragma pack(push, 1)
// A saved SMBIOS area.
struct _DMIDATA {
    UINT8* pData;    // the copy: header and data (AllocMem), or null
    UINT8 State;     // SMB_DMI_EMPTY: nothing stored, the restore does nothing
    UINT32 Offset;   // of the area in the system ROM
    UINT32 Size;     // bytes of the copy: L + 8
};
#pragma pack(pop)
static_assert(sizeof(_DMIDATA) == sizeof(void*) + 9, "saved-area record layout");
#define SMB_DMI_EMPTY 0xFF
#define SMB_DMI_STORED 0x01

// What the area search found in a ROM.
enum SMB_AREA_STATE : UINT8 {
    SMB_AREA_NONE,   // no DMI file, or no "BSA_" in it
    SMB_AREA_FOUND,
    SMB_AREA_BAD,    // "BSA_" whose length runs past its file or the buffer
};
// The area of `rom` (the flash copy, or the image with fromImage set; the
// image's DMI files are looked up again over it): its offset and L.
SMB_AREA_STATE SMB_Proc_FindArea(UINT8* rom, UINT8 fromImage, UINT32* offset, UINT32* length);

extern UINT8 gSMBF_ZOKTFlash;   // the firmware has stored its SMBIOS variables
extern UINT8 gSMBF_FlashEnable;
extern UINT8 gSPF_ZOKTFlash;    // the firmware has stored its setup variables
extern UINT8 gSPF_FlashEnable;  // the setup restore has work to do
void SMB_FuncVar_Init();
void SP_FuncVar_Init();

// The image areas a restore may fill: those whose DMI file lies wholly in
// flash blocks of the types in `typeMask` (bit t: block type t, as the block
// table gives them). Of those, the area at the system area's offset is
// taken, else the last one. SMB_ANY_BLOCK (the default) admits every file.
#define SMB_ANY_BLOCK 0xFFFFFFFFu
void SMB_Proc_SetTargetBlocks(UINT32 typeMask);

// 1 when a DMI file of `rom` (the flash copy: its last, whose area counts;
// the image with fromImage set: any) holds an area and lies wholly in flash
// blocks of the types in `typeMask`.
UINT8 SMB_Proc_AreaInBlocks(UINT8* rom, UINT8 fromImage, UINT32 typeMask);

// Empties a record (its copy freed, state SMB_DMI_EMPTY).
void SMB_Proc_FreeDmiData(_DMIDATA* dmi);

// 1 when the system's area (header and data) is saved in the record; 0
// without a record, an area or memory.
UINT8 SMB_Proc_StoreDmiData(UINT8* systemImage, _DMIDATA* dmi);
// 1 when the saved area went over the image's area (see
// SMB_Proc_SetTargetBlocks) from its signature on; 0 with nothing saved, or
// an image area missing or shorter than the saved one (the image is then
// unchanged).
UINT8 SMB_Proc_ReStoreDmiData(UINT8* image, _DMIDATA* dmi);
// 1 when the system's structures of the listed types are saved: the area's
// header, then every structure of each type (each type once, in the order
// first listed), then 0xFF up to L. A type the system lacks is reported
// and adds nothing. The walk ends at the first structure that does not fit
// inside L; when that damage leaves nothing found, the record stays
// SMB_DMI_EMPTY (its copy made all the same): there is nothing to restore.
UINT8 SMBN_Proc_StoreDmiNData(UINT8* systemImage, TKXList<UINT8>& types, _DMIDATA* dmi);
// 1 when the saved structures went over the image's data, its header kept,
// and the rest of the image's L bytes was erased to 0xFF; 0 as
// SMB_Proc_ReStoreDmiData.
UINT8 SMBN_Proc_ReStoreDmiData(UINT8* image, _DMIDATA* dmi);
// 1 when either restore would put the record into the image (nothing is
// written).
UINT8 SMB_Proc_DmiDataFits(UINT8* image, const _DMIDATA* dmi);
