// The working copy of a region flash: the loaded image with the system's
// data that the flash keeps (SLP key data, ROM holes) merged into it, flashed
// block by block. When the loaded image covers the whole ROM the copy is the
// image itself, so that an update holds two ROM-size buffers (the image and
// the system copy) rather than three: every range the merge overwrites is
// saved just before and put back when the flash is done, and the image is
// unchanged for every later user. Otherwise (an image smaller than the ROM)
// the copy is a ROM-size buffer of its own, YOZ_pFlashBuff, 0xFF past the
// image's end.
#pragma once
#include "HuxCore.h"

// Makes the copy of the image of `imageSize` bytes; nullptr when no memory.
UINT8* YOZ_WorkCopy_Make(UINT8* image, UINT32 imageSize);
// The copy made last (YOZ_pFlashBuff unless the copy is the image).
UINT8* YOZ_WorkCopy_Get();
// Called before `size` bytes at `offset` of `destination` are overwritten:
// saves them when `destination` is an image that serves as the copy.
void YOZ_WorkCopy_Save(const UINT8* destination, UINT32 offset, UINT32 size);
// The merged data stay where they are (the secure flash uploads and flashes
// the image as merged): nothing is put back.
void YOZ_WorkCopy_Keep();
// The copy is done with: the image gets its saved ranges back, or the
// buffer of its own is freed (YOZ_pFlashBuff reset).
void YOZ_WorkCopy_Done();
