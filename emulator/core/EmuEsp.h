// The machine's EFI system partition, root/boot/efi, as the setting `esp`
// makes it: `fat` (a mounted FAT partition, the default), `none` (no
// directory), `unmounted` (the empty mount point: the host's own file
// system), `blocked` (a directory RECOVERY.CAP in the way of that file) and
// `full` (a FAT partition whose files take only a little data before their
// writes fail with ENOSPC).
#pragma once
#include <cstdio>
#include <string>
#include "HuxTypes.h"

// Init step: lays out root/boot/efi; refuses an unknown `esp` value.
bool EmuEsp_Layout(std::string& error);
// True when `path` is the partition's directory and the machine reports a
// type of its own for it: `type` is then the FAT magic.
bool EmuEsp_FsType(const char* path, UINT64& type);
// True when `path` is a file on a full partition: `file` is then its stream
// (null when it cannot be created), whose writes fail with ENOSPC once the
// space left is used. False for every other path.
bool EmuEsp_CreateFullFile(const char* path, FILE*& file);
// Bytes a full partition still takes, unless the setting `esp_space` gives
// another number.
const UINT32 EMU_ESP_FULL_SPACE = 0x8000;
