// The flash engine's whole-flash read and its progress-line selection
// (YOZ_SetFlashMsg, YOZ_Flash_Read), declared with the rest of the engine.
#pragma once
#include "YozFlash.h"
