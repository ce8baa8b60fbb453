// Stages shared by the ME update-library modules: "/MEUL:" with an ME file
// (the whole ME updated by the firmware's update library) and the two
// capsule forms, which hand ME data to the firmware for a "/CAPSULE" update
// (an ME file alone, or the ME part of the ROM image with the BIOS).
#pragma once
#include "HuxCore.h"
#include "SmiTransport.h"
#include "YozRegionStages.h"

// The ME data of one module and its progress count.
struct YOZ_MEUL_DATA {
    char FileName[256];  // the ME file of the file forms
    UINT8* Buff;         // owned by the file hub, or the image's ME part
    UINT32 Size;
    UINT32 Pushed;       // bytes the progress printer has counted
};

// Parse of the "/MEUL:" word: each word "/MEUL:" (any case) followed by a
// file name gives the name and is claimed, with word 1 when that names a
// file. Without
// `capsuleForm` the module is enabled when no "/CAPSULE" is on the command
// line, with it only when one is ("/CAPSULE" itself is left to its own
// module). 1 for a name of 256 characters or more. Nothing outside the
// module's mode.
ENUM_ERR_ID YOZ_MEUL_ParseFileWord(TKX_QUEUE_ITEM* item, TKXArgvList& args, YOZ_MEUL_DATA& d, bool capsuleForm);
// What must hold before the firmware is asked to start anything: the
// firmware's gates of the pre-flash check (battery, "$ECB", password; the
// update-library modules run before it or without it), and for the capsule
// forms a firmware that takes a capsule (0x15, 0x16, 0x17 as the capsule
// variants).
ENUM_ERR_ID YOZ_MEUL_Gates(bool capsule);
// The gates, then the ME file read whole through the file hub; 0xA0 when it
// is empty.
ENUM_ERR_ID YOZ_MEUL_OpenFile(YOZ_MEUL_DATA& d, bool capsule);
// Progress of a push (offset, total, piece): the offset and the share of
// the data counted so far; YOZ_PROGRESS_CLOSE ends the line. Nothing for
// data of size 0.
void YOZ_MEUL_Progress(YOZ_MEUL_DATA& d, UINT32 offset, UINT32 total, UINT32 piece);

// "/MEUL:": the ME support check, then one update-library session inside
// an entire-ME update: the data pushed with `progress`, the update carried
// out, the session freed and the update ended; the power-off warning.
ENUM_ERR_ID YOZ_MEUL_Update(YOZ_MEUL_DATA& d, CallBackFn_T progress);
// The capsule forms: the ME support check, an entire-ME update whose
// session `form` asks for the capsule update of the data's size, the data
// pushed with `progress` and the main BIOS added to the secure-flash
// session with that size. The update and the session stay open for the
// firmware, which applies the capsule after the "/CAPSULE" module has sent
// the session; a refusal ends both and returns its error.
ENUM_ERR_ID YOZ_MEUL_Capsule(YOZ_MEUL_DATA& d, UINT8 (*form)(UINT32 size), CallBackFn_T progress);

// Execute of a capsule form: the stages in module order ("O P F Z ZF"),
// only in capsule mode (not in recovery mode) and in the module's mode.
ENUM_ERR_ID YOZ_MEUL_RunCapsuleStages(const TKX_QUEUE_ITEM& item, const YOZ_STAGE_SLOTS& slots);

// Registration of an update-library module: its item (disabled, mode mask
// 1, order key 0x8000, no on-error function) is appended and its slots
// hold the two stages it installs. No command-table entry, no check record.
void YOZ_MEUL_Register(TKXQueueItemList& items, TKX_QUEUE_ITEM& item, ENUM_MODULE_ID id,
                       ParsingCommandFunctionT parse, ExecutionActionFunctionT execute, CommandHelpT help,
                       UINT8 stopParse, YOZ_STAGE_SLOTS& slots, YOZ_StageFunc openFile, YOZ_StageFunc zoktFunc);
