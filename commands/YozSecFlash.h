// Capsule and recovery modes: the firmware updates the flash from a signed
// image; the program only describes the update in the secure-flash session.
// Eight region variants (the region words "/B", "/E", "/P" and "/N", each in
// capsule and in recovery mode) add their area to the session; the two mode
// modules ("/CAPSULE", "/RECOVERY") open it and offer the power-off or the
// restart.
#pragma once
#include "HuxCore.h"
#include "SecureFlash.h"

// The ROM file word of a variant, and (recovery variants) its base name
// when that fits its buffer with the terminator.
struct YOZ_SECFLASH_FILE {
    const char* RomFileName;
    char RomFileBaseName[256];
    UINT8 RomFileBaseEnable;
};
// Takes `word` as the ROM file; with `baseName` also its last path component.
void YOZ_SecFlash_TakeFile(YOZ_SECFLASH_FILE& file, const char* word, UINT8 baseName);
// The name a recovery session hands the firmware: the base name when it was
// taken, else the word as given. Null when it would not fit the session's
// 16-byte name field (a name of 16 characters fills it without terminator;
// a longer one would name another file).
const char* YOZ_SecFlash_SessionName(const YOZ_SECFLASH_FILE& file);
// The default road in capsule and recovery mode: a ROM file with no region
// word updates the main block, as it does outside them. Enables the main-BIOS
// variants of both modes with `word` as their ROM file.
void YOZ_SecFlash_TakeMainBlock(const char* word);

// The firmware takes an update of the mode's operation (FLASH_OP_CAPSULE or
// FLASH_OP_RECOVERY): 0x15 without secure flash, 0x16 without a policy,
// 0x17 when policy byte 1 lacks the operation's bit.
ENUM_ERR_ID YOZ_SecFlash_CheckModePolicy(UINT8 opType);

// One region variant: a region word in one mode.
struct YOZ_SECFLASH_VARIANT {
    ENUM_MODULE_ID ModuleId;
    const char* Word;
    FLASH_BLOCK_TYPE Area;
    UINT8 OpType;             // FLASH_OP_CAPSULE or FLASH_OP_RECOVERY (also its bit in policy byte 1)
    TKX_QUEUE_ITEM* Item;
    YOZ_SECFLASH_FILE* File;
};
// The variants in module-table order (slots 55 to 62).
const UINT32 YOZ_SECFLASH_VARIANTS = 8;
extern const YOZ_SECFLASH_VARIANT YOZ_SecFlashVariants[YOZ_SECFLASH_VARIANTS];
