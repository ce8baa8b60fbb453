// Builders of the ZOKT request format, the record-size table and the SMI.
#include "ZoktFormat.h"
#include "SmiTransport.h"
#include "TKXString.h"
#include "ZoktOutcome.h"

struct ZOKT_RECORD_SIZE_ROW {
    UINT8 Type;
    UINT16 Size;
};

// Record bytes by type code; the ME record (0x55) depends on the version
// and the manufacturing-name record (0x71) ends with a pointer.
static const ZOKT_RECORD_SIZE_ROW kRecordSizes[] = {
    {ZOKT_EXT_TC_ROMH, 20},     {ZOKT_EXT_TC_CFG, 8},         {ZOKT_EXT_TC_PWD, 4},
    {ZOKT_EXT_TC_ORI, 14},      {ZOKT_EXT_TC_EC, 11},         {ZOKT_EXT_TC_SETUP, 2},
    {ZOKT_EXT_TC_OEM_CMD, 12},  {ZOKT_EXT_TC_CLN_ERR_LOG, 4}, {ZOKT_EXT_TC_OA_HANDLE, 20},
    {ZOKT_EXT_TC_AC_BAT, 2},    {ZOKT_EXT_TC_GET_PATTERN, 68}, {ZOKT_EXT_TC_SECURE_FLASH, 2},
    {ZOKT_EXT_TC_YOZMFG, sizeof(void*) == 8 ? 13 : 9},         {ZOKT_EXT_TC_BGU, 2},
};

UINT16 Zokt_RecordSize(UINT8 type) {
    if (type == ZOKT_EXT_TC_MEUD) return Zokt_GetVer() > 0x20F ? 30 : 18;
    for (const ZOKT_RECORD_SIZE_ROW& row : kRecordSizes) {
        if (row.Type == type) return row.Size;
    }
    return 0;
}

static PZOKT_STRUCT_V2 Desc(UINT8* request) { return reinterpret_cast<PZOKT_STRUCT_V2>(request); }

static void PutU16(UINT8* p, UINT16 v) { MemCpy(p, &v, 2); }
static void PutU32(UINT8* p, UINT32 v) { MemCpy(p, &v, 4); }

void Zokt_Desc_Header(UINT8* request, UINT32 functionSelect) {
    Zokt_ResetOutcome();
    PZOKT_STRUCT_V2 d = Desc(request);
    d->Signature = ZOKT_SIGNATURE;
    d->Version = g_ZoktVer;
    d->RunningSize = ZOKT_DESC_SIZE;
    d->FunctionSelect = functionSelect;
    d->ExtHeaderOffset = ZOKT_DESC_SIZE;
    d->OsType = ZOKT_OS_LINUX;
}

void Zokt_Ext_Header(UINT8* request, UINT8 type, UINT8 subCount) {
    PZOKT_STRUCT_V2 d = Desc(request);
    UINT8* h = request + d->RunningSize;
    h[0] = type;
    h[1] = subCount;
    PutU16(h + 2, Zokt_RecordSize(type));
    d->RunningSize = static_cast<UINT16>(d->RunningSize + ZOKT_EXT_HDR_SIZE);
}

void Zokt_TC_End_Header(UINT8* request, UINT8 type, UINT8 records) {
    PZOKT_STRUCT_V2 d = Desc(request);
    d->RunningSize = static_cast<UINT16>(d->RunningSize + records * Zokt_RecordSize(type));
    PutU32(request + d->RunningSize, ZOKT_EXT_TBL_END);
    d->RunningSize = static_cast<UINT16>(d->RunningSize + 4);
}

void Zokt_SMI_26() {
    Zokt_OutcomeAsked(gpIntrBuf);
    CallOemSmi(SMI_CMD_ZOKT);
    Zokt_OutcomeAnswered(gpIntrBuf);
}

UINT32 Zokt_GetAnswerText(const UINT8* answer, char (&text)[256]) {
    text[0] = '\0';
    if (answer == nullptr) return 0;
    UINT32 at = reinterpret_cast<const ZOKT_STRUCT_V2*>(answer)->RunningSize;
    // The firmware's text may lack its terminator: stop at the buffer's end.
    UINT32 room = at < INTERFACE_BUFFER_SIZE ? INTERFACE_BUFFER_SIZE - at : 0;
    UINT32 n = 0;
    const char* src = reinterpret_cast<const char*>(answer + at);
    while (n < 255 && n < room && src[n] != '\0') {
        text[n] = src[n];
        ++n;
    }
    text[n] = '\0';
    return n;
}
