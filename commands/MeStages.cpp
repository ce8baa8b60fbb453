// Stages shared by the ME modules: the piece plan and the erase-then-write
// of an ME area, the update and session brackets with their failure lines,
// the plain option word and the registration.
#include <cstring>
#include "FlashBlock.h"
#include "TKXPhysMem.h"
#include "TKXOutput.h"
#include "TKXString.h"
#include "YozFlash.h"
#include "YozGlobal.h"
#include "YozMeStages.h"
#include "YozOptionStore.h"
#include "YozPreFlash.h"
#include "YozSwitchMode.h"
#include "YozSysRom.h"
#include "YozZozRecords.h"
#include "ZoktFormat.h"
#include "ZoktOutcome.h"

// ---- Piece plan ----

static UINT32 PlanCut(UINT32 base, UINT32 from, UINT32 to, YOZ_ME_PIECE* out, UINT32 room) {
    UINT32 count = 0;
    for (UINT64 at = from; at < to; ++count) {
        // The next address a multiple of 64 KiB away from base.
        UINT64 next = at + (YOZ_ME_PIECE_SIZE - ((static_cast<UINT32>(at) - base) & (YOZ_ME_PIECE_SIZE - 1)));
        if (next > to) next = to;
        if (out != nullptr && count < room) out[count] = YOZ_ME_PIECE{static_cast<UINT32>(at), static_cast<UINT32>(next - at)};
        at = next;
    }
    return count;
}

// Blocks of the table that hold part of [from, to), in address order and
// without gaps between them; 0 when they do not cover the range.
static UINT32 PlanBlocks(UINT32 from, UINT32 to, const sROMInfo* blocks, YOZ_ME_PIECE* out, UINT32 room) {
    UINT32 count = 0;
    UINT64 covered = from;
    for (UINT16 b = 0; b < blocks->BlockCount && covered < to; ++b) {
        UINT64 start = blocks->Blocks[b].StartAddress, end = start + blocks->Blocks[b].BlockSize;
        if (end <= covered || start >= to) continue;
        if (start > covered) return 0;
        if (out != nullptr && count < room) out[count] = YOZ_ME_PIECE{static_cast<UINT32>(start), blocks->Blocks[b].BlockSize};
        ++count;
        covered = end;
    }
    return covered >= to ? count : 0;
}

UINT32 YOZ_ME_PlanPieces(UINT32 base, UINT32 from, UINT32 to, const sROMInfo* blocks, YOZ_ME_PIECE* out,
                         UINT32 room) {
    if (from >= to) return 0;
    return blocks != nullptr ? PlanBlocks(from, to, blocks, out, room) : PlanCut(base, from, to, out, room);
}

// ---- Erase and write ----

// The requests of one route: the firmware's ME requests, or the flash block
// requests of firmware up to ZOKT version 0x20F.
struct ME_ROUTE {
    UINT8 (*Erase)(UINT32 address, UINT32 size, CallBackFn_T cb);
    UINT8 (*Write)(UINT32 address, UINT32 size, UINT8* data, CallBackFn_T cb);
    UINT8 (*Verify)(UINT32 address, UINT32 size, UINT8* data, CallBackFn_T cb);
    UINT8 Way;
};
static const ME_ROUTE kMeRoute = {ZOKT_ME_Erase, ZOKT_ME_Write, ZOKT_ME_Verify, YOZ_FLASH_WAY_ME};
static const ME_ROUTE kBlockRoute = {EraseBlk, WriteBlk, VerifyBlk, YOZ_FLASH_WAY_BLOCK_MAP};
static const UINT16 kLastBlockRouteVersion = 0x20F;

bool YOZ_ME_BlockRoute() { return Zokt_GetVer() <= kLastBlockRouteVersion; }

// Each failed attempt is followed by one silent repeat whose result is not
// looked at (for a write: the piece erased and written again).
static bool ErasePiece(const ME_ROUTE& r, const YOZ_ME_PIECE& p) {
    for (UINT32 attempt = 0; attempt < YOZ_ME_ATTEMPTS; ++attempt) {
        if (r.Erase(p.Address, p.Size, YOZ_CallBack_Erase)) return true;
        r.Erase(p.Address, p.Size, nullptr);
    }
    return false;
}

static bool WritePiece(const ME_ROUTE& r, const YOZ_ME_PIECE& p, UINT8* bytes) {
    for (UINT32 attempt = 0; attempt < YOZ_ME_ATTEMPTS; ++attempt) {
        if (r.Write(p.Address, p.Size, bytes, YOZ_CallBack_Update)) return true;
        r.Erase(p.Address, p.Size, nullptr);
        r.Write(p.Address, p.Size, bytes, nullptr);
    }
    return false;
}

// Read back and compared; a read that fails is tried again.
static bool VerifyPiece(const ME_ROUTE& r, const YOZ_ME_PIECE& p, UINT8* bytes) {
    for (UINT32 attempt = 0; attempt < YOZ_ME_ATTEMPTS; ++attempt) {
        if (r.Verify(p.Address, p.Size, bytes, YOZ_CallBack_Verify)) return true;
    }
    return false;
}

// The bytes of a piece: the data inside [from, to); outside it (a whole
// block of the block route) the flash copy's.
static void PieceBytes(const YOZ_ME_PIECE& p, UINT32 from, UINT32 to, const UINT8* data, const UINT8* system,
                       UINT8* bytes) {
    if (system != nullptr) memcpy(bytes, system + p.Address, p.Size);
    UINT32 start = p.Address > from ? p.Address : from;
    UINT64 end = static_cast<UINT64>(p.Address) + p.Size;
    if (end > to) end = to;
    if (end > start) memcpy(bytes + (start - p.Address), data + start, static_cast<size_t>(end - start));
}

static ENUM_ERR_ID RunPieces(const ME_ROUTE& r, const YOZ_ME_PIECE* pieces, UINT32 count, UINT32 from, UINT32 to,
                             const UINT8* data, const UINT8* system, UINT8* bytes) {
    for (UINT32 i = 0; i < count; ++i) {
        if (!ErasePiece(r, pieces[i])) return eEID_ERASE_FLASH;
    }
    YOZ_CallBack_Erase(YOZ_PROGRESS_CLOSE, 0, 0);
    for (UINT32 i = 0; i < count; ++i) {
        PieceBytes(pieces[i], from, to, data, system, bytes);
        if (!WritePiece(r, pieces[i], bytes)) return eEID_WRITE_FLASH;
    }
    YOZ_CallBack_Update(YOZ_PROGRESS_CLOSE, 0, 0);
    for (UINT32 i = 0; i < count; ++i) {
        PieceBytes(pieces[i], from, to, data, system, bytes);
        if (!VerifyPiece(r, pieces[i], bytes)) return eEID_VERIFY_FLASH;
    }
    YOZ_CallBack_Verify(YOZ_PROGRESS_CLOSE, 0, 0);
    return eEID_NO_ERROR;
}

// The erase-and-write job of one area: its pieces, a buffer for the bytes
// of the largest, and the flash copy where whole blocks reach past the area.
struct ME_JOB {
    const ME_ROUTE* Route;
    YOZ_ME_PIECE* Pieces;
    UINT32 Count;
    UINT8* Bytes;
    const UINT8* System;
};

static void FreeJob(ME_JOB& job) {
    FreeMem(job.Pieces);
    FreeMem(job.Bytes);
    job = ME_JOB{};
}

// Everything is checked here, before the update starts: the area, the data
// that must reach its end, the pieces and (block route) the flash copy.
static ENUM_ERR_ID PlanJob(const YOZ_ME_AREA& a, const UINT8* data, UINT32 dataSize, ME_JOB& job) {
    job = ME_JOB{};
    if (data == nullptr || a.From >= a.To || dataSize < a.To) return eEID_ANALYZE_ME_DATA;
    const bool blockRoute = YOZ_ME_BlockRoute();
    job.Route = blockRoute ? &kBlockRoute : &kMeRoute;
    if (blockRoute && gpFlashInfo == nullptr) return eEID_ANALYZE_ME_DATA;
    const sROMInfo* blocks = blockRoute ? gpFlashInfo : nullptr;
    job.Count = YOZ_ME_PlanPieces(a.Base, a.From, a.To, blocks, nullptr, 0);
    if (job.Count == 0) return eEID_ANALYZE_ME_DATA;
    job.Pieces = reinterpret_cast<YOZ_ME_PIECE*>(AllocMem(job.Count * sizeof(YOZ_ME_PIECE)));
    if (job.Pieces == nullptr) return eEID_MEM_ALLOC;
    YOZ_ME_PlanPieces(a.Base, a.From, a.To, blocks, job.Pieces, job.Count);
    UINT32 largest = 0;
    for (UINT32 i = 0; i < job.Count; ++i) largest = job.Pieces[i].Size > largest ? job.Pieces[i].Size : largest;
    // Whole blocks that reach past the area are written back with the
    // bytes the flash holds now.
    const YOZ_ME_PIECE& last = job.Pieces[job.Count - 1];
    UINT64 end = static_cast<UINT64>(last.Address) + last.Size;
    if (job.Pieces[0].Address < a.From || end > a.To) {
        job.System = YOZ_SysRom_GetBuffer();
        if (job.System == nullptr || end > gRomSize) return eEID_ANALYZE_ME_DATA;
    }
    job.Bytes = AllocMem(largest);
    return job.Bytes != nullptr ? eEID_NO_ERROR : eEID_MEM_ALLOC;
}

// Every piece erased, then every piece written, then every piece read back
// and compared.
static ENUM_ERR_ID RunJob(const ME_JOB& job, const YOZ_ME_AREA& a, const UINT8* data) {
    YOZ_SetFlashMsg(YOZ_FLASH_MSG_ME, a.Total);
    YOZ_FlashWay = job.Route->Way;
    ENUM_ERR_ID status = RunPieces(*job.Route, job.Pieces, job.Count, a.From, a.To, data, job.System, job.Bytes);
    YOZ_FlashWay = YOZ_FLASH_WAY_IDLE;
    YOZ_SetFlashMsg(YOZ_FLASH_MSG_ME, 0);
    return status;
}

ENUM_ERR_ID YOZ_ME_CheckPlan(ENUM_ERR_ID (*area)(YOZ_ME_AREA* a)) {
    YOZ_ME_AREA a{};
    ME_JOB job{};
    ENUM_ERR_ID status = area(&a);
    if (status == eEID_NO_ERROR) status = PlanJob(a, YOZ_pMEBuff, YOZ_MESize, job);
    if (status == eEID_NO_ERROR && job.System != nullptr) {
        // The bytes of the whole blocks outside the area go back from the flash copy.
        const YOZ_ME_PIECE& last = job.Pieces[job.Count - 1];
        UINT64 end = static_cast<UINT64>(last.Address) + last.Size;
        if (job.Pieces[0].Address < a.From) YOZ_PreFlash_KeepFlash(job.Pieces[0].Address, a.From - job.Pieces[0].Address);
        if (end > a.To) YOZ_PreFlash_KeepFlash(a.To, static_cast<UINT32>(end - a.To));
    }
    FreeJob(job);
    return status;
}

ENUM_ERR_ID YOZ_ME_Update(ENUM_ERR_ID (*area)(YOZ_ME_AREA* a), UINT8 (*start)(), UINT8 (*end)()) {
    YOZ_ME_AREA a{};
    ENUM_ERR_ID status = area(&a);
    ME_JOB job{};
    if (status == eEID_NO_ERROR) status = PlanJob(a, YOZ_pMEBuff, YOZ_MESize, job);
    // A started update that fails is ended by the run's end.
    if (status == eEID_NO_ERROR) status = YOZ_ME_BeginUpdate(start) ? RunJob(job, a, YOZ_pMEBuff) : YOZ_ME_StartFailed();
    FreeJob(job);
    if (status != eEID_NO_ERROR) return status;
    if (!end()) return YOZ_ME_EndFailed("written");
    YOZ_ME_PowerOffWarning();
    return eEID_NO_ERROR;
}

// ---- Sessions ----

ENUM_ERR_ID YOZ_ME_LastError() {
    ENUM_ERR_ID last = ZOKT_ME_GetLastError();
    return last != eEID_NO_ERROR ? last : eEID_ME_STOP;
}

ENUM_ERR_ID YOZ_ME_StartFailed() {
    if (Zokt_LastUnanswered()) {
        TKX_EndProgressLine();
        WriteOut(" - The firmware did not answer the start of the ME update.\n");
    }
    return YOZ_ME_LastError();
}

ENUM_ERR_ID YOZ_ME_EndFailed(const char* done) {
    TKX_EndProgressLine();
    WriteOut(" - The ME area was %s, but the firmware %s the end of the ME update.\n", done,
             Zokt_LastUnanswered() ? "did not answer" : "refused");
    return YOZ_ME_LastError();
}

ENUM_ERR_ID YOZ_ME_DataFailed() {
    if (Zokt_LastUnanswered()) {
        TKX_EndProgressLine();
        WriteOut(" - The firmware did not answer a page of the ME data.\n");
    }
    return YOZ_ME_LastError();
}

ENUM_ERR_ID YOZ_ME_RunSession(UINT8 (*open)(UINT32 value), UINT32 value, ENUM_ERR_ID (*body)(), bool close) {
    // Once started, a failure leaves the session (also one whose request
    // went unanswered) and the update to the run's end.
    if (!YOZ_ME_BeginUpdate(ZOKT_ME_Full_FlashStart)) return YOZ_ME_StartFailed();
    if (!open(value)) return YOZ_ME_LastError();
    ENUM_ERR_ID status = body();
    if (status != eEID_NO_ERROR) return status;
    if (!close) {
        ZOKT_ME_HandOver();
        return eEID_NO_ERROR;
    }
    ZOKT_MER_Release();
    if (!ZOKT_ME_Full_FlashEnd()) return YOZ_ME_EndFailed("written");
    YOZ_ME_PowerOffWarning();
    return eEID_NO_ERROR;
}

// ---- Module helpers ----

void YOZ_ME_Register(TKXQueueItemList& items, TKX_QUEUE_ITEM& item, const char* text, CHECK_FUNC_ITEM& record,
                     ENUM_ERR_ID (*checkBlock)(), CHECK_FUNC_ITEM*& published) {
    items.push_back(&item);
    if (text != nullptr) YOZ_ZOZ_RegisterModule(static_cast<ENUM_MODULE_ID>(item.ModuleId), text);
    record = CHECK_FUNC_ITEM{YOZ_RegionOpen_SizeCheck, checkBlock, 1, 1, 1, 1, 1, 1, &item.Enabled};
    published = &record;
}

ENUM_ERR_ID YOZ_ME_ParseWord(TKX_QUEUE_ITEM* item, TKXArgvList& args, const char* word,
                             void (*setFlag)(UINT8* enabled)) {
    item->Enabled = 0;
    if (!YOZ_ModeTakesPart(item->ModeMask)) return eEID_NO_ERROR;
    for (unsigned long i = 1; i < args.size(); ++i) {
        if (IdentifyArg(args[i]->text, word, 1) != 1) continue;
        if (YOZ_ClaimOptionWord(item, args, i) != eEID_NO_ERROR) return eEID_COMMAND_LINE;
    }
    setFlag(&item->Enabled);
    return eEID_NO_ERROR;
}

void YOZ_ME_PowerOffWarning() {
    WriteOut("WARNING : System must power-off to have the changes take effect!");
    WriteOut("\n");
}

ZOKT_TC_55_MEUD_STRUCT* YOZ_ME_Info() {
    ZOKT_TC_55_MEUD_STRUCT* info = nullptr;
    return ZOKT_ME_GetMEInfo(&info) ? info : nullptr;
}

bool YOZ_MER_CarriesME() {
    if (!YOZ_GetMERLoadEnable()) return false;
    for (UINT32 n = 0; n < ZOKT_MER_GetTotalCmdNum(); ++n) {
        if (ZOKT_MER_GetCmdID(n) == ME_ENTIRE_REGION_ID) return true;
    }
    return false;
}
