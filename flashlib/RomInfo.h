// The firmware's ROM information (SMI 0x25) and the program's converted copy
// of the flash block table, with the BIOS-information module that reads it.
#pragma once
#include "SmiTransport.h"

// Block types of the entries.
#define BLOCK_TYPE_BOOT 0x00
#define BLOCK_TYPE_MAIN 0x01
#define BLOCK_TYPE_NVRAM 0x02
#define BLOCK_TYPE_EC 0x03
#define BLOCK_TYPE_NVRAM_BACKUP 0x04
#define BLOCK_TYPE_OA 0x4A
#define BLOCK_TYPE_FAULT_TOLERANT 0x7E
#define BLOCK_TYPE_NCB_FIRST 0x80

// Sub-functions (byte 4 of the request) and answer forms (byte 5).
#define ROM_INFO_GET 1
#define ROM_INFO_LAYOUT_CHANGE 2
#define ROM_INFO_SHORT_FORM_MAX 10
#define ROM_INFO_FORM_0C 0x0C
#define ROM_INFO_FORM_0D 0x0D
#define ROM_INFO_FORM_LARGE 0x0E
// Where the layout-change data goes, and how much of it fits.
#define ROM_LAYOUT_DATA_OFFSET 0x19u
#define ROM_LAYOUT_MAX_DATA (INTERFACE_BUFFER_SIZE - ROM_LAYOUT_DATA_OFFSET)
// Offsets in the answer.
#define ROM_INFO_SHORT_ENTRIES 0x08u
#define ROM_INFO_HEAD_SIZE 0x10u
#define ROM_INFO_LARGE_REGIONS 0x1Au

// Error "Get block size error." (no enumerator of its own).
#define eEID_GET_BLOCK_SIZE static_cast<ENUM_ERR_ID>(0x4D)

#pragma pack(push, 1)
// One flash block (or, in the large form's answer, one region).
struct sBlockInfo {
    UINT32 StartAddress;
    UINT32 BlockSize;
    UINT8 Type;
};
// The 16-byte head of the ROM information and of the program's copy, then
// the entries.
struct sROMInfo {
    UINT32 Length;
    UINT8 Status;
    UINT8 Version;      // the answer's form
    UINT16 BlockCount;
    UINT32 EcVersionOffset;
    UINT32 EcVersionMask;
    sBlockInfo Blocks[1];
};
// The large form's answer: whole regions, to be cut into equal blocks.
struct sROMInfoEX {
    UINT32 Length;
    UINT8 Status;
    UINT8 Version;
    UINT16 RegionCount;
    UINT32 EcVersionOffset;
    UINT32 EcVersionMask;
    UINT32 TotalSize;
    UINT32 BlockSize;
    UINT8 Reserved[2];
    sBlockInfo Regions[1];
};
#pragma pack(pop)
static_assert(sizeof(sBlockInfo) == 9, "block entry is 9 bytes");
static_assert(offsetof(sROMInfo, Blocks) == ROM_INFO_HEAD_SIZE, "entries follow the 16-byte head");
static_assert(offsetof(sROMInfoEX, BlockSize) == 0x14 && offsetof(sROMInfoEX, Regions) == ROM_INFO_LARGE_REGIONS,
              "large form layout");

extern sROMInfo* gpFlashInfo;
extern UINT32 gRomSize;
extern UINT32 gFlashBlockSize;
extern UINT8 bOnBoardRomIsLarge;
// 48 bytes of flash part text; the byte after them stays zero.
extern CHAR8 m_FlashChipName[49];
extern UINT8 g_OnBoardROMProjectIDLength;  // 0xFF = unknown
extern UINT8 g_OnBoardRomIsOrvexV;

// Sends the information request; *answer points at the interface buffer.
ENUM_ERR_ID GetFlashInfo(sROMInfo** answer);
// Builds gpFlashInfo from the answer.
ENUM_ERR_ID CopyBiosInfoToAnotherBuffer(sROMInfo* answer);
// Cuts the large form's regions into equal blocks; writes at most total size
// / block size entries.
void RomInfoEx2RomInfo(sROMInfoEX* answer, sBlockInfo* entries);
UINT32 CalculateRomSize();
// Takes the answer of GetFlashInfo (INTERFACE_BUFFER_SIZE bytes): the block
// size, the "$FPS" and "$BPT" records, the copy of the block table and the
// ROM size.
ENUM_ERR_ID TakeFlashInfoAnswer(sROMInfo* answer);
// The "$FPS" and "$BPT" records of the answer.
void GetSystemFlashChipID(UINT8* buffer, UINT32 length);
void GetSystemROMIDLength(UINT8* buffer, UINT32 length);
UINT8 GetRomIsLarge();
// Hands a new ROM layout to the firmware: 0 when it took it, 0x46 when the
// data does not fit the buffer or the firmware's answer is not 0.
ENUM_ERR_ID RomLayoutChangeIfc(UINT8* data, UINT32 length);

// The BIOS-information module (slot 2 of the module table).
ENUM_ERR_ID RegisterInitBiosInfoQueueItem(TKXQueueItemList& items);
void CleanBiosInfo();

// Identity of the running firmware (written by the system ROM model).
extern UINT8 g_FwGuid[16];
extern char g_FwId[9];
