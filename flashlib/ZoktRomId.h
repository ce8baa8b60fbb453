// ROM-ID check (ZOKT record type 0x53): the firmware may ask for a piece of
// the ROM file and judge whether the file belongs to this machine.
#pragma once
#include "HuxTypes.h"

// Functions of the record.
#define ZOKT_TC_ORI_GET 1
#define ZOKT_TC_ORI_CHECK 2
// Status bits of the answer (record byte 1).
#define ZOKT_TC_ORI_REQ 0x01    // the firmware wants data
#define ZOKT_TC_ORI_ROM 0x02    // from the ROM file
#define ZOKT_TC_ORI_MOD 0x04
#define ZOKT_TC_ORI_GUID 0x08
#define ZOKT_TC_ORI_CK_OK 0x10

// Request block of the query: headers, record, terminator. The data
// request carries the piece behind them, as far as the interface buffer goes.
#define ZOKT_ORI_BLOCK_SIZE 0x800

#pragma pack(push, 1)
struct ZOKT_ORI_STRUCT {
    UINT8 Function;
    UINT8 Status;
    UINT32 Offset;  // in the ROM file
    UINT32 Spare;
    UINT32 Size;
};
#pragma pack(pop)
static_assert(sizeof(ZOKT_ORI_STRUCT) == 14 && offsetof(ZOKT_ORI_STRUCT, Offset) == 2 &&
                  offsetof(ZOKT_ORI_STRUCT, Size) == 10,
              "ROM-ID record is 14 bytes");

// Results of ZOKT_RomID_Check.
// The query goes out again while unanswered; one never answered wants no data.
#define ZOKT_ROMID_NOT_CHECKED 0        // no ZOKT, or the firmware wants no data
#define ZOKT_ROMID_CHECKED 1            // judged: the return status (ZOKT_RS_ bits) in returnStatus
#define ZOKT_ROMID_PIECE_UNAVAILABLE 2  // the piece asked for lies outside the file (or the buffer): no match

UINT8 ZOKT_RomID_Check(const UINT8* romFile, UINT32 romSize, UINT16& returnStatus);
// The firmware's text of the verdict (" - %s \n"), or null.
const char* ZOKT_RomID_Check_ReString();
