// OEM activation data check (ZOKT record type 0x5A): before the OEM
// activation area is written, the firmware examines the new data and may
// refuse it, skip it or change it.
#pragma once
#include "HuxErrorId.h"
#include "HuxTypes.h"

#define ZOKT_TC_OA_UPDATE_NOTIFY 1
// Answer status bits (record u16 at 2).
#define ZOKT_RS_OA_DATA_IS_INVALID 0x0001
#define ZOKT_RS_OA_DATA_IS_MODIFIED 0x0002
#define ZOKT_RS_OA_UPDATE_SKIPPED 0x0004
#define ZOKT_RS_OA_UPDATE_DECLINED 0x0008
#define ZOKT_RS_OA_USE_OEM_ERROR_ID 0x8000

// Interface-buffer offset of the data.
#define ZOKT_OA_DATA_OFFSET 0x400

#pragma pack(push, 1)
struct ZOKT_OA_HANDLE_STRUCT {
    UINT8 Request;        // ZOKT_TC_OA_UPDATE_NOTIFY
    UINT8 OemErrorId;     // answer: the firmware's own error id
    UINT16 Status;        // answer: 0 not supported, else ZOKT_RS_OA_ bits
    UINT32 FlashAddress;  // start of the OEM activation area (or 0)
    UINT64 DataAddress;   // physical address of the data: interface buffer + 0x400
    UINT32 DataSize;
};
#pragma pack(pop)
static_assert(sizeof(ZOKT_OA_HANDLE_STRUCT) == 20, "OA record is 20 bytes");
static_assert(offsetof(ZOKT_OA_HANDLE_STRUCT, FlashAddress) == 4 && offsetof(ZOKT_OA_HANDLE_STRUCT, DataAddress) == 8 &&
                  offsetof(ZOKT_OA_HANDLE_STRUCT, DataSize) == 0x10,
              "OA record layout");

// 1: go on with the update (the data may have been changed in place by the
// firmware); 0: stop, the reason in ZOKT_OAKeyCheck_GetLastErrorID. A check
// left unanswered is sent again; still unanswered it ends with 0xD3, as a
// firmware without the check does, but Zokt_LastOutcome tells them apart.
UINT8 ZOKT_OAKeyCheck(UINT8* data, UINT32 flashAddress, UINT32 size);
ENUM_ERR_ID ZOKT_OAKeyCheck_GetLastErrorID();
// The firmware printed its own text: the program's error line is not wanted.
UINT8 ZOKT_OAKeyOEM_NoErrorPrint();
// The firmware gave its own error id (ZOKT_OAKeyOEM_ErrorID).
UINT8 ZOKT_OAKeyOEM_UseOEMErrorID();
UINT8 ZOKT_OAKeyOEM_ErrorID();
