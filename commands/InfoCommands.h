// Shared pieces of the information, save and verify commands: "/U" (the
// ROM file's ID), "/S" (the system's ID), "/O" (save the flash) and "/D"
// (verify without flashing).
#pragma once
#include "HuxCore.h"

// How a command word is taken by YOZ_InfoCommand_Parse.
enum : UINT8 {
    YOZ_INFO_TAKES_FILE = 0x01,  // word 1 becomes the ROM file name when none is known
    YOZ_INFO_COUNTS = 0x02,      // a stand-alone command: counted in YOZ_CommandNum, at most one
};

// Clears *enabled, then every word from index 1 equal to `word` (any case)
// sets it and is claimed together with word 1 (for a command that does not
// take the file, only when word 1 is the option or names a file). A counted
// command that makes YOZ_CommandNum exceed 1 is a command-line error (1).
ENUM_ERR_ID YOZ_InfoCommand_Parse(TKXArgvList& args, const char* word, UINT8* enabled, UINT8 how);

// The ROM ID (8 characters, terminated) and firmware GUID of the image, as
// "/U" found them.
extern char g_RomId[9];
extern UINT8 g_RomGuid[16];

// Finds the image's firmware-ID record, searching backwards from its end,
// and copies its ROM ID and GUID out. Every read stays inside the image:
// a record whose ID or GUID would run past the end does not count.
// eEID_INEXIST_ROM_FILE_ID when there is none (or the image is shorter
// than 0x400 bytes).
ENUM_ERR_ID YOZ_FindRomFileId(const UINT8* image, UINT32 size, char (&id)[9], UINT8 (&guid)[16]);

// Progress of the "/O" block reads: the bytes of the block read, the bytes
// done and the status of the last read. The address count grows by each
// finished block; "done" once the whole ROM is read. A failed read is
// repeated up to the engine's retry count.
void SaveRomCallBack(UINT32 total, UINT32 done, UINT32 status);
