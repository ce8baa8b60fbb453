// The emulated firmware's ZOKT requests (SMI 0x26). The dispatcher reads the
// interface buffer at EBX, validates the descriptor and extension header as
// firmware would, refuses malformed requests (buffer untouched) and hands a
// valid request to the handler of its record type from EmuZoktHandlers
// (EmuZoktTable.cpp, one line per type). A type without handler, or a
// machine whose zokt_version is 0, leaves the buffer untouched: return
// status 0, "not supported".
#pragma once
#include <string>
#include <vector>
#include "EmuSmi.h"

#define EMU_ZOKT_BUFFER_SIZE 0x11000u
#define EMU_ZOKT_RECORD 0x16u          // record offset of a single-header request
#define EMU_ZOKT_TERMINATOR 0xFFFF55AAu

// Return-status bits the firmware answers at descriptor offset 0x0C.
#define EMU_ZOKT_RS_SUPPORT 0x01
#define EMU_ZOKT_RS_ERR_OUT 0x08
#define EMU_ZOKT_RS_DIS_OEMSTR 0x10

struct EmuZoktRequest {
    std::vector<UINT8>& Buf;  // EMU_ZOKT_BUFFER_SIZE bytes from EBX; answer in place
    UINT32 Address;           // physical address of the buffer (EBX)
    UINT8 Type;               // extension-header type code
    UINT16 Version;           // descriptor version
    UINT16 RunningSize;       // descriptor running size
    UINT16 RecordSize;        // extension-header record size (checked against the type)
    std::string& Trace;       // " key=value" pairs for the smi trace line
    bool Corrupt = false;     // a fault rule: one data byte of an ME write or read back flipped

    UINT8* Record() { return Buf.data() + EMU_ZOKT_RECORD; }
    UINT8 U8(UINT32 offset) const;
    UINT16 U16(UINT32 offset) const;
    UINT32 U32(UINT32 offset) const;
    UINT64 U64(UINT32 offset) const;
    void Put8(UINT32 offset, UINT8 value);
    void Put16(UINT32 offset, UINT16 value);
    void Put32(UINT32 offset, UINT32 value);
};

// Answers the request (true: the buffer is written back) or leaves it
// untouched (false). Handlers set the return status with EmuZokt_Answer.
typedef bool (*EmuZoktHandler)(EmuZoktRequest& request);

struct EmuZoktHandlerEntry {
    UINT8 Type;
    // 1: the running size must end right after the terminator 0xFFFF55AA
    // behind the record. Types whose requests overwrite the terminator use 0.
    UINT8 CheckTerminator;
    EmuZoktHandler Handler;
};
extern const EmuZoktHandlerEntry EmuZoktHandlers[];  // ended by a null handler

// The SMI 0x26 entry of the SMI table.
void EmuZokt_Smi26(EmuSmiRequest& request);

// The ZOKT version this firmware speaks (setting zokt_version; 0 = none).
UINT16 EmuZokt_FirmwareVersion();
// Sets the return status of the answer.
void EmuZokt_Answer(EmuZoktRequest& request, UINT16 returnStatus);
// Adds a text to the answer: NUL-terminated at the running size, with
// ZOKT_RS_DIS_OEMSTR set; an empty text adds nothing.
void EmuZokt_AnswerText(EmuZoktRequest& request, const std::string& text);
// Bytes as a quoted trace string (printable ASCII kept, others as \xNN).
std::string EmuZokt_Quote(const UINT8* bytes, size_t length);
// Appends printf-formatted text to the trace fields.
void EmuZokt_TraceAdd(EmuZoktRequest& request, const char* format, ...) __attribute__((format(printf, 2, 3)));
// A transient refusal: the setting holds "POSITION:COUNT" rules joined by
// commas; true (and one more counted in state `counter`POSITION) while the
// rule for `position` has refused fewer than COUNT times since the machine
// was made.
bool EmuZokt_Refused(const char* setting, const char* counter, UINT32 position);
