// Small ZOKT requests: the firmware password and the ROM-ID check.
#pragma once
#include "HuxCore.h"

// 1 when a password is required: its length, the answer's status byte and the
// firmware's prompt text (at most 255 characters and the terminator).
UINT8 CheckPasswdPresent(UINT16& length, UINT8& status, char* text);
// Keyboard entry of a password of the given length (heap text, caller frees).
char* GetUserInputPWD(UINT16 length);
// 1 when the firmware accepts the password; status is the answer's status byte.
UINT8 CheckBIOSPWD(const UINT8* password, UINT8& status);
// The firmware's text of the last password compare, or null.
const char* CheckBIOSPWDReString();
// 1 when the firmware checked the ROM file (romSize bytes); returnStatus is
// its return status.
UINT8 ZOKT_RomID_Check(const UINT8* romFile, UINT32 romSize, UINT16& returnStatus);
// The firmware's text of the last ROM-ID check, or null.
const char* ZOKT_RomID_Check_ReString();
