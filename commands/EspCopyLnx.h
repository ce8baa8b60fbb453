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
// what it held until CommitESPCopy; on failure 0 is returned and the new
// file, never committed, goes when the run ends (a part of an image must not
// stand as the recovery file). After success the data is no longer pending.
UINT8 RunESPCopy();
// The written copy takes the destination's name: 1 when it did, or when no
// copy was waiting. A file of that name is kept aside until KeepESPCopy
// removes it or UndoESPCopy puts it back.
UINT8 CommitESPCopy();
// Until one of the two below, the run-end list holds UndoESPCopy's work.
// The committed copy stays; the file it replaced goes.
void KeepESPCopy();
// The committed copy goes; the destination gets back what it held.
void UndoESPCopy();
// At the start of the execute pass: a run that died between the copy and
// the firmware's answer ran no clean-up. Copies it never completed go; a
// replaced recovery file it kept aside stays (the program cannot know
// whether the firmware took a session for the new one) and is named in one
// line. Nothing when the partition is not mounted.
void SweepESPLeftovers();
// Nothing to release on Linux.
void ReleaseESPDriver();
