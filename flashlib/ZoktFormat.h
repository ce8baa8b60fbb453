// The ZOKT request format shared by every firmware request except the flash
// block requests and the ROM information: an 18-byte descriptor, one
// extension header naming the record type, the records and a terminator,
// sent with software SMI 0x26 and answered in place. Also the version
// handshake that tells whether the firmware speaks ZOKT at all.
#pragma once
#include "HuxErrorId.h"
#include "HuxTypes.h"

#define ZOKT_SIGNATURE 0x544B4F5Au  // "ZOKT" as a little-endian u32
#define ZOKT_EXT_TBL_END 0xFFFF55AAu

// Layout of a request.
#define ZOKT_DESC_SIZE 0x12          // descriptor; also the extension-header offset
#define ZOKT_EXT_HDR_SIZE 4
#define ZOKT_RECORD_OFFSET 0x16      // first record of a single-header request
#define ZOKT_REQUEST_SIZE 0x400      // request area of the heap-built requests

// Extension-header type codes.
#define ZOKT_EXT_TC_VERSION 0x00     // the version handshake (no record)
#define ZOKT_EXT_TC_ROMH 0x50
#define ZOKT_EXT_TC_CFG 0x51
#define ZOKT_EXT_TC_PWD 0x52
#define ZOKT_EXT_TC_ORI 0x53
#define ZOKT_EXT_TC_EC 0x54
#define ZOKT_EXT_TC_MEUD 0x55
#define ZOKT_EXT_TC_SETUP 0x56
#define ZOKT_EXT_TC_OEM_CMD 0x57
#define ZOKT_EXT_TC_CLN_ERR_LOG 0x58
#define ZOKT_EXT_TC_OA_HANDLE 0x5A
#define ZOKT_EXT_TC_AC_BAT 0x5B
#define ZOKT_EXT_TC_GET_PATTERN 0x5C
#define ZOKT_EXT_TC_SECURE_FLASH 0x70
#define ZOKT_EXT_TC_YOZMFG 0x71
#define ZOKT_EXT_TC_BGU 0x72
#define ZOKT_EXT_TC_BIOS_CFG_PRESERVE 0x80

// Function-select bits (descriptor offset 0x08); one per request.
#define ZOKT_FS_VC 0x1u
#define ZOKT_FS_BBLK 0x2u
#define ZOKT_FS_NVRAM 0x4u
#define ZOKT_FS_MAIN 0x8u
#define ZOKT_FS_NCB 0x10u
#define ZOKT_FS_ROMH 0x20u
#define ZOKT_FS_SECURE_FLASH 0x40u
#define ZOKT_FS_OA 0x80u
#define ZOKT_FS_YOZMFG 0x100u
#define ZOKT_FS_AC_BAT 0x10000u
#define ZOKT_FS_GET_PAT 0x20000u
#define ZOKT_FS_BGU 0x400000u
#define ZOKT_FS_ERR_LOG 0x800000u
#define ZOKT_FS_OEM_CMD 0x1000000u
#define ZOKT_FS_SETUP 0x2000000u
#define ZOKT_FS_MEUD 0x4000000u
#define ZOKT_FS_EC 0x8000000u
#define ZOKT_FS_ORI 0x10000000u
#define ZOKT_FS_PWD 0x20000000u
#define ZOKT_FS_CFG 0x40000000u
#define ZOKT_FS_BIOS_CFG_PRESERVE 0x80000000u

// Return-status bits (descriptor offset 0x0C), written by the firmware.
#define ZOKT_RS_SUPPORT 0x1
#define ZOKT_RS_PROTECT 0x2
#define ZOKT_RS_PROTECT_PART 0x4
#define ZOKT_RS_ERR_OUT 0x8      // the firmware's own error text replaces the program's
#define ZOKT_RS_DIS_OEMSTR 0x10  // a text to show follows at the answer's running size

// Operating-system types (descriptor offset 0x10).
#define ZOKT_OS_DOS 1
#define ZOKT_OS_WIN 2
#define ZOKT_OS_LINUX 4
#define ZOKT_OS_FREEBSD 8
#define ZOKT_OS_EFI 0x10
#define ZOKT_OS_WINGUI 0x20

#define ZOKT_VER_1 0x100
#define ZOKT_VER_2 0x200
#define ZOKT_VER_21 0x210

#pragma pack(push, 1)
struct ZOKT_STRUCT_V2 {
    UINT32 Signature;        // "ZOKT"
    UINT16 Version;          // g_ZoktVer (0 in the handshake)
    UINT16 RunningSize;      // bytes of the request so far
    UINT32 FunctionSelect;   // ZOKT_FS_ bit of the request
    UINT16 dwRetuenStatus;   // ZOKT_RS_ bits of the answer
    UINT16 ExtHeaderOffset;  // 0x12
    UINT16 OsType;           // ZOKT_OS_LINUX
};
typedef ZOKT_STRUCT_V2* PZOKT_STRUCT_V2;

struct ZOKT_EXT_HDR_STRUCT {
    UINT8 TypeCode;
    UINT8 SubCount;
    UINT16 RecordSize;
};
#pragma pack(pop)
static_assert(sizeof(ZOKT_STRUCT_V2) == ZOKT_DESC_SIZE, "descriptor is 18 bytes");
static_assert(offsetof(ZOKT_STRUCT_V2, dwRetuenStatus) == 0x0C, "return status at 0x0C");
static_assert(offsetof(ZOKT_STRUCT_V2, OsType) == 0x10, "OS type at 0x10");
static_assert(sizeof(ZOKT_EXT_HDR_STRUCT) == ZOKT_EXT_HDR_SIZE, "extension header is 4 bytes");

// Record bytes of one record of a type (0 for a type without records). The
// ME record grows above version 0x20F, so its size asks Zokt_GetVer.
UINT16 Zokt_RecordSize(UINT8 type);

// Request builders, in the order a request is built.
void Zokt_Desc_Header(UINT8* request, UINT32 functionSelect);
void Zokt_Ext_Header(UINT8* request, UINT8 type, UINT8 subCount);
void Zokt_TC_End_Header(UINT8* request, UINT8 type, UINT8 records);

// Software SMI 0x26 through the hooked SMI path; the answer's outcome is
// kept for Zokt_LastOutcome (ZoktOutcome.h).
void Zokt_SMI_26();

// Copies the text that an answer carries at its running size into `text`
// (at most 255 characters, never past the interface buffer) and returns its
// length; 0 when there is none.
UINT32 Zokt_GetAnswerText(const UINT8* answer, char (&text)[256]);

// Version handshake and its results.
extern UINT16 g_ZoktVer;
ENUM_ERR_ID Zokt_VersionCheck();
UINT16 Zokt_GetVer();
const char* Zokt_GetOEMString();
UINT8 Zokt_GetRS_ERR_OUT();
UINT8 Zokt_RS_DIS_OEMSTR();
