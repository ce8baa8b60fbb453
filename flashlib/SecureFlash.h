// Secure flash: on firmware that accepts only signed images, the program
// reads the firmware's policy, describes the update in a session block,
// uploads the signed image into firmware memory in pieces and opens the
// session; the firmware verifies and writes. Every request is ZOKT record
// type 0x70 with a sub-function and its payload after the terminator.
#pragma once
#include "HuxCore.h"
#include "SmiTransport.h"

// Sub-functions and answer codes of the secure-flash record.
#define ZOKT_TC_SFU_GET_FLASH_INFO 1
#define ZOKT_TC_SFU_LOAD_FIRMWARE_IMAGE 2
#define ZOKT_TC_SFU_GET_FLASH_UPDATE_POLICY 4
#define ZOKT_TC_SFU_SET_FLASH_UPDATE_METHOD 8
#define ZOKT_TC_SFU_RUNTIME_FLASH 0x10
#define ZOKT_TC_SFU_OK 1
#define ZOKT_TC_SFU_NOT_SUPPORTED 2
#define ZOKT_TC_SFU_FW_AUTH_FAILED 4
#define ZOKT_TC_SFU_INVALID_FW_CAPSULE_HDR 8
#define ZOKT_TC_SFU_SIGNING_KEYS_DONT_MATCH 0x10
#define ZOKT_TC_SFU_UNSUPPORTED_CERTIFICATE_HDR_FORMAT 0x20

// Session operation types; the policy bytes use the same bit values.
#define FLASH_OP_RECOVERY 1
#define FLASH_OP_CAPSULE 2
#define FLASH_OP_RUNTIME 4
#define FLASH_OP_NONE 0xFF

// Offsets inside a secure-flash request.
#define ZOKT_SF_PAYLOAD_OFFSET 0x1C   // payload after the terminator
#define ZOKT_SF_PIECE_DATA_OFFSET 0x2D
#define ZOKT_SF_PIECE_SIZE 0x8800

// Area of a session: the block type of the flash block table.
enum FLASH_BLOCK_TYPE : UINT32 {
    FLASH_BLOCK_BOOT = 0,
    FLASH_BLOCK_MAIN = 1,
    FLASH_BLOCK_NVRAM = 2,
    FLASH_BLOCK_EC = 3,
};

#pragma pack(push, 1)
struct FLASH_POLICY_INFO_BLOCK {
    UINT8 Policy[2];   // bit sets of FLASH_OP_ values
    UINT8 Key[256];    // the firmware's public key
    UINT8 Status;      // preset 1; 0 = answered
};

struct FUNC_FLASH_SESSION_BLOCK {
    UINT8 OpType;        // FLASH_OP_; the lowest requested is kept
    UINT32 AreaBits;     // 1 << FLASH_BLOCK_TYPE for each area
    char Name[16];       // recovery file name, zero-padded
    UINT32 ImageSize;
    UINT8 Reserved1[4];
    UINT8 Status;        // preset 1; 0 = session opened
    UINT8 Reserved2[4];
};

struct ZOKT_SF_PIECE_BLOCK {
    UINT64 DataAddress;  // physical address of the piece's data (request offset 0x2D)
    UINT32 Offset;       // offset of the piece in the image
    UINT32 Size;
    UINT8 Status;        // preset 1; 0 = accepted
};

// Signed capsule header at the start of an image file.
struct ORVEX_FW_CAPSULE_HEADER {
    EFI_GUID CapsuleGuid;
    UINT8 Reserved[12];
    UINT16 HeaderSize;
};
#pragma pack(pop)
static_assert(sizeof(FLASH_POLICY_INFO_BLOCK) == 259, "policy block is 259 bytes");
static_assert(offsetof(FLASH_POLICY_INFO_BLOCK, Status) == 0x102, "policy status at 0x102");
static_assert(sizeof(FUNC_FLASH_SESSION_BLOCK) == 34, "session block is 34 bytes");
static_assert(offsetof(FUNC_FLASH_SESSION_BLOCK, ImageSize) == 0x15, "session size at 0x15");
static_assert(offsetof(FUNC_FLASH_SESSION_BLOCK, Status) == 0x1D, "session status at 0x1D");
static_assert(sizeof(ZOKT_SF_PIECE_BLOCK) == 17, "piece block is 17 bytes");
static_assert(ZOKT_SF_PAYLOAD_OFFSET + sizeof(ZOKT_SF_PIECE_BLOCK) == ZOKT_SF_PIECE_DATA_OFFSET,
              "piece data follows the piece block");
static_assert(offsetof(ORVEX_FW_CAPSULE_HEADER, HeaderSize) == 0x1C, "capsule header size at 0x1C");

// Library state and operations.
// Reads the policy: 1 when the firmware gave it. A request without answer
// is asked again (a firmware without secure flash answers none of them);
// one answered without a policy leaves FLASH_PolicyRefused set.
UINT8 FLASH_InitialSecureFlashPolicy();
// 1 when the firmware answered the policy request but gave no policy: it
// has secure flash, with rules the run does not know.
UINT8 FLASH_PolicyRefused();
UINT8 FLASH_IsSecureFlashSupported();
void FLASH_SetSecureFlashSupported(UINT8 supported);  // by the secure-flash module
UINT8 FLASH_GetSupportedPolicy(FLASH_POLICY_INFO_BLOCK* out);
void FLASH_ConfigFlashSessionBlock(UINT8 opType, FLASH_BLOCK_TYPE area, const char* name, UINT32 size);
UINT8 FLASH_GetCurrentFlashOpType();
// The recovery file name of the session, terminated.
void FLASH_GetCurrentFlashName(char (&name)[sizeof(FUNC_FLASH_SESSION_BLOCK::Name) + 1]);
UINT8 FLASH_LoadFwImage(UINT8* image, UINT32 size, UINT32 base, CallBackFn_T cb);
UINT8 FLASH_LoadFwImageEx(UINT8* piece, UINT32 offset, UINT32 size, CallBackFn_T cb);
UINT8 FLASH_SetFlashMethod();
// The image after the capsule header of a file of `size` bytes; null when
// the file does not start with the capsule GUID or its header does not fit.
UINT8* FLASH_ExtractRomImageFromCapsule(UINT8* file, UINT32 size);
void ZOKT_SetMethod_BeforeDelayTime(UINT32 units);  // units of 10 us
void ZOKT_SetMethod_AfterDelayTime(UINT32 units);
// Clears the supported, loaded and opened flags (at registration).
void FLASH_ResetSecureFlashState();
// The next upload and session are sent again: a stage of the run writes
// other data than the image uploaded so far.
void FLASH_RenewUpload();

// Upload progress printer handed to FLASH_LoadFwImage: (total, done, running).
void LoadProgress(UINT32 total, UINT32 done, UINT32 running);

// The requests.
UINT8* ZOKTHeaderGen(UINT8 subFunction);
void SWSMI_SECFLASH();
void ZOKT_Message();
UINT8 ZOKT_GetSupportedPolicy(FLASH_POLICY_INFO_BLOCK* policy);
// The session's status; a session whose answer never came (Zokt_LastOutcome
// eZOKT_UNANSWERED) may have been taken by the firmware.
UINT8 ZOKT_SetFlashMethod(FUNC_FLASH_SESSION_BLOCK* session);
UINT8 ZOKT_LoadFwImageEx(UINT8* piece, UINT32 offset, UINT32 size, CallBackFn_T cb);

// The always-on secure-flash module.
ENUM_ERR_ID RegisterSecureFlashQueueItem(TKXQueueItemList& items);
