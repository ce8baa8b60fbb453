// The copy of the whole flash, read once per run.
#include <cstring>
#include "FlashBlock.h"
#include "RomInfo.h"
#include "TKXPhysMem.h"
#include "YozFlashRead.h"
#include "YozRomRecords.h"
#include "YozSysRom.h"

#define FLASH_MSG_READ 255

ENUM_ERR_ID YOZ_SysRom_LoadMem(UINT8* buffer) {
    YOZ_SetFlashMsg(FLASH_MSG_READ, YOZ_SysRom_GetAllSize());
    ENUM_ERR_ID status = YOZ_Flash_Read(buffer);
    if (status == eEID_NO_ERROR) YOZ_SysRom_GetRomID(buffer);
    return status;
}

UINT8* YOZ_SysRom_GetBuffer() {
    if (YOZ_pSystembuff == nullptr) {
        YOZ_pSystembuff = AllocMem(gRomSize);
        if (YOZ_pSystembuff == nullptr) {
            YOZ_SysRom_ErrorID = eEID_MEM_ALLOC;
            return nullptr;
        }
    }
    if (!YOZ_SysRomLoadOK) {
        YOZ_SysRom_ErrorID = YOZ_SysRom_LoadMem(YOZ_pSystembuff);
        if (YOZ_SysRom_ErrorID == eEID_NO_ERROR) YOZ_SysRomLoadOK = 1;
    }
    return YOZ_pSystembuff;
}

static const UINT32 kReadPiece = 0x10000;

// A piece of the copy as a second read, or where that differs a third, has
// it: a read that answered done with other bytes would carry them into the
// image as the machine's data, into a saved file, or hide a file of it.
static bool PieceAgrees(UINT32 offset, UINT32 size, UINT8* scratch) {
    for (int read = 0; read < 2; ++read) {
        if (FLASH_ReadBlockEx(offset, size, scratch, nullptr) != eEID_NO_ERROR) return false;
        if (memcmp(scratch, YOZ_pSystembuff + offset, size) == 0) return true;
    }
    return false;
}

ENUM_ERR_ID YOZ_SysRom_CopyAgrees(UINT32 offset, UINT32 size) {
    if (YOZ_pSystembuff == nullptr || size == 0 || !YOZ_RangeInside(offset, size, gRomSize)) return eEID_NO_ERROR;
    UINT8* scratch = AllocMem(size < kReadPiece ? size : kReadPiece);
    if (scratch == nullptr) return eEID_MEM_ALLOC;
    ENUM_ERR_ID status = eEID_NO_ERROR;
    for (UINT32 done = 0; done < size && status == eEID_NO_ERROR;) {
        UINT32 piece = size - done < kReadPiece ? size - done : kReadPiece;
        if (!PieceAgrees(offset + done, piece, scratch)) status = eEID_READ_FLASH;
        done += piece;
    }
    FreeMem(scratch);
    return status;
}
