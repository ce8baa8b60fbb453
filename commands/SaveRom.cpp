// "/O": reads the whole flash, block by block, into a file.
#include <cstdio>
#include <cstdlib>
#include "FlashBlock.h"
#include "InfoCommands.h"
#include "RomInfo.h"
#include "TKXFile.h"
#include "TKXString.h"
#include "YozFlash.h"
#include "YozOptionStore.h"
#include "YozRegionStages.h"
#include "YozSwitchMode.h"
#include "YozZozRecords.h"

static TKX_QUEUE_ITEM SaveRomToFileQueueItem;
static char* RomFileName;
static const UINT32 kReadTries = 5;

// Progress of one block read: the running address count, "done" when the
// whole ROM has been read. A failed chunk is repeated, as the engine does.
void SaveRomCallBack(UINT32 total, UINT32 done, UINT32 status) {
    static UINT32 doneRegion = 0;
    WriteOut(" Reading flash ............... ");
    if (done == total) doneRegion += total;
    if (doneRegion != gRomSize) {
        // 64-bit product: done * 100 would overflow 32 bits above 42 MB.
        UINT32 percent = gRomSize == 0 ? 0 : static_cast<UINT32>(doneRegion * 100ull / gRomSize);
        WriteOut("0x%08lX (%d%%) \r", static_cast<unsigned long>(doneRegion), static_cast<int>(percent));
    } else {
        WriteOut("done                \n");
    }
    if (status != 0) {
        for (UINT32 i = 0; i < YOZ_GetFlashRetryCnt(); ++i) {
            if (FLASH_RetryLastAction(nullptr) == eEID_NO_ERROR) break;
        }
    }
}

static ENUM_ERR_ID SaveRomParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    self->Enabled = 0;
    if (!YOZ_ModeTakesPart(self->ModeMask)) return eEID_NO_ERROR;
    for (unsigned long i = 1; i < args.size(); ++i) {
        if (IdentifyArg(args[i]->text, "/O", 1) != 1) continue;
        // Word 1 names the output file: the option itself in its place
        // ("/O out.bin") would make "/O" the file name, the embedded
        // image's name "UCPIMG".
        if (!YOZ_OperatorFileWord(args, i)) return eEID_COMMAND_LINE;
        self->Enabled = 1;
        for (unsigned long k = 1; k < args.size(); ++k) args[k]->claimed = 1;
        RomFileName = args[1]->text;
        ++YOZ_CommandNum;
    }
    YOZ_SetOCmdIsEnable(&self->Enabled);
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID SaveBlocks(FILE* out) {
    UINT32 offset = 0;
    for (UINT16 b = 0; gpFlashInfo != nullptr && b < gpFlashInfo->BlockCount; ++b) {
        const sBlockInfo& block = gpFlashInfo->Blocks[b];
        UINT8* buffer = static_cast<UINT8*>(malloc(block.BlockSize == 0 ? 1 : block.BlockSize));
        if (buffer == nullptr) return eEID_MEM_ALLOC;
        UINT32 tries = 0;
        while (FLASH_ReadBlock(block.StartAddress, block.BlockSize, buffer, SaveRomCallBack) != eEID_NO_ERROR) {
            if (++tries == kReadTries) {
                free(buffer);
                return eEID_READ_FLASH;
            }
        }
        UINT32 written = TKX_WriteFile(out, offset, block.BlockSize, buffer);
        free(buffer);
        if (written != block.BlockSize) return eEID_WRITE_FILE;
        offset += block.BlockSize;
    }
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID SaveRomExecute(TKXQueueItemList&) {
    if (!YOZ_ModeTakesPart(SaveRomToFileQueueItem.ModeMask)) return eEID_NO_ERROR;
    if (YOZ_GetCapsuleMode() || YOZ_GetRecoveryMode()) return eEID_NO_ERROR;
    UINT8 answer = YOZ_PromptReplaceFile(RomFileName);
    if (answer == YOZ_FILE_NO_ANSWER) return eEID_UPDATE_CANCEL_BY_USER;
    if (answer == YOZ_FILE_REFUSED) return eEID_OPEN_OUT_FILE;
    if (answer == YOZ_FILE_KEEP) return eEID_NO_ERROR;
    WriteOut(" Saving current BIOS into file: %s\n", RomFileName);
    FILE* out = TKX_CreateNewFile(RomFileName);
    if (out == nullptr) return eEID_OPEN_OUT_FILE;
    YOZ_FlashWay = YOZ_FLASH_WAY_ADDRESS;
    ENUM_ERR_ID status = SaveBlocks(out);
    YOZ_FlashWay = YOZ_FLASH_WAY_IDLE;
    // Only a whole ROM takes the name; after a failure it keeps what it held.
    if (status != eEID_NO_ERROR) {
        TKX_DiscardNewFile(out);
        return status;
    }
    return TKX_CommitNewFile(out);
}

static void SaveRomHelp(UINT8 pass) {
    if (!YOZ_ModeTakesPart(SaveRomToFileQueueItem.ModeMask) || pass != 1) return;
    WriteOut("|%*s - Save current ROM image to file                               |\n", 11, "/O");
    YOZ_CheckGlobalLineCont(1);
}

ENUM_ERR_ID RegisterSaveRomToFileQueueItem(TKXQueueItemList& items) {
    SaveRomToFileQueueItem = TKX_QUEUE_ITEM{eMID_SAVEROMTOFILE, SaveRomParse, SaveRomExecute, SaveRomHelp, nullptr,
                                            0, 1, 0x4E48, YOZ_MODE_NORMAL | YOZ_MODE_FTF, 0};
    items.push_back(&SaveRomToFileQueueItem);
    YOZ_ZOZ_RegisterModule(eMID_SAVEROMTOFILE, "/O");
    return eEID_NO_ERROR;
}
