// The stage pattern every region module follows: module-private stage slots,
// one stage runner over a fixed order, and the open/flash halves of a
// region command (the open half checks and arms, the flash half builds the
// buffer and flashes it).
#pragma once
#include "HuxCore.h"
#include "YozPreFlash.h"
#include "YozRegionProc.h"

typedef ENUM_ERR_ID (*YOZ_StageFunc)();

// One slot per stage kind; a slot without a function is skipped.
struct YOZ_STAGE_SLOTS {
    YOZ_StageFunc OpenFileFunc;      // O
    YOZ_StageFunc LoadSysMemFunc;    // L
    YOZ_StageFunc CheckFunc;         // C
    YOZ_StageFunc BlockCheckFunc;    // B
    YOZ_StageFunc CheckOABlockFunc;  // A
    YOZ_StageFunc ZOKTCheck;         // Z
    YOZ_StageFunc ProcessFunc;       // P
    YOZ_StageFunc FlashFunc;         // F
    YOZ_StageFunc ZOKTFunc;          // ZF
};

// Runs the slots in `order` (letters separated by blanks, "ZF" for the
// firmware function after flashing): a stage runs only while every earlier
// one returned 0; the result is that of the last stage that ran.
ENUM_ERR_ID YOZ_RunStages(const YOZ_STAGE_SLOTS& slots, const char* order);

#define YOZ_ORDER_OPEN "C Z P F ZF"
#define YOZ_ORDER_FLASH "O L Z P F ZF"

// The open half of a region command.
struct YOZ_REGION_OPEN {
    const YOZ_REGION_PROC* Proc;
    TKX_QUEUE_ITEM* Item;
    YOZ_STAGE_SLOTS* Slots;
    void (*SetCmdFlag)(UINT8* enabled);
    UINT8 SkipIn2x2;     // returns at once in eMMC 2x2 mode
    UINT8 AsksOAKey;     // the block check asks before overwriting the system's OA key
};
ENUM_ERR_ID YOZ_RegionOpen_Parse(const YOZ_REGION_OPEN& r, TKXArgvList& args, const char* word);
// Claims option word i and word 1 (the ROM file, named unless one is set)
// and enables the module; 1 when the command line holds no ROM file word.
ENUM_ERR_ID YOZ_RegionOpen_Claim(const YOZ_REGION_OPEN& r, TKXArgvList& args, unsigned long i);
// The same for any module's item.
ENUM_ERR_ID YOZ_ClaimOptionWord(TKX_QUEUE_ITEM* item, TKXArgvList& args, unsigned long i);
// Claims every word from index 1 that equals `word` (any case) with
// YOZ_ClaimOptionWord; an empty word claims nothing. 1 when the command
// line holds no ROM file word.
ENUM_ERR_ID YOZ_ParseOptionWord(TKX_QUEUE_ITEM* item, TKXArgvList& args, const char* word);
// False when the mode filter refuses the item or in capsule or recovery
// mode, where a module with its own stages does nothing.
bool YOZ_ModuleRuns(const TKX_QUEUE_ITEM& item);
// Execute of such a module: the stages in `order` when it runs.
ENUM_ERR_ID YOZ_RunModuleStages(const TKX_QUEUE_ITEM& item, const YOZ_STAGE_SLOTS& slots, const char* order);
// The same for a module that writes: the run's pre-flash walk first, so
// that every module of the run has made its checks before this one writes.
ENUM_ERR_ID YOZ_RunWritingStages(const TKX_QUEUE_ITEM& item, const YOZ_STAGE_SLOTS& slots, const char* order);
// For a pre-flash entry: a stage of the module that only checks, run now
// when the module runs and emptied, so that it does not run again.
ENUM_ERR_ID YOZ_RunStageAhead(const TKX_QUEUE_ITEM& item, YOZ_StageFunc& slot);
// For an option at index i that works without a ROM file: claims word 1
// only when it is the option itself or names the ROM file (an existing file
// or "UCPIMG"), so that a mistyped file name is reported as an unknown word.
// True when word 1 was claimed.
bool YOZ_ClaimFileWord(TKXArgvList& args, unsigned long i);
// For an option at index i that reads or writes the file named by word 1
// ("/O", "/HOLEOUT:", "/HOLE:"): true when the operator named one, i.e.
// word 1 is neither the option itself nor the embedded image's name that
// the trailer put before options typed alone.
bool YOZ_OperatorFileWord(TKXArgvList& args, unsigned long i);
// The number of a "/K" or "/L" number word, from the text after the
// prefix: -1 when the word is not one (each of the first two characters is
// a digit or the end), -2 when more than three characters follow; else the
// decimal value.
int YOZ_RegionNumberWord(const char* number);
ENUM_ERR_ID YOZ_RegionOpen_Execute(const YOZ_REGION_OPEN& r);
// The block check of a region of `blockType`: secure-flash image, hole
// layout, what the region's blocks hold (RP_CheckCarryOver), for the boot
// block the operator's word on the system's OA key, then whether that key
// can go with the image (RP_CheckOAKeyCarry).
ENUM_ERR_ID YOZ_RegionOpen_BlockCheck(const YOZ_REGION_OPEN& r, UINT8 blockType);
ENUM_ERR_ID YOZ_RegionOpen_Arm(const YOZ_REGION_OPEN& r);
ENUM_ERR_ID YOZ_RegionOpen_SizeCheck(INT16 sizeStatus);
// 0x1E when the firmware flashes only signed images and the image carries no capsule header.
ENUM_ERR_ID YOZ_SecureFlashFileCheck();
// The option's help line: the word upper-cased (then `suffix` as it is) in 11 columns.
void YOZ_RegionOpen_Help(const YOZ_REGION_OPEN& r, UINT8 pass, const char* word, const char* format,
                         const char* suffix = "");
// Help of an option (options pass only): `count` line formats, the first
// with the upper-cased option word and `suffix`, the others with an empty
// option column.
void YOZ_OptionHelp(const TKX_QUEUE_ITEM& item, UINT8 pass, const char* word, const char* suffix,
                    const char* const* lines, UINT32 count);

// When the flash half carries the system's OEM activation key (kept in its
// "$FID" record) into the image.
enum YOZ_OAKEY_RULE : UINT8 {
    YOZ_OAKEY_MAIN,    // the system has no OA-key block
    YOZ_OAKEY_BOOT,    // the system has no OA-key block
    YOZ_OAKEY_BOOT2,   // with or without an OA-key block
};

// The flash half of a region command.
struct YOZ_REGION_FLASH {
    const YOZ_REGION_PROC* Proc;
    TKX_QUEUE_ITEM* Item;
    YOZ_STAGE_SLOTS* Slots;
    UINT8 BlockType;           // also the progress message set
    YOZ_OAKEY_RULE OAKeyRule;
    UINT8 PolicyByte;          // policy byte that allows its runtime secure update
    YOZ_StageFunc SecureFlashFunc;
};
ENUM_ERR_ID YOZ_RegionFlash_Parse(const YOZ_REGION_FLASH& r);
// The flash module's pre-flash entry (at registration).
void YOZ_RegionFlash_Join(const YOZ_REGION_FLASH& r);
// Under secure flash, in the run's pre-flash walk: the firmware's policy
// must allow the runtime update of `area`'s policy byte (none for
// YOZ_NO_POLICY_BYTE); the area goes into the run's session. With a
// processor `p`, the system's data of the region of `type` (0 boot, 1 main
// block) are carried into the image before its upload, once.
ENUM_ERR_ID YOZ_RegionFlash_SecureCarry(const YOZ_REGION_PROC* p, UINT8 type, YOZ_OAKEY_RULE rule, UINT8 policyByte);
ENUM_ERR_ID YOZ_RegionFlash_Execute(const YOZ_REGION_FLASH& r);
ENUM_ERR_ID YOZ_RegionFlash_Process(const YOZ_REGION_FLASH& r);
// A region flashed straight from the loaded image: the process stage marks
// the blocks of the region's type; under secure flash (when the region has
// a secure stage) that stage takes the flash slot, else "/caf" drops the
// unchanged blocks. The flash stage flashes the marked blocks from the image.
ENUM_ERR_ID YOZ_RegionFlash_ProcessImage(const YOZ_REGION_FLASH& r);
ENUM_ERR_ID YOZ_RegionFlash_FlashImage(const YOZ_REGION_FLASH& r);
// The do-it list shared by the region modules of a run (one byte per block),
// allocated by the first process stage that needs it.
ENUM_ERR_ID YOZ_RegionFlash_AllocMap();
ENUM_ERR_ID YOZ_RegionFlash_Flash(const YOZ_REGION_FLASH& r);
ENUM_ERR_ID YOZ_RegionFlash_SecureFlash(const YOZ_REGION_FLASH& r);
// Under "/caf": selects the progress set with the total, then drops the
// blocks that equal `buffer` from the do-it list and keeps the total left.
ENUM_ERR_ID YOZ_RegionFlash_CafPass(const YOZ_REGION_PROC* p, UINT8 msgSet, UINT8* buffer);
