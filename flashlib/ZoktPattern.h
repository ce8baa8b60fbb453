// ROM-file pattern query and check (ZOKT record type 0x5C): the firmware may
// name a byte pattern; the program looks for it in the ROM file and sends
// back the bytes that follow the match for the firmware to judge.
#pragma once
#include "HuxTypes.h"

// Byte 0: the request, or the query answer's pattern-length form.
#define ZOKT_TC_GET_PAT_REQ 1
#define ZOKT_TC_GET_PAT_CHK 2
#define ZOKT_TC_GET_PAT_NOT_FOUND 4
#define ZOKT_TC_GET_PAT_LENGTH_CHK 0x80  // the low 7 bits are the pattern length
// Byte 1: the answer status.
#define ZOKT_RS_GET_PAT_OK 1     // query: the file must be checked
#define ZOKT_RS_GET_PAT_ERROR 2  // check: the firmware refuses the file

#define ZOKT_GET_PAT_PATTERN_SIZE 64
// Interface-buffer offset of the bytes sent with a check.
#define ZOKT_GET_PAT_DATA_OFFSET 0x400
#define ZOKT_GET_PAT_DEFAULT_SEND 0x400

#pragma pack(push, 1)
struct ZOKT_GET_PATTERN_STRUCT {
    UINT8 Request;     // ZOKT_TC_GET_PAT_ value; query answer: the length form
    UINT8 Status;      // answer: ZOKT_RS_GET_PAT_ bits
    UINT16 Size;       // query answer: bytes to send (0: 0x400); check: bytes sent
    UINT8 Pattern[ZOKT_GET_PAT_PATTERN_SIZE];
};
#pragma pack(pop)
static_assert(sizeof(ZOKT_GET_PATTERN_STRUCT) == 68 && offsetof(ZOKT_GET_PATTERN_STRUCT, Pattern) == 4,
              "pattern record is 68 bytes");

// Asks for a pattern and keeps the answer; 1 unless memory ran out. The query
// is sent again while unanswered; one never answered wants no check.
UINT8 ZOKT_GetPatternSupport();
// Checks the ROM file when the query asked for it; 1 when the check was
// made or not needed, 0 for a missing file.
UINT8 ZOKT_SearchPattern(UINT8* file, UINT32 size);
// The firmware's text (" %s \n"), or null.
const char* ZOKT_GetPattern_ReString();
UINT8 ZOKT_GPR_GetRS_DIS_OEMSTR();
UINT8 ZOKT_GPR_GetRS_ERROR_OUT();

extern ZOKT_GET_PATTERN_STRUCT gZOKT_GetPattern;
