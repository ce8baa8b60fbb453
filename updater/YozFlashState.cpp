// Engine state, its setters, and the wait before every flash SMI.
#include "YozFlash.h"
#include "TKXPortIo.h"

UINT8* YOZ_pFlashMap = nullptr;
UINT8 YOZ_FlashStep = YOZ_FLASH_STEP_ALL;
UINT8 YOZ_FlashReTryCnt = YOZ_FLASH_DEFAULT_RETRY;
UINT32 YOZ_FlashDelayBlockCnt = 0;
UINT32 SMI_IFC_DelayTime = 0;
UINT32 FlashIfcDelay = 0;
UINT8 DelayIsRun = 1;
UINT8 YOZ_FlashWay = YOZ_FLASH_WAY_IDLE;
UINT8 YOZ_FlashFvType = YOZ_FLASH_MSG_NONE;
UINT32 YOZ_FlashBlockAllSize = 0;
UINT32 YOZ_FlashTotalSize = 0;
UINT32 YOZ_FlashAllreadySize = 0;
char YOZ_MsgShowBuff[YOZ_MSG_SHOW_BUFF_SIZE];

// Resets the engine. The do-it list belongs to the caller and is only
// forgotten; the flash items belong to the list and are freed.
void YOZ_Flash_Var_Init() {
    YOZ_pFlashMap = nullptr;
    YOZ_FlashStep = YOZ_FLASH_STEP_ALL;
    YOZ_FlashReTryCnt = YOZ_FLASH_DEFAULT_RETRY;
    YOZ_FlashDelayBlockCnt = 0;
    DelayIsRun = 1;
    YOZ_FlashWay = YOZ_FLASH_WAY_IDLE;
    YOZ_FlashFvType = YOZ_FLASH_MSG_NONE;
    YOZ_FlashBlockAllSize = 0;
    YOZ_FlashTotalSize = 0;
    YOZ_FlashAllreadySize = 0;
    doneRegion = 0;
    YOZ_MsgShowBuff[0] = '\0';
    YOZ_FlashItemList_Release();
}

// A block always gets at least one try.
void YOZ_SetFlashRetryCnt(UINT8 count) { YOZ_FlashReTryCnt = count == 0 ? 1 : count; }
UINT8 YOZ_GetFlashRetryCnt() { return YOZ_FlashReTryCnt; }
void YOZ_SetFlashDelayBlockCnt(UINT32 count) { YOZ_FlashDelayBlockCnt = count; }
UINT32 YOZ_GetFlashDelayBlockCnt() { return YOZ_FlashDelayBlockCnt; }
UINT8 YOZ_GetFlashWay() { return YOZ_FlashWay; }

void SetSMI_IFC_DelayTime_Linux() { FlashIfcDelay = YOZ_SMI_IFC_DELAY_LINUX; }

// The option gives the delay in units of 10 µs.
void SetSMI_IFC_DelayTime(UINT32 n) {
    SMI_IFC_DelayTime = n;
    WriteOut(" SMI Delay Time : %d\n", static_cast<int>(n));
    FlashIfcDelay = n * 10;
    WriteOut(" For Platform SMI Delay Time : %d\n", static_cast<int>(FlashIfcDelay));
}

void SetSMI_IFC_DelayIsRun(UINT8 run) { DelayIsRun = run; }

ENUM_ERR_ID FlashLibBeforeOperation_SMI_IFC_Delay(UINT32, UINT32, UINT32, void*, CallBackFn_T) {
    if (FlashIfcDelay != 0 && DelayIsRun != 0) Delay(FlashIfcDelay);
    return eEID_NO_ERROR;
}
