// OEM command requests (ZOKT record type 0x57): begin, start, after and end
// notifications that carry either a numeric value ("/OEMCMD:") or a command
// text ("/CMD:") to the firmware.
#pragma once
#include "HuxErrorId.h"
#include "HuxTypes.h"

// Command codes: value form, then text form.
#define ZOKT_TC_OEM_CMD_BF 1
#define ZOKT_TC_OEM_CMD_AF 2
#define ZOKT_TC_OEM_CMD_BE 3
#define ZOKT_TC_OEM_CMD_SF 4
#define ZOKT_TC_OEM_CMD_BUF 5
#define ZOKT_TC_OEM_CMD_BUF_SF 6
#define ZOKT_TC_OEM_CMD_BUF_AF 7
#define ZOKT_TC_OEM_CMD_BUF_BE 8

// Record status answered by the firmware.
#define ZOKT_TC_OEM_CMD_OK 1
#define ZOKT_TC_OEM_CMD_NOT_SUPPORT 2
#define ZOKT_TC_OEM_CMD_ERROR 4

// Interface-buffer offset of the command text of the text form.
#define ZOKT_OEM_CMD_TEXT_OFFSET 0x400

#pragma pack(push, 1)
struct ZOKT_OEM_CMD_RECORD {
    UINT16 Code;
    UINT16 Status;   // 0 in the request
    UINT32 Value;    // value form: the value; text form: ZOKT_OEM_CMD_TEXT_OFFSET
    UINT32 Length;   // text form: text bytes without terminator; value form: 0
};
#pragma pack(pop)
static_assert(sizeof(ZOKT_OEM_CMD_RECORD) == 12, "OEM command record is 12 bytes");

// One OEM command request with the family's current value or text.
ENUM_ERR_ID SWSMI_CMD(UINT16 code, UINT8 valueForm);

ENUM_ERR_ID ZOKT_OEMCMD_BeginFlash(UINT32 value);
ENUM_ERR_ID ZOKT_OEMCMD_StartFlash();
ENUM_ERR_ID ZOKT_OEMCMD_AfterFlash();
ENUM_ERR_ID ZOKT_OEMCMD_BeginEnd();

ENUM_ERR_ID ZOKT_CMD_BeginFlash(const char* text);
ENUM_ERR_ID ZOKT_CMD_StartFlash();
ENUM_ERR_ID ZOKT_CMD_AfterFlash();
ENUM_ERR_ID ZOKT_CMD_BeginEnd();
