// File access: thin wrappers over C streams for writing, and the file hub,
// the cache through which every file the program reads is read whole, once.
#pragma once
#include <cstdio>
#include "HuxErrorId.h"
#include "TKXList.h"

// Mode 0 "rb", 1 "wb", 2 "r+b", any other value "rb". Null when it cannot be opened.
FILE* TKX_OpenFile(const char* path, UINT32 mode);
// Opens a regular file "rb" without blocking on its way: a FIFO, device or
// directory is refused (null) before anything waits for it.
FILE* TKX_OpenRegularFile(const char* path);
// Files the program writes (saved ROM, ME area, ROM hole, recovery copy) are
// made new beside their name: a file of the owner only, created exclusively
// in the name's directory without following a link, which takes the name only
// once it is complete. Null when `path` names something other than a regular
// file (a link, a directory, a device) or the new file cannot be made. Every
// stream it returns ends in TKX_CommitNewFile or TKX_DiscardNewFile.
FILE* TKX_CreateNewFile(const char* path);
// Before the new file is made, what earlier runs left half-written in that
// directory goes (TKX_SweepDirectory). A new file the run has not committed
// or discarded when it ends is discarded then (the run-end list).
// Flushes, syncs and closes the new file, then renames it over its name.
// eEID_WRITE_FILE when any of that fails: the new file is removed and the
// name keeps what it held.
ENUM_ERR_ID TKX_CommitNewFile(FILE* stream);
// Closes and removes the new file: the name keeps what it held.
void TKX_DiscardNewFile(FILE* stream);
// A commit that can be undone: the file the name held is moved first to a
// new name of its own beside it and kept there until TKX_ForgetReplaced
// removes it, or TKX_RestoreReplaced gives the name back to it (the name is
// removed when it held none). On failure as TKX_CommitNewFile, the name
// keeping what it held.
struct TKX_REPLACED_FILE {
    char Name[4096];
    char Aside[4096];
    UINT8 HadOld;   // the name held a file, now under Aside
    UINT8 Pending;  // committed, neither forgotten nor restored yet
};
ENUM_ERR_ID TKX_CommitNewFileKeepingOld(FILE* stream, TKX_REPLACED_FILE* replaced);
void TKX_ForgetReplaced(TKX_REPLACED_FILE* replaced);
void TKX_RestoreReplaced(TKX_REPLACED_FILE* replaced);
// What earlier runs of the program left in `dir`, where a death (a kill, a
// power loss) ran no clean-up: new files never completed (".<name>.<random>
// .incomplete", regular files of this user) are removed, the number of them
// returned; files kept aside for `keptBase` (".<keptBase>.<random>", which
// may hold what the operator wants back) are neither removed nor changed,
// but each is handed to `found` with its size. `keptBase` and `found` may
// be null.
typedef void (*TKX_KeptAsideFunc)(const char* path, UINT64 size);
UINT32 TKX_SweepDirectory(const char* dir, const char* keptBase, TKX_KeptAsideFunc found);
// Removes a file; never a directory. 1 when it was removed.
UINT8 TKX_DeleteFile(const char* path);
// The mount point of the EFI system partition ("/boot/efi", as the OS seam
// resolves it) into `out`: 1 when it is a directory on a FAT file system,
// 0 when it is absent, on another file system (an empty mount point of an
// unmounted partition) or its path does not fit `max` bytes.
UINT8 TKX_GetEspDirectory(char* out, UINT32 max);
// Flushes a stream open for writing and syncs a regular file to its disk,
// leaving it open: eEID_WRITE_FILE when that fails (a full disk shows up
// here at the latest).
ENUM_ERR_ID TKX_FlushFile(FILE* stream);
// Flushes, syncs a regular file that was open for writing to its disk, and
// closes. eEID_WRITE_FILE when any of that fails (a full disk shows up here,
// not in TKX_WriteFile, whose bytes may still sit in the stream's buffer).
ENUM_ERR_ID TKX_CloseFile(FILE* stream);
// Size in bytes, found by seeking to the end (the position is restored);
// TKX_FILE_SIZE_UNKNOWN when it cannot be found.
const UINT64 TKX_FILE_SIZE_UNKNOWN = ~0ULL;
UINT64 TKX_GetFileSize(FILE* stream);
// Seeks to offset from the start and reads up to size bytes; the number read.
UINT32 TKX_ReadFile(FILE* stream, UINT32 offset, UINT32 size, UINT8* buffer);
// Seeks to offset from the start and writes size bytes; the number taken by
// the stream (check TKX_CloseFile for the final word).
UINT32 TKX_WriteFile(FILE* stream, UINT32 offset, UINT32 size, UINT8* buffer);

// One cached file: the hub's own copy of the path as asked for, the whole
// file followed by one zero byte, and its size without that byte.
struct FILE_HUB_ITEM {
    char* name;
    UINT8* data;
    UINT32 size;
};
typedef TKXList<FILE_HUB_ITEM*> TKXFileHubList;
extern TKXFileHubList FileHubList;

// Empties the hub and publishes its clean-up hook.
void InitializeFileHub();
// The whole file at path: read on the first query of that exact path (no
// normalisation: "./x" and "x" are two items), the same buffer afterwards.
// 0x30 when it cannot be opened or is not a regular file, 0x22 when memory
// runs out, 0x31 when it cannot be read whole or does not fit in 32 bits.
// A failed query adds nothing. The hub owns the buffer until its clean-up.
ENUM_ERR_ID QueryFileHub(const char* path, UINT8** data, UINT32& size);
// Frees every item, its name and its data, and empties the hub.
void CleanUpFileHub();
