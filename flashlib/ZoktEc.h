// EC flash requests (ZOKT type 0x54) in the "EC" form (the EC image inside or
// beside the ROM file) and the "ECX" form (a separate EC file: size query,
// erase, write, verify), and the EC battery check (type 0x5B).
#pragma once
#include "HuxCore.h"
#include "SmiTransport.h"

// Sub-functions of the EC record.
#define ZOKT_TC_EC_START 0x01
#define ZOKT_TC_EC_FLASH 0x02
#define ZOKT_TC_EC_END 0x04
#define ZOKT_TC_EC_ECX_SIZE 0x08
#define ZOKT_TC_EC_ECX_ERASE 0x10
#define ZOKT_TC_EC_ECX_VERIFY 0x20
#define ZOKT_TC_EC_ECX_RETRY 0x40

// Status bits of the EC record's answer.
#define ZOKT_RS_EC_OK 0x001
#define ZOKT_RS_EC_CHKSUM 0x002
#define ZOKT_RS_EC_ENTRY 0x004
#define ZOKT_RS_EC_ERASE 0x008
#define ZOKT_RS_EC_INIT 0x010
#define ZOKT_RS_EC_START 0x020
#define ZOKT_RS_EC_WRITE 0x040
#define ZOKT_RS_EC_EXIT 0x080
#define ZOKT_RS_EC_CHIPID 0x100

// Where an EC request keeps its extras: the data's physical address over the
// terminator, the chip id of START behind it, the data in the interface buffer.
#define ZOKT_EC_DATA_ADDRESS_OFFSET 0x21
#define ZOKT_EC_CHIPID_OFFSET 0x25
#define ZOKT_EC_DATA_OFFSET 0x400
#define ZOKT_EC_PAGE_SIZE 0x1000u
#define ZOKT_EC_BOUNCE_SIZE 0x10000u
#define ZOKT_EC_MAX_FAILURES 20  // the failure after this many ends a loop

// Battery check.
#define ZOKT_TC_AC_BAT_INFO_REQ 1
#define ZOKT_RS_AC_BAT_OK 1
#define ZOKT_RS_AC_BAT_ERR 2

#pragma pack(push, 1)
struct ZOKT_TC_54_EC_STRUCT {
    UINT8 SubFunction;
    UINT16 Status;    // 0 in the request
    UINT32 CheckSum;  // CalcChkSum of the data; ECX size answer: the EC page size
    UINT32 Length;    // data bytes; ECX size answer: the EC ROM size in KB
};
struct ZOKT_TC_5B_AC_BAT_STRUCT {
    UINT8 Function;
    UINT8 Status;
};
#pragma pack(pop)
static_assert(sizeof(ZOKT_TC_54_EC_STRUCT) == 11, "EC record is 11 bytes");
static_assert(offsetof(ZOKT_TC_54_EC_STRUCT, Status) == 1 && offsetof(ZOKT_TC_54_EC_STRUCT, CheckSum) == 3 &&
                  offsetof(ZOKT_TC_54_EC_STRUCT, Length) == 7,
              "EC record layout");
static_assert(sizeof(ZOKT_TC_5B_AC_BAT_STRUCT) == 2, "battery record is 2 bytes");

// Bitwise NOT of the 32-bit sum of the length / 4 little-endian words (0 for
// no data); trailing bytes of a length that is no multiple of 4 are not summed.
UINT32 CalcChkSum(const UINT8* data, UINT32 length);

// One EC request; data (length bytes) travels at interface-buffer offset 0x400.
ENUM_ERR_ID ZOKT_SWSMI_EC(UINT8 subFunction, UINT32 length, UINT16 chipId, UINT8* data, UINT8 ecxForm);

// "EC" form. Leaving sends END only when the controller may be in flash
// mode (EC_FLASH_STATE), again while it goes unanswered; unconfirmed it is
// the exit error 0xAA.
ENUM_ERR_ID EC_EnterFlashMode(UINT16 chipId);
ENUM_ERR_ID EC_LeaveFlashMode(UINT16 chipId);
ENUM_ERR_ID EC_WriteBlk(UINT16 chipId, UINT32 size, UINT8* data, CallBackFn_T cb);
ENUM_ERR_ID EC_ReTryBlk(UINT16 chipId, UINT8* data);

// "ECX" form.
ENUM_ERR_ID ECX_EnterFlashMode();
ENUM_ERR_ID ECX_LeaveFlashMode();
// *size in bytes goes out in KB; comes back as the EC ROM size in bytes.
ENUM_ERR_ID ECX_GetSize(UINT32* size, CallBackFn_T cb);
ENUM_ERR_ID ECX_EraseBlk(UINT32 size, CallBackFn_T cb);
ENUM_ERR_ID ECX_WriteBlk(UINT32 size, UINT8* data, CallBackFn_T cb);
ENUM_ERR_ID ECX_VerifyBlk(UINT32 size, UINT8* data, CallBackFn_T cb);

// The page loop of both forms and the retry notice.
ENUM_ERR_ID EC_Base_WriteBlk(UINT16 chipId, UINT32 size, UINT8* data, CallBackFn_T cb, UINT8 ecxForm);
ENUM_ERR_ID EC_Base_ReTryBlk(UINT16 chipId, UINT8* data, UINT8 ecxForm);

// Where the controller's flash mode stands, from what was sent and answered.
enum EC_FLASH_STATE : UINT8 {
    eEC_STATE_OUT = 0,            // never entered, or left (END confirmed)
    eEC_STATE_START_SENT = 1,     // a START without answer, or with one of no known kind: it may be in
    eEC_STATE_IN = 2,             // START accepted, no page or erase yet
    eEC_STATE_PAGES_SENT = 3,     // a page, erase or verify piece went out: its ROM may be half written
    eEC_STATE_END_UNCONFIRMED = 4,  // an END went out and no answer confirmed it
};
EC_FLASH_STATE EC_GetFlashState();
// 1 when the EC flash mode was entered (START accepted) and leaving it is
// not confirmed.
UINT8 EC_GetFlashModeStatus();

// Where a failed EC update leaves the controller.
enum EC_MODE_AFTER_FAILURE : UINT8 {
    eEC_MODE_LEFT = 0,         // never entered, or left again
    eEC_MODE_KEPT = 1,         // pages or an erase went out: the mode is kept, as leaving would start a half-written ROM
    eEC_MODE_UNCONFIRMED = 2,  // an END went out and no answer confirmed it
};
// On a failure path of either form: a controller that may be in flash mode
// but got no page or erase yet is taken out of it (END, also after a START
// whose answer was lost).
EC_MODE_AFTER_FAILURE EC_LeaveAfterFailure(UINT16 chipId, UINT8 ecxForm);

// Battery check before flashing: 1 lets the run go on, 0 ends it with
// ZOKT_ECB_Check_GetLastErrorID. Sent again while unanswered; a firmware
// that never answers it has no such check.
UINT8 ZOKT_ECB_Check();
ENUM_ERR_ID ZOKT_ECB_Check_GetLastErrorID();
