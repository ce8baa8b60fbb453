// The flash engine: block-map runs over the firmware's block table (erase,
// write and verify of every block marked in the do-it list, with retries),
// reads by block type and of the whole flash, address-form runs over the
// flash-item list, the progress lines of both, and the wait before every
// flash SMI. Every request goes through the flash block requests; the engine
// never raises an SMI itself. Single-threaded global state.
#pragma once
#include "FlashBlock.h"
#include "FlashLibHooks.h"
#include "HuxCore.h"
#include "RomInfo.h"

// Steps of a block-map run (YOZ_FlashStep).
#define YOZ_FLASH_STEP_ERASE 0x01
#define YOZ_FLASH_STEP_WRITE 0x02
#define YOZ_FLASH_STEP_VERIFY 0x04
#define YOZ_FLASH_STEP_ALL 0x07

// Engine state (YOZ_FlashWay).
#define YOZ_FLASH_WAY_IDLE 0
#define YOZ_FLASH_WAY_BLOCK_MAP 1
#define YOZ_FLASH_WAY_ADDRESS 2
#define YOZ_FLASH_WAY_ECX 4

// Message sets of YOZ_SetFlashMsg; sets 0 to 3 equal the block types.
#define YOZ_FLASH_MSG_BOOT 0
#define YOZ_FLASH_MSG_MAIN 1
#define YOZ_FLASH_MSG_NVRAM 2
#define YOZ_FLASH_MSG_EC 3
#define YOZ_FLASH_MSG_NCB 4
#define YOZ_FLASH_MSG_ROMHOLE 5
#define YOZ_FLASH_MSG_ME 6
#define YOZ_FLASH_MSG_ECX 7
#define YOZ_FLASH_MSG_OA 8
#define YOZ_FLASH_MSG_ALL 9
#define YOZ_FLASH_MSG_APLFT 10
#define YOZ_FLASH_MSG_SETS 11
// The "no set" value the engine starts with and the whole-flash read uses.
#define YOZ_FLASH_MSG_NONE 0xFF

#define YOZ_FLASH_MSG_TEXT 80
#define YOZ_MSG_SHOW_BUFF_SIZE 256
// First argument of a progress call that closes or resets the line.
#define YOZ_PROGRESS_CLOSE FLASH_PROGRESS_CLOSE
// Default number of tries per block.
#define YOZ_FLASH_DEFAULT_RETRY 5
// The Linux default of the wait before each flash SMI, in µs.
#define YOZ_SMI_IFC_DELAY_LINUX 100

// One message set: the texts of the erase, update and verify lines.
struct YOZ_FLASH_MSG_SET {
    char Erase[YOZ_FLASH_MSG_TEXT];
    char Update[YOZ_FLASH_MSG_TEXT];
    char Verify[YOZ_FLASH_MSG_TEXT];
};
extern const YOZ_FLASH_MSG_SET YOZ_FlashMsgBox[YOZ_FLASH_MSG_SETS];
extern const char YOZ_FlashReadMsg[YOZ_FLASH_MSG_TEXT];
extern const char YOZ_FlashSaveMsg[YOZ_FLASH_MSG_TEXT];

// One flash range of the address form, zero-filled by its creator and owned
// by the flash-item list once added.
struct _FLASHITEM {
    UINT32 FlashAddr;      // of the item (of its FFS header); also its offset in the image buffer
    UINT32 ItemSize;       // header included
    UINT32 BlockStart;     // block that holds the payload start (write-once check)
    UINT32 BlockSize;
    UINT8 HasFfsHeader;    // the 24-byte FFS header is not flashed
    UINT8 SectionHeader;   // the payload starts 0x1C bytes in rather than 0x18
    UINT8 CafEnabled;      // compare-and-flash applies
    UINT8 CafDiffers;      // the compare found a difference
    UINT8 WriteOnce;       // programmed without a block erase unless it covers whole blocks
    UINT8 BlockAligned;    // the payload starts at a block start
    UINT8 WholeBlocks;     // the payload is a whole multiple of that block's size
    UINT8 TargetBlank;     // the payload range of the checked image is all 0xFF or all 0x00
    UINT8 CafChecked;      // the compare actually ran over the item
};
typedef TKXList<_FLASHITEM*> YOZ_FLASHITEM_LIST;

// Engine state.
extern UINT8* YOZ_pFlashMap;          // do-it list: one byte per block entry, 0 = leave
extern UINT8 YOZ_FlashStep;
extern UINT8 YOZ_FlashReTryCnt;
extern UINT32 YOZ_FlashDelayBlockCnt;
extern UINT32 SMI_IFC_DelayTime;      // last value given to SetSMI_IFC_DelayTime
extern UINT32 FlashIfcDelay;          // µs before each flash SMI
extern UINT8 DelayIsRun;
extern UINT8 YOZ_FlashWay;
extern UINT8 YOZ_FlashFvType;
extern UINT32 YOZ_FlashBlockAllSize;
extern UINT32 YOZ_FlashTotalSize;
extern UINT32 YOZ_FlashAllreadySize;
extern char YOZ_MsgShowBuff[YOZ_MSG_SHOW_BUFF_SIZE];
// Amount of the block-map region done so far, in display units; the save
// progress of the ROM-to-file module adds to it as well.
extern UINT32 doneRegion;
extern YOZ_FLASHITEM_LIST YOZ_FlashItemList;

// Setup and state.
void YOZ_Flash_Var_Init();
void YOZ_SetFlashRetryCnt(UINT8 count);
UINT8 YOZ_GetFlashRetryCnt();
void YOZ_SetFlashDelayBlockCnt(UINT32 count);
UINT32 YOZ_GetFlashDelayBlockCnt();
UINT8 YOZ_GetFlashWay();
void SetSMI_IFC_DelayTime_Linux();
void SetSMI_IFC_DelayTime(UINT32 n);
void SetSMI_IFC_DelayIsRun(UINT8 run);
// The before-operation hook FlashLibBeforeOperation_SMI_IFC_Delay (declared
// with the hook lists) waits FlashIfcDelay µs before every flash SMI when the
// wait applies to the current block.

// Block-map form; the buffer is a whole-ROM image indexed by flash address.
void YOZ_SetFlashMsg(UINT8 set, UINT32 total);
ENUM_ERR_ID YOZ_Flash_Action(UINT8* buffer);
ENUM_ERR_ID YOZ_Flash_Erase(UINT8* buffer);
ENUM_ERR_ID YOZ_Flash_UpData(UINT8* buffer);
ENUM_ERR_ID YOZ_Flash_Verify(UINT8* buffer);
ENUM_ERR_ID YOZ_Flash_TypeFvRead(UINT8* buffer, char type);
ENUM_ERR_ID YOZ_Flash_Read(UINT8* buffer);

// Address form: the piece loops and their single-range wrappers.
ENUM_ERR_ID YOZ_Flash_ReadBlock(UINT32 address, UINT32 size, UINT8* buffer, CallBackFn_T callback);
ENUM_ERR_ID YOZ_Flash_EraseBlock(UINT32 address, UINT32 size, CallBackFn_T callback);
ENUM_ERR_ID YOZ_Flash_WriteBlock(UINT32 address, UINT32 size, UINT8* data, CallBackFn_T callback);
ENUM_ERR_ID YOZ_Flash_VerifyBlock(UINT32 address, UINT32 size, UINT8* data, CallBackFn_T callback);
ENUM_ERR_ID YOZ_Flash_WriteOnce_VerifyBlock(UINT32 address, UINT32 size, UINT8* data, CallBackFn_T callback);
ENUM_ERR_ID YOZ_Flash_EraseAddr(UINT32 address, UINT32 size);
ENUM_ERR_ID YOZ_Flash_UpdateAddr(UINT8* buffer, UINT32 address, UINT32 size);
ENUM_ERR_ID YOZ_Flash_VerifyAddr(UINT8* buffer, UINT32 address, UINT32 size, UINT8 writeOnce);

// Flash-item list.
void YOZ_FlashItemList_Init();
void YOZ_FlashItemList_Release();
void YOZ_FlashItemList_Add(_FLASHITEM* item);
_FLASHITEM* YOZ_FlashItemList_Get(UINT64 index);
UINT8 YOZ_FlashItemList_WriteOnce_Check(UINT8* image);
ENUM_ERR_ID YOZ_FlashItemList_CAF_Check(UINT8* buffer);
ENUM_ERR_ID YOZ_FlashItemList_CalculateSize();
ENUM_ERR_ID YOZ_FlashItemList_Erase();
ENUM_ERR_ID YOZ_FlashItemList_Write(UINT8* buffer);
ENUM_ERR_ID YOZ_FlashItemList_Verify(UINT8* buffer);
// The whole address-form run over `buffer` with the message set and total:
// compare, size, erase, write and verify; the first error ends it. The list
// is emptied afterwards.
ENUM_ERR_ID YOZ_FlashItemList_Run(UINT8* buffer, UINT8 msgSet, UINT32 total);
// Per item; the payload is the part of the item that is flashed.
void YOZ_FlashItem_Payload(const _FLASHITEM* item, UINT32* address, UINT32* size);
void YOZ_FlashItem_WriteOnce_Check(UINT8* image, _FLASHITEM* item);
ENUM_ERR_ID YOZ_FlashItem_CAF_Check(UINT8* buffer, _FLASHITEM* item);
ENUM_ERR_ID YOZ_FlashItem_Erase(_FLASHITEM* item);
ENUM_ERR_ID YOZ_FlashItem_Write(UINT8* buffer, _FLASHITEM* item);
ENUM_ERR_ID YOZ_FlashItem_Verify(UINT8* buffer, _FLASHITEM* item);

// Progress output. The block-map callbacks take (address, any, size) from
// the retrying block requests; the flash-library callbacks take (running
// count, piece address, status) from the address-form loops.
UINT32 YOZ_ProgressUnits(UINT32 value);
void YOZ_PrintProgress(UINT32 a, UINT32 b, UINT32 c);
void YOZ_FlashLib_PrintProgress(UINT32 a, UINT32 b, UINT32 c);
void YOZ_CallBack_Erase(UINT32 a, UINT32 b, UINT32 c);
void YOZ_CallBack_Update(UINT32 a, UINT32 b, UINT32 c);
void YOZ_CallBack_Verify(UINT32 a, UINT32 b, UINT32 c);
void YOZ_CallBack_Save(UINT32 a, UINT32 b, UINT32 c);
void YOZ_CallBack_FlashLib_Read(UINT32 a, UINT32 b, UINT32 c);
void YOZ_CallBack_FlashLib_Erase(UINT32 a, UINT32 b, UINT32 c);
void YOZ_CallBack_FlashLib_Update(UINT32 a, UINT32 b, UINT32 c);
void YOZ_CallBack_FlashLib_Verify(UINT32 a, UINT32 b, UINT32 c);
