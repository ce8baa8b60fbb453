// ME flash requests (ZOKT type 0x55): the ME information, whole-region start,
// erase, write, end and read back; the version query that tells the record
// form; the region table and the region and update-library requests; and the
// analysis of a single binary (flash descriptor, ME and BIOS in one file).
#pragma once
#include "HuxCore.h"
#include "SmiTransport.h"

enum ENUM_ME_FLASH_ID : UINT8 {
    eMFD_IGN_INIT = 0,
    eMFD_IGN_START = 1,
    eMFD_IGN_END = 2,
    eMFD_ME_INIT = 3,
    eMFD_FULL_START = 4,
    eMFD_FULL_END = 5,
    eMFD_ERASE = 6,
    eMFD_WRITE = 7,
    eMFD_READ = 8,
    eMFD_REGION_TABLE = 9,
    eMFD_REGION_REQUEST = 0x0A,
    eMFD_VERSION = 0x0B,
};

// Region request codes (record byte 0x0A) and status bits (record u16 at 0x0C).
#define ME_REQUEST_ALLOC_SMM 0x01
#define ME_REQUEST_TRANSFER_DATA 0x02
#define ME_REQUEST_TRAN_ONLY_ME 0x03
#define ME_REQUEST_UPD_START 0x04
#define ME_REQUEST_TRAN_BIOS_ME 0x05
#define ME_REQUEST_CALL_AGAIN 0x08
#define ME_REQUEST_FREE_SMM 0x10
#define ME_REQUEST_MEUL_UPDATE 0x20
#define ME_STATUS_FAILED 0x1
#define ME_STATUS_CALL_AGAIN 0x2
#define ME_STATUS_MESSAGE 0x4

// Region protection bits of the table.
#define FDT_BLK_IS_PROTECT 0x01
#define PDR_BLK_IS_PROTECT 0x02
#define GBE_BLK_IS_PROTECT 0x04
#define MER_BLK_IS_PROTECT 0x10
#define OPR_BLK_IS_PROTECT 0x20

#define ME_BIOS_REGION_ID 5
#define ME_ENTIRE_REGION_ID 4          // the region command that stands for the entire ME
#define ME_REGION_ALL 0xFF
#define ME_DATA_OFFSET 0x400u           // data of ME requests in the interface buffer
#define ME_PAGE_SIZE 0x1000u
#define ME_ERASE_MAX 0x10000u
#define ME_CLEAR_SIZE 0x5000u           // interface bytes zeroed before table and region requests
#define ME_MAX_REGIONS 17
#define ME_VERSION_RECORD_SIZE 0x18
#define ME_TABLE_RECORD_SIZE 0x532
#define ME_REGION_RECORD_SIZE 30

#pragma pack(push, 1)
struct ZOKT_TC_55_MEUD_STRUCT {
    UINT8 ReturnStatus;  // 0 in the request; 1 done
    UINT8 SubFunction;   // ENUM_ME_FLASH_ID
    UINT32 RuntimeBase;
    UINT32 RuntimeLength;
    UINT32 BiosRegionBase;
    UINT32 BiosRegionLength;
};
// The 30-byte form (ZOKT version above 0x20F): erase, write and read back.
struct ZOKT_TC_55_MEUD_EX_STRUCT {
    ZOKT_TC_55_MEUD_STRUCT Info;
    UINT32 DataOffset;    // 0x400
    UINT32 FlashAddress;
    UINT32 Size;
};
// Region and update-library requests (sub-function 0x0A).
struct ZOKT_TC_55_MER_STRUCT {
    UINT8 ReturnStatus;
    UINT8 SubFunction;
    UINT32 First;
    UINT32 Second;
    UINT8 Request;        // ME_REQUEST_
    UINT8 RegionId;
    UINT16 Status;        // ME_STATUS_ bits of the answer
    UINT32 DataAddress;   // physical: interface buffer + 0x400
    UINT32 DataSize;
    UINT32 DataSum;       // 16-bit word sum of the data (transfers only)
    UINT32 DataEnd;       // physical address just past the data
};
struct ZOKT_MER_BLK_ENTRY {
    char Cmd[4];
    char Help[64];
    UINT32 StartAddress;
    UINT32 Size;
    UINT8 Id;             // 5 = the BIOS region
    UINT8 Lock;
};
struct ZOKT_MER_TABLE_RECORD {
    UINT8 ReturnStatus;
    UINT8 SubFunction;
    UINT16 Count;
    ZOKT_MER_BLK_ENTRY Entries[ME_MAX_REGIONS];
};
// The program's copy of the table.
struct ZOKT_MER_BLK_DATA_INFO {
    UINT32 TotalSize;     // sizes of the non-BIOS entries
    UINT16 Count;
    ZOKT_MER_BLK_ENTRY Entries[1];
};
#pragma pack(pop)
static_assert(sizeof(ZOKT_TC_55_MEUD_STRUCT) == 18, "ME record is 18 bytes");
static_assert(offsetof(ZOKT_TC_55_MEUD_STRUCT, BiosRegionLength) == 0x0E, "ME record layout");
static_assert(sizeof(ZOKT_TC_55_MEUD_EX_STRUCT) == 30 && offsetof(ZOKT_TC_55_MEUD_EX_STRUCT, FlashAddress) == 0x16,
              "long ME record layout");
static_assert(sizeof(ZOKT_TC_55_MER_STRUCT) == 30 && offsetof(ZOKT_TC_55_MER_STRUCT, Request) == 0x0A &&
                  offsetof(ZOKT_TC_55_MER_STRUCT, Status) == 0x0C &&
                  offsetof(ZOKT_TC_55_MER_STRUCT, DataAddress) == 0x0E &&
                  offsetof(ZOKT_TC_55_MER_STRUCT, DataEnd) == 0x1A,
              "region request layout");
static_assert(sizeof(ZOKT_MER_BLK_ENTRY) == 78, "region entry is 78 bytes");
static_assert(sizeof(ZOKT_MER_TABLE_RECORD) == ME_TABLE_RECORD_SIZE, "17 entries fill the table record");
static_assert(offsetof(ZOKT_MER_BLK_DATA_INFO, Entries) == 6, "table copy entries at 6");

// One request of sub-functions 0-8; ids 0 and 3 copy the answer into *info
// (allocating it when null).
ENUM_ERR_ID ZOKT_SWSMI_ME(ENUM_ME_FLASH_ID id, ZOKT_TC_55_MEUD_STRUCT** info);
UINT8 ZOKT_ME_VersionCheck();
UINT8 ZOKT_ME_CheckSupport();
UINT8 ZOKT_ME_Ignition_CheckSupport();
UINT8 ZOKT_ME_GetMEInfo(ZOKT_TC_55_MEUD_STRUCT** info);
// A start is taken as opening the update unless the firmware clearly
// refused it (answered without "done"): a lost answer may hide an accepted
// start. An end that goes unanswered is sent again (ZOKT_UNANSWERED_SENDS).
UINT8 ZOKT_ME_Full_FlashStart();
UINT8 ZOKT_ME_Full_FlashEnd();
UINT8 ZOKT_ME_Ignition_FlashStart();
UINT8 ZOKT_ME_Ignition_FlashEnd();
// From its start to its end the update's end is on the run-end list, so
// whichever way the run ends the update is not left open.
// A capsule push the firmware applies after the run: the open session and
// update stay for it when the run succeeds; a failed run frees the session
// and ends the update, as the run-end list would have.
void ZOKT_ME_HandOver();
UINT8 ZOKT_ME_Erase(UINT32 address, UINT32 size, CallBackFn_T cb);
UINT8 ZOKT_ME_Write(UINT32 address, UINT32 size, UINT8* data, CallBackFn_T cb);
// Reads size bytes (at most the buffer's room behind 0x400) into out;
// returns the bytes read, 0 on failure.
UINT32 ZOKT_MER_ME_DUMP(UINT8* out, UINT32 address, UINT32 size, CallBackFn_T cb);
// Reads size bytes back in pages, as ZOKT_ME_Write sends them, and compares
// them with data: 1 when every page was read and equal. The callback gets
// (page address, gRomSize, page size) after each page read.
UINT8 ZOKT_ME_Verify(UINT32 address, UINT32 size, UINT8* data, CallBackFn_T cb);

// Single-binary analysis of the ROM file.
UINT8 ZOKT_ME_CheckMEData(UINT8* file, UINT32 size);
// The first 0x400 bytes of the file hold a flash descriptor; nothing is kept.
UINT8 ZOKT_ME_HasDescriptor(const UINT8* file, UINT32 size);
// Forgets the file and its analysis.
void ZOKT_ME_ForgetFile();
UINT8 ZOKT_ME_GetBIOSAddrSeting(UINT8** bios, UINT32& size);
UINT8 ZOKT_ME_BufferISSingleBin();
// The ME data size the analysis found (sum of the non-BIOS regions, or the runtime length).
UINT32 ZOKT_ME_GetMEBufferSize();

// Region requests and the region table.
ENUM_ERR_ID ZOKT_MER_INTERFACE(UINT8* data, UINT32 size, UINT8 regionId, UINT8 request, UINT32 first,
                               UINT32 second, UINT8& callAgain);
UINT8 ZOKT_MER_Load();
// Takes the region table from the firmware's answer in `buffer` (the
// interface buffer): 1 when the firmware gave one.
UINT8 ZOKT_MER_TakeTable(const UINT8* buffer);
UINT16 ZOKT_MER_GetTotalCmdNum();
const char* ZOKT_MER_GetCmdString(UINT32 n);  // at most 4 characters, terminated
const char* ZOKT_MER_GetCmdHelp(UINT32 n);    // at most 63 characters, terminated
UINT8 ZOKT_MER_GetCmdID(UINT32 n);
UINT32 ZOKT_MER_GetStartAddr(UINT32 n);
UINT32 ZOKT_MER_GetBlockSize(UINT32 n);
UINT8 ZOKT_MER_GetCmdLock(UINT32 n);
const char* ZOKT_MER_GetRegionName(UINT8 regionId);
// Bytes a region session takes from the ME data: the larger of the table's
// non-BIOS total and the runtime length (the table's total alone with the
// newer interface).
UINT32 ZOKT_MER_PushSize();
UINT8 ZOKT_MER_Init();
UINT8 ZOKT_MER_FTFMode_Enable();
UINT8 ZOKT_MER_PushData(UINT8* data, CallBackFn_T cb);
UINT8 ZOKT_MER_Update(UINT8 regionId);
// Frees the region or update-library session; sent again while it goes
// unanswered.
UINT8 ZOKT_MER_Release();
// 1 from a session or capsule request that was sent and not clearly
// refused until the session is freed; meanwhile the run-end list holds its
// free.
UINT8 ZOKT_MER_SessionMayBeOpen();
// The session's free leaves the run-end list (ZOKT_ME_HandOver).
void ZOKT_MER_HandOver();

// Update library.
UINT8 ZOKT_MEUL_Init(UINT32 size);
UINT8 ZOKT_MEUL_PushData(UINT8* data, UINT32 size, CallBackFn_T cb);
UINT8 ZOKT_MEUL_Update();
UINT8 ZOKT_MEUL_OnlyME_Use_Capsule_Update(UINT32 value);
UINT8 ZOKT_MEUL_BIOS_ME_Use_Capsule_Update(UINT32 value);

void ZOKT_ME_Release();
ENUM_ERR_ID ZOKT_ME_GetLastError();

// The same requests for the engineering "meinfo" option, printing what the
// firmware answered.
ENUM_ERR_ID ZOKT_SWSMI_ME_debug(ENUM_ME_FLASH_ID id, ZOKT_TC_55_MEUD_STRUCT** info);
UINT8 ZOKT_ME_CheckSupport_debug();
UINT8 ZOKT_ME_Ignition_CheckSupport_debug();
UINT8 ZOKT_MER_Load_debug();

// 16-bit sum of the data's little-endian u16 words (a last odd byte counts as a word).
UINT16 CalculateSum16(const UINT8* data, UINT32 size);

// Shared state of the ME request files.
extern ZOKT_TC_55_MEUD_STRUCT* g_pMEInfo;
extern UINT8 g_ME_NewInterface;
extern ENUM_ERR_ID g_ME_LastError;
extern ZOKT_MER_BLK_DATA_INFO* g_MER_BlkDataInfo;
// Builds an ME request in `request` with the record size written directly
// (the terminator behind it); returns the record.
UINT8* ZOKT_ME_BuildRequest(UINT8* request, UINT16 recordSize);
// A new zero-filled request of `requestSize` bytes built as above, *record
// its record; null when memory runs out.
UINT8* ZOKT_ME_NewRequest(UINT32 requestSize, UINT16 recordSize, UINT8** record);
// Zeroes the first `clear` bytes of the interface buffer, copies the request
// in, frees it and raises the request.
void ZOKT_ME_SendRequest(UINT8* request, UINT32 requestSize, UINT32 clear);
