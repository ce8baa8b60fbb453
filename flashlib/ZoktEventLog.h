// Event-log clearing (ZOKT record type 0x58).
#pragma once
#include "HuxErrorId.h"
#include "HuxTypes.h"

#define ZOKT_TC_CEL_FUNC_REQ 1
#define ZOKT_TC_CEL_OK 1
#define ZOKT_TC_CEL_ERROR 2
#define ZOKT_TC_CEL_BIOS_NOT_SUPPORT 4

#pragma pack(push, 1)
struct ZOKT_CLN_ERR_LOG_STRUCT {
    UINT16 Function;  // ZOKT_TC_CEL_FUNC_REQ
    UINT16 Status;    // answer: ZOKT_TC_CEL_ values
};
#pragma pack(pop)
static_assert(sizeof(ZOKT_CLN_ERR_LOG_STRUCT) == 4 && offsetof(ZOKT_CLN_ERR_LOG_STRUCT, Status) == 2,
              "event-log record is 4 bytes");

// 1 when the firmware cleared its event log; else the reason is kept for
// ZOKT_CleanEventLog_GetLastErrorID (0xB9, 0xBA or 0x22).
UINT8 ZOKT_CleanEventLog();
ENUM_ERR_ID ZOKT_CleanEventLog_GetLastErrorID();
