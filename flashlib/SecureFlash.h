// Secure flash library: the firmware's secure-flash support.
#pragma once
#include "HuxTypes.h"

// 1 when the firmware supports secure flash.
UINT8 FLASH_IsSecureFlashSupported();
