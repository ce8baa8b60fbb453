// "/O": reads the whole flash, block by block, into a file; each block is
// read twice and saved only as reads that agree.
#include <cstdio>
#include "FlashBlock.h"
#include "HuxCompat.h"
#include "InfoCommands.h"
#include "RomInfo.h"
#include "TKXFile.h"
#include "TKXPhysMem.h"
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

// "/O" stands alone (declared at registration): beside it the core lets
// only run-control words and one power action through, and refuses any
// other word before the file is touched.
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
        args[i]->claimed = 1;
        args[1]->claimed = 1;
        RomFileName = args[1]->text;
        ++YOZ_CommandNum;
    }
    YOZ_SetOCmdIsEnable(&self->Enabled);
    return eEID_NO_ERROR;
}

// One read of a block, tried up to kReadTries times.
static bool ReadTried(const sBlockInfo& block, UINT8* out, CallBackFn_T cb) {
    for (UINT32 tries = 0; tries < kReadTries; ++tries)
        if (FLASH_ReadBlock(block.StartAddress, block.BlockSize, out, cb) == eEID_NO_ERROR) return true;
    return false;
}

// A block as two reads that agree, or as a third read that agrees with one
// of them: a read that answered done with other bytes never reaches the
// file. Only the first read moves the progress line.
static ENUM_ERR_ID ReadAgreed(const sBlockInfo& block, UINT8* first, UINT8* second) {
    UINT32 size = block.BlockSize;
    if (!ReadTried(block, first, SaveRomCallBack) || !ReadTried(block, second, nullptr)) return eEID_READ_FLASH;
    if (MemCmp(first, second, size) == 1) return eEID_NO_ERROR;
    UINT8* third = AllocMem(size);
    if (third == nullptr) return eEID_MEM_ALLOC;
    ENUM_ERR_ID status = eEID_READ_FLASH;
    if (ReadTried(block, third, nullptr)) {
        if (MemCmp(third, second, size) == 1) MemCpy(first, second, size);
        if (MemCmp(third, first, size) == 1) status = eEID_NO_ERROR;
    }
    FreeMem(third);
    if (status != eEID_NO_ERROR) {
        WriteOut("\n - Three reads of the flash block at 0x%08lX disagree.\n",
                 static_cast<unsigned long>(block.StartAddress));
    }
    return status;
}

static ENUM_ERR_ID SaveBlocks(FILE* out) {
    UINT32 offset = 0;
    for (UINT16 b = 0; gpFlashInfo != nullptr && b < gpFlashInfo->BlockCount; ++b) {
        const sBlockInfo& block = gpFlashInfo->Blocks[b];
        UINT32 size = block.BlockSize == 0 ? 1 : block.BlockSize;
        UINT8* buffer = AllocMem(size);
        UINT8* second = AllocMem(size);
        ENUM_ERR_ID status = buffer == nullptr || second == nullptr ? eEID_MEM_ALLOC : ReadAgreed(block, buffer, second);
        if (status == eEID_NO_ERROR && TKX_WriteFile(out, offset, block.BlockSize, buffer) != block.BlockSize)
            status = eEID_WRITE_FILE;
        FreeMem(buffer);
        FreeMem(second);
        if (status != eEID_NO_ERROR) return status;
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
    // Only a whole ROM takes the name; after a failure it keeps what it held
    // (the run's end discards the new file).
    if (status != eEID_NO_ERROR) return status;
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
    HuxDeclareCompat(&SaveRomToFileQueueItem, HUX_COMPAT_STANDS_ALONE, "/O");
    YOZ_ZOZ_RegisterModule(eMID_SAVEROMTOFILE, "/O");
    return eEID_NO_ERROR;
}
