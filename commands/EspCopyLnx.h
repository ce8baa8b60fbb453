// Copy of the recovery image to the EFI system partition, where the firmware
// looks for its recovery file. The program neither mounts nor unmounts the
// partition: it must be mounted at "/boot/efi".
#pragma once
#include "HuxTypes.h"

// The name of the copy on the partition (it fits the session's name field).
#define ESP_RECOVERY_FILE_NAME "RECOVERY.CAP"

// Clears the copy's path, drive name, source and flags.
void InitCopyRecoveryFile();
// Looks for the partition: a directory on a FAT file system at "/boot/efi".
// When it is there the copy flag is set. Returns the copy flag.
UINT8 InitESPDriver();
void SetCopyToESPStatus(UINT8 flag);
UINT8 GetCopyToESPStatus();
// The partition's drive name: always empty on Linux.
char* GetESPDriverName();
// The copy's destination ("%s/%s": the partition directory and `name`) and
// its data (not owned; the file hub's buffer of the ROM file).
void SetESPCopy(const char* name, UINT8* data, UINT32 size);
// 1 while data handed to SetESPCopy has not been written yet.
UINT8 GetESPCopyPending();
// Writes the data whole into a new file beside the destination and flushes
// it to the partition: 1 when every byte reached it. The destination keeps
// what it held until CommitESPCopy; on failure the new file is removed again
// (a part of an image must not stand as the recovery file) and 0 is
// returned. After success the data is no longer pending.
UINT8 RunESPCopy();
// The written copy takes the destination's name: 1 when it did, or when no
// copy was waiting. A file of that name is kept aside until KeepESPCopy
// removes it or UndoESPCopy puts it back.
UINT8 CommitESPCopy();
// The committed copy stays; the file it replaced goes.
void KeepESPCopy();
// The committed copy goes; the destination gets back what it held.
void UndoESPCopy();
// Nothing to release on Linux.
void ReleaseESPDriver();
