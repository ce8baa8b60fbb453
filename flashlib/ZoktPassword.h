// Firmware password (ZOKT record type 0x52): the presence query tells
// whether the firmware wants a password and of what length; the compare
// request sends the typed password behind the record.
#pragma once
#include "HuxTypes.h"

// Functions of the record.
#define OEM_PC_CK 1
#define OEM_PC_PWD_CMP 2
// Answer status bits (record byte 3).
#define OEM_RS_PC_REQ 0x1
#define OEM_RS_PC_CK_OK 0x2
#define OEM_RS_PC_TIMES_EXCEEDED 0x4

#pragma pack(push, 1)
struct ZOKT_PWD_STRUCT {
    UINT16 Length;   // compare: bytes sent; presence answer: length expected
    UINT8 Function;  // OEM_PC_CK or OEM_PC_PWD_CMP
    UINT8 Status;    // answer: OEM_RS_PC_ bits
};
#pragma pack(pop)
static_assert(sizeof(ZOKT_PWD_STRUCT) == 4 && offsetof(ZOKT_PWD_STRUCT, Status) == 3, "password record is 4 bytes");

// Builds the request in the zeroed interface buffer and sends it. The
// compare carries the password (up to its terminator, zero-padded to the
// length the presence query gave) where the terminator was. Returns the
// record's offset, 0 without interface buffer.
UINT32 SWSMI_PWD(UINT8 function, const UINT8* password);
// 1 when the firmware wants a password: length and status from the answer;
// the firmware's text (or "") into `text`, which holds 256 bytes. The query
// is sent again while unanswered; a firmware that never answers it has no
// password.
UINT8 CheckPasswdPresent(UINT16& length, UINT8& status, char* text);
// Reads up to `length` keys, echoed as "*"; Enter ends. Returns the text
// (heap, terminated, the caller frees it), or null for length 0, no memory
// or input that ended before Enter.
char* GetUserInputPWD(UINT16 length);
// 1 when the firmware accepts the password; its status byte in `status`.
UINT8 CheckBIOSPWD(const UINT8* password, UINT8& status);
// The compare answer's firmware text (" - %s \n"), or null.
const char* CheckBIOSPWDReString();
