// The save-ME command, whose option word the firmware supplies in
// manufacturing mode: reads the ME area through the firmware's ME read-back
// requests (older firmware: the block reads), in 4 KiB pieces, into the file
// named by word 1, which is replaced only once the whole area is read. It
// stops the parse, so no pre-flash check runs: it asks the firmware about
// its ME itself.
#include "FlashBlock.h"
#include "HuxCompat.h"
#include "RunControl.h"
#include "TKXFile.h"
#include "TKXPhysMem.h"
#include "TKXString.h"
#include "YozMeStages.h"
#include "YozOptionStore.h"
#include "YozRegionStages.h"
#include "YozSwitchMode.h"
#include "YozZozRecords.h"

static TKX_QUEUE_ITEM SaveMEToFileQueueItem;
static char s_SaveMeWord[YOZ_MFG_WORD_CHARS + 1];
static char* RomFileName = nullptr;
UINT32 g_dwMESize = 0;         // length of the ME area being read
static UINT32 s_ReadDone = 0;  // bytes of it read so far

static const UINT8 kSaveMeCmdString = 11;
static const UINT32 kPieceSize = 0x1000;

// Progress of one read-back attempt (size, address, result): the bytes of
// the area read so far, "done" once all of them are.
static void SaveMECallBack(UINT32 size, UINT32, UINT32 result) {
    if (result == 0) s_ReadDone += size;
    WriteOut(" Reading ME .................. ");
    if (s_ReadDone != g_dwMESize) {
        int percent = g_dwMESize == 0 ? 0 : static_cast<int>(s_ReadDone * 100ull / g_dwMESize);
        WriteOut("0x%08lX (%d%%) \r", static_cast<unsigned long>(s_ReadDone), percent);
    } else {
        WriteOut("done                \n");
    }
}

// One piece: through the ME read-back request, or on firmware up to ZOKT
// version 0x20F (whose short ME record has no address) the block read.
static bool ReadPiece(UINT8* piece, UINT32 address, UINT32 size) {
    if (YOZ_ME_BlockRoute()) return FLASH_ReadBlockEx(address, size, piece, SaveMECallBack) == eEID_NO_ERROR;
    return ZOKT_MER_ME_DUMP(piece, address, size, SaveMECallBack) == size;
}

// Whole 4 KiB pieces, then the tail as a short last piece; each piece gets
// five attempts and is written at its offset of the file.
static ENUM_ERR_ID ReadArea(FILE* out, UINT32 start) {
    UINT8* piece = AllocMem(kPieceSize);
    if (piece == nullptr) return eEID_MEM_ALLOC;
    ENUM_ERR_ID status = eEID_NO_ERROR;
    for (UINT32 offset = 0; offset < g_dwMESize && status == eEID_NO_ERROR; offset += kPieceSize) {
        UINT32 size = g_dwMESize - offset < kPieceSize ? g_dwMESize - offset : kPieceSize;
        bool read = false;
        for (UINT32 attempt = 0; attempt < YOZ_ME_ATTEMPTS && !read; ++attempt) read = ReadPiece(piece, start + offset, size);
        if (!read) status = eEID_READ_FLASH;
        else if (TKX_WriteFile(out, offset, size, piece) != size) status = eEID_WRITE_FILE;
    }
    FreeMem(piece);
    return status;
}

// The read-back requests are taken inside an update the firmware has
// started: the ignition update when the firmware offers it, else the entire
// one; the block route needs none. A failed read leaves the update to the
// run's end; a refused end fails the save.
static ENUM_ERR_ID ReadInUpdate(FILE* out, UINT32 start, bool ignition) {
    if (YOZ_ME_BlockRoute()) return ReadArea(out, start);
    if (!(ignition ? ZOKT_ME_Ignition_FlashStart() : ZOKT_ME_Full_FlashStart())) return YOZ_ME_StartFailed();
    ENUM_ERR_ID status = ReadArea(out, start);
    if (status != eEID_NO_ERROR) return status;
    if (!(ignition ? ZOKT_ME_Ignition_FlashEnd() : ZOKT_ME_Full_FlashEnd())) return YOZ_ME_EndFailed("read");
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID SaveMeParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    self->Enabled = 0;
    s_SaveMeWord[0] = '\0';
    YOZ_TakeMfgWord(kSaveMeCmdString, s_SaveMeWord);
    if (!YOZ_ModeTakesPart(self->ModeMask)) return eEID_NO_ERROR;
    for (unsigned long i = 1; s_SaveMeWord[0] != '\0' && i < args.size(); ++i) {
        if (IdentifyArg(args[i]->text, s_SaveMeWord, 1) != 1) continue;
        // Word 1 names the output file, never the option itself or the
        // embedded image.
        if (!YOZ_OperatorFileWord(args, i)) return eEID_COMMAND_LINE;
        self->Enabled = 1;
        args[i]->claimed = 1;
        args[1]->claimed = 1;
        RomFileName = args[1]->text;
        if (++YOZ_CommandNum > 1) return eEID_COMMAND_LINE;
    }
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID SaveMeExecute(TKXQueueItemList&) {
    if (!YOZ_ModeTakesPart(SaveMEToFileQueueItem.ModeMask)) return eEID_NO_ERROR;
    // Ignition first, then the entire ME; without either nothing is touched.
    bool ignition = ZOKT_ME_Ignition_CheckSupport() != 0;
    ZOKT_TC_55_MEUD_STRUCT* info = ignition || ZOKT_ME_CheckSupport() ? YOZ_ME_Info() : nullptr;
    if (info == nullptr) return ZOKT_ME_GetLastError() == eEID_ME_IGN_STOP ? eEID_ME_IGN_STOP : eEID_ME_STOP;
    UINT32 start = info->RuntimeBase;
    g_dwMESize = info->RuntimeLength;
    // An empty area or one past the 4 GiB address space is no ME area to save.
    if (g_dwMESize == 0 || g_dwMESize > 0xFFFFFFFFu - start) return eEID_ANALYZE_ME_DATA;
    if (!YOZ_GUIControl()) {
        UINT8 answer = YOZ_PromptReplaceFile(RomFileName);
        if (answer == YOZ_FILE_NO_ANSWER) return eEID_UPDATE_CANCEL_BY_USER;
        if (answer == YOZ_FILE_REFUSED) return eEID_OPEN_OUT_FILE;
        if (answer == YOZ_FILE_KEEP) return eEID_NO_ERROR;
        if (answer == YOZ_FILE_NEW) WriteOut(" Saving current BIOS into file: %s\n", RomFileName);
    }
    FILE* out = TKX_CreateNewFile(RomFileName);
    if (out == nullptr) return eEID_OPEN_OUT_FILE;
    s_ReadDone = 0;
    ENUM_ERR_ID status = ReadInUpdate(out, start, ignition);
    // Only the whole area takes the name; after a failure it keeps what it held
    // (the run's end discards the new file).
    if (status != eEID_NO_ERROR) return status;
    return TKX_CommitNewFile(out);
}

static void SaveMeHelp(UINT8) { YOZ_ModeTakesPart(SaveMEToFileQueueItem.ModeMask); }

ENUM_ERR_ID RegisterSaveMEToFileQueueItem(TKXQueueItemList& items) {
    SaveMEToFileQueueItem = TKX_QUEUE_ITEM{eMID_SAVEMETOFILE, SaveMeParse, SaveMeExecute, SaveMeHelp, nullptr,
                                           0, 1, 0x4E48, YOZ_MODE_NORMAL, 0};
    items.push_back(&SaveMEToFileQueueItem);
    HuxDeclareCompat(&SaveMEToFileQueueItem, HUX_COMPAT_STANDS_ALONE, s_SaveMeWord);
    YOZ_ZOZ_RegisterModule(eMID_SAVEMETOFILE, "/OME");
    return eEID_NO_ERROR;
}
