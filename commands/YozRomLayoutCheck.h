// The ROM layout comparison shared by the layout-check and whole-ROM
// modules: the layout data ("ROML") of the flash copy against the image's.
#pragma once
#include "HuxCore.h"

// Status of an answer No to the layout warning (no enumerator of its own).
#define eEID_ROM_LAYOUT_MISMATCH static_cast<ENUM_ERR_ID>(0x4C)

// When both buffers hold layout data: prints the layout line, ending it in
// "Changed." or "Ok.", and sets the layout-changed flag
// (YOZ_Com_SetRomLayoutChange). Without layout data in either buffer
// nothing is printed and the flag is left alone.
void YOZ_RomLayout_Compare(UINT8* system, UINT32 systemSize, UINT8* image, UINT32 imageSize);
