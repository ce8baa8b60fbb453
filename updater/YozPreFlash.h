// The checks a run makes before its first erase. A module whose stages
// write later than another module's joins with one entry at registration
// (in module-table order); the first stage of the run that is about to
// write walks the entries of the modules that take part in the run, so a
// refusal of any of them leaves the flash as it was. Under secure flash the
// entries also name the areas they write: after the walk the image, with
// everything the run carries into it, is uploaded once and the session
// opened for all of them, and the flash stages write only what was given.
#pragma once
#include "HuxCore.h"

// An entry: the checks of a module's later stages; `context` as joined.
typedef ENUM_ERR_ID (*YOZ_PreFlashCheck)(const void* context);

// Joins an entry, walked when *active reads 1.
void YOZ_PreFlash_Join(const UINT8* active, YOZ_PreFlashCheck check, const void* context);
// A new run: the walk is still to be made (the global item's parse).
void YOZ_PreFlash_Reset();
// The walk, once per run: every entry whose module is active, in order; the
// first refusal is the result. Then every block the run keeps bytes of is
// read again: the blocks the entries named, the boot and main blocks the run
// writes and the blocks of the files it keeps (ROM holes, SLP files, the
// "$FID" record); where the flash copy differs from that read and from a
// third, 0x42. Then, under secure flash with areas named, the upload and the
// session (0x16, 0x17, 0x1D, 0x18). Then the step an entry left for the
// end of the walk. Later calls: 0.
ENUM_ERR_ID YOZ_PreFlash_Run();
// 1 once the walk has been made.
UINT8 YOZ_PreFlash_Done();

// From an entry: `step` is taken once everything else of the walk has
// passed (under secure flash: after the session opened), just before the
// run's first erase: where a module must start something in the firmware
// that no later check of the walk may leave behind. Its error is the
// walk's. One per run: a later one is not taken.
typedef ENUM_ERR_ID (*YOZ_PreFlashStep)();
void YOZ_PreFlash_Last(YOZ_PreFlashStep step);

// From an entry: the run writes the bytes [offset, offset + size) of the
// flash copy back to the flash (in the blocks that hold them), or all blocks
// of a type; the walk reads those blocks again before the first erase.
void YOZ_PreFlash_KeepFlash(UINT32 offset, UINT32 size);
void YOZ_PreFlash_KeepType(UINT8 type);

// Under secure flash, from an entry: the run writes `areas` (bit n: area n)
// through the firmware, each policy byte of `policyBytes` (bit n: byte n)
// allowing the runtime update.
void YOZ_PreFlash_SecureAreas(UINT8 policyBytes, UINT8 areas);
// What the run carries into the uploaded image, by block type (0 boot
// block, 1 main block): made once, before the upload.
UINT8 YOZ_PreFlash_Carried(UINT8 type);
void YOZ_PreFlash_SetCarried(UINT8 type);

// The runtime secure-flash session of one area: policy (runtime bit of
// `policyByte`, none tested for YOZ_NO_POLICY_BYTE), session block, upload
// of the signed image and the start.
#define YOZ_NO_POLICY_BYTE 0xFF
ENUM_ERR_ID YOZ_SecureFlash_Start(UINT8 policyByte, UINT8 area);
// The same over several areas (bit n: area n), each policy byte of
// `policyBytes` (bit n: byte n) allowing the runtime update.
ENUM_ERR_ID YOZ_SecureFlash_Open(UINT8 policyBytes, UINT8 areas);
// The policy bytes of `policyBytes` allow the runtime update: 0, 0x16 or 0x17.
ENUM_ERR_ID YOZ_SecureFlash_PolicyAllows(UINT8 policyBytes);
