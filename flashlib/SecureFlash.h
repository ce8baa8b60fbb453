// Secure flash library: the firmware's secure-flash support.
#pragma once
#include "HuxTypes.h"

// 1 when the firmware supports secure flash.
UINT8 FLASH_IsSecureFlashSupported();
// The image after the capsule header, or null when the file does not start
// with the capsule GUID.
UINT8* FLASH_ExtractRomImageFromCapsule(UINT8* file);
