// Stages shared by the ME modules ("/ME", the ME-region options, "/MEUF"):
// the ME preparation of the pre-flash check and the pre-flash entries
// (MeChecks.cpp), the piece plan of an ME area and its erase-then-write
// through the firmware's ME requests (or the flash block requests of older
// firmware), the parse of a plain ME option word, the start/end bracket of
// an ME update (MeStages.cpp) and the read back of an updated area
// (MeChecks.cpp).
#pragma once
#include "HuxCore.h"
#include "RomInfo.h"
#include "YozGlobal.h"
#include "YozRegionStages.h"
#include "ZoktMe.h"

#define YOZ_ME_PIECE_SIZE 0x10000u
#define YOZ_ME_ATTEMPTS 5
// Engine state while an ME area is programmed through the ME requests.
#define YOZ_FLASH_WAY_ME 3

// One erase-and-write piece of an ME area, in flash addresses.
struct YOZ_ME_PIECE {
    UINT32 Address;
    UINT32 Size;
};

// The pieces of the flash range [from, to). With `blocks` (the block route)
// each piece is one block of that table that holds part of the range, and a
// range the table does not cover wholly gives no piece. Without, the range
// is cut at every address that lies a multiple of 64 KiB from `base`.
// Writes at most `room` pieces to `out` (null: count only); returns the
// number of pieces, 0 when from >= to.
UINT32 YOZ_ME_PlanPieces(UINT32 base, UINT32 from, UINT32 to, const sROMInfo* blocks, YOZ_ME_PIECE* out,
                         UINT32 room);

// One ME area: the flash range [From, To) written from the bytes of the
// same flash addresses of the ME part of the image, pieces cut at multiples
// of 64 KiB from Base, progress counted against Total bytes.
struct YOZ_ME_AREA {
    UINT32 Base;
    UINT32 From;
    UINT32 To;
    UINT32 Total;
};

// The ME preparation (check-block function of "/ME" and "/MEUF"): the
// working image becomes the ME part of the image and is analysed; with
// `keepImage` the working image is put back afterwards. Without an ME part,
// the ME library's last error (0xA1 when none was kept) and the working
// image left alone; 3 when the analysis fails or the ME part is a lone ME
// file. Nothing in capsule or recovery mode, where the modules do nothing.
ENUM_ERR_ID YOZ_ME_Prepare(bool keepImage);

// The check-block function of "/ME" and "/MEUF", run by the pre-flash check
// before any module writes: the ME preparation, then the firmware's support
// of the update (`support`: its error when refused), then, on a firmware
// that flashes only signed images, 0x1E for the block route. Nothing in
// capsule or recovery mode.
ENUM_ERR_ID YOZ_ME_CheckAhead(bool keepImage, UINT8 (*support)());
// ZOKT versions up to 0x20F: the ME area goes through the flash block
// requests (their short ME record has no address fields).
bool YOZ_ME_BlockRoute();

// Registration of a flashing ME module whose item the caller has filled:
// the item is appended, its command-table text (none when null) entered,
// and its check record (the image-size check, `checkBlock`, every option
// byte on) published through `published`.
void YOZ_ME_Register(TKXQueueItemList& items, TKX_QUEUE_ITEM& item, const char* text, CHECK_FUNC_ITEM& record,
                     ENUM_ERR_ID (*checkBlock)(), CHECK_FUNC_ITEM*& published);
// Parse of a plain ME option word ("/ME", "/MEUF"): enabled when the word is
// given (1 when the command line holds no ROM file word), the flag store
// told through `setFlag`.
ENUM_ERR_ID YOZ_ME_ParseWord(TKX_QUEUE_ITEM* item, TKXArgvList& args, const char* word,
                             void (*setFlag)(UINT8* enabled));
// Execute of the flashing ME modules: nothing outside their mode, nor in
// capsule or recovery mode; else the run's pre-flash walk and the stages in
// `order`.
ENUM_ERR_ID YOZ_ME_Execute(const TKX_QUEUE_ITEM& item, const YOZ_STAGE_SLOTS& slots, const char* order);

// The pre-flash entry of an ME update: the checks of YOZ_ME_Update before
// its start (the ME information asked again through `support` where an
// earlier update's end dropped it). Nothing is erased or written. Where
// another module runs the walk and so erases first, the walk then sends
// `start` after all its checks (under secure flash: after the session) and
// holds the update open for the ME stage; a refused start gives the ME
// library's last error with the flash as it was.
ENUM_ERR_ID YOZ_ME_CheckUpdate(ENUM_ERR_ID (*area)(YOZ_ME_AREA* a), UINT8 (*support)(), UINT8 (*start)());
// The same for an entire-ME update of the ME-region module: `check`, then
// the start held as above.
ENUM_ERR_ID YOZ_ME_CheckSession(UINT8 (*support)(), ENUM_ERR_ID (*check)());
// The walk started the update of `start` and holds it open for a stage:
// the stage asks the firmware nothing more before taking it over. Whatever
// path the run takes after that start, the update is ended (by the stage,
// or by the run-end list).
bool YOZ_ME_Held(UINT8 (*start)());
// The start of an update in a stage: the one the walk holds is taken over,
// else `start` is sent. 1 when the update is open.
bool YOZ_ME_BeginUpdate(UINT8 (*start)());
// The area `area` lays out planned as YOZ_ME_Update would plan it, nothing
// sent; where whole blocks reach past the area, the walk is told to read
// their bytes again. Errors as YOZ_ME_Update's before its start.
ENUM_ERR_ID YOZ_ME_CheckPlan(ENUM_ERR_ID (*area)(YOZ_ME_AREA* a));
// One ME update: `area` lays the area out (its error ends the update
// before any request); then everything is checked (0xA0 for an empty area,
// an ME part that does not reach its end or pieces that cannot be planned),
// `start` begins the update, every piece is erased, then every piece
// written, then every piece read back and compared (ZOKT versions above
// 0x20F through the ME requests in 64 KiB pieces; older firmware through
// the block requests, whole blocks written back with the flash copy's
// bytes outside the area; 0x43, 0x44 or 0x45 after five failed attempts on
// a piece) and `end` closes it; after a failure the run-end list ends it
// (an update the walk holds open is taken over, not started again). A
// refused start or end returns the ME library's last error; on success the
// power-off warning.
ENUM_ERR_ID YOZ_ME_Update(ENUM_ERR_ID (*area)(YOZ_ME_AREA* a), UINT8 (*start)(), UINT8 (*end)());
void YOZ_ME_PowerOffWarning();

// One region or update-library session inside an entire-ME update: the
// update is started (or the one the walk holds taken over), the session
// opened by `open` (with `value`) and `body` run. Once the update has
// started every failure leaves it to the run-end list, which frees a
// session that was opened (or whose request went unanswered) first and
// ends the update; the first error is the result (a refused request gives
// the ME library's last error). With `close` the session is freed and the
// update ended on success (a refused end: its error), then the power-off
// warning is printed; without, a successful session is handed over and
// stays open for the firmware (a capsule update) unless the run fails.
ENUM_ERR_ID YOZ_ME_RunSession(UINT8 (*open)(UINT32 value), UINT32 value, ENUM_ERR_ID (*body)(), bool close);
// The ME library's last error; 0xA1 when a refusal left none.
ENUM_ERR_ID YOZ_ME_LastError();
// The ME library's last error after a failed start, end or data page, with
// a line where the error's own words would name the wrong failure: a start
// or page the firmware did not answer, an end refused or unanswered after
// the area was `done` ("written", "read").
ENUM_ERR_ID YOZ_ME_StartFailed();
ENUM_ERR_ID YOZ_ME_EndFailed(const char* done);
ENUM_ERR_ID YOZ_ME_DataFailed();
// An updated area read back (through the route of the firmware's ZOKT
// version, five attempts): 0 when it reads as data, or when the firmware
// gives no bytes of it (said in a line: the update's answer stands);
// 0x45 when it reads otherwise.
ENUM_ERR_ID YOZ_ME_ReadBack(UINT32 address, UINT32 size, UINT8* data);
// The ME information of the last support check, or null.
ZOKT_TC_55_MEUD_STRUCT* YOZ_ME_Info();

// The ME-region module carries out "/ME": its table was loaded and lists a
// command of id 4 (the entire ME).
bool YOZ_MER_CarriesME();
