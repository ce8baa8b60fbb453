// Pattern query and check.
#include "ZoktPattern.h"
#include "HuxCore.h"
#include "SmiTransport.h"
#include "TKXPhysMem.h"
#include "TKXPortIo.h"
#include "ZoktOneRecord.h"
#include "ZoktOutcome.h"

ZOKT_GET_PATTERN_STRUCT gZOKT_GetPattern;
static UINT8 gPatternCheckArmed = 0;
static UINT16 gPatternReturnStatus = 0;
static char gPatternText[256];
static UINT8 gPatternDisplay = 0;
static UINT8 gPatternErrorOut = 0;

const char* ZOKT_GetPattern_ReString() { return gPatternDisplay ? gPatternText : nullptr; }
UINT8 ZOKT_GPR_GetRS_DIS_OEMSTR() { return gPatternDisplay; }
UINT8 ZOKT_GPR_GetRS_ERROR_OUT() { return gPatternErrorOut; }

// Length of the pattern the query answered; 0 when it does not fit its field.
static UINT32 PatternLength(const ZOKT_GET_PATTERN_STRUCT& record) {
    if ((record.Request & ZOKT_TC_GET_PAT_LENGTH_CHK) != 0) {
        UINT32 length = record.Request & 0x7F;
        return length <= ZOKT_GET_PAT_PATTERN_SIZE ? length : 0;
    }
    UINT32 length = 0;
    while (length < ZOKT_GET_PAT_PATTERN_SIZE && record.Pattern[length] != 0) ++length;
    // Without a terminator inside the field the pattern has no known end.
    return length < ZOKT_GET_PAT_PATTERN_SIZE ? length : 0;
}

// Keeps the return status and the firmware's text of the answer.
static void KeepAnswerText() {
    gPatternReturnStatus = Zokt_ReturnStatusOf(gpIntrBuf);
    gPatternText[0] = '\0';
    gPatternDisplay = 0;
    if ((gPatternReturnStatus & ZOKT_RS_DIS_OEMSTR) == 0) return;
    char text[256];
    if (Zokt_GetAnswerText(gpIntrBuf, text) == 0) return;
    Zokt_FrameText(gPatternText, " ", text, " \n");
    gPatternDisplay = 1;
}

static UINT8 SendQuery(void* request) {
    MemCpy(gpIntrBuf, request, Zokt_RunningSizeOf(static_cast<UINT8*>(request)));
    Zokt_SMI_26();
    return 0;
}

UINT8 ZOKT_GetPatternSupport() {
    MemSet(&gZOKT_GetPattern, 0, sizeof(gZOKT_GetPattern));
    gPatternCheckArmed = 0;
    gPatternErrorOut = 0;
    if (gpIntrBuf == nullptr) return 0;
    UINT8* request = AllocMem(ZOKT_REQUEST_SIZE);
    if (request == nullptr) return 0;
    ZOKT_GET_PATTERN_STRUCT* record = reinterpret_cast<ZOKT_GET_PATTERN_STRUCT*>(
        Zokt_BuildOneRecord(request, ZOKT_FS_GET_PAT, ZOKT_EXT_TC_GET_PATTERN));
    record->Request = ZOKT_TC_GET_PAT_REQ;
    // A query whose answer was lost is no "no check wanted": it goes out
    // again while unanswered. A firmware that speaks no ZOKT answers none:
    // its query goes out once.
    if (g_ZoktVer == 0) SendQuery(request);
    else Zokt_SendWhileUnanswered(SendQuery, request);
    FreeMem(request);

    KeepAnswerText();
    gPatternErrorOut = (gPatternReturnStatus & ZOKT_RS_ERR_OUT) != 0 ? 1 : 0;
    ZOKT_GET_PATTERN_STRUCT answer;
    MemCpy(&answer, gpIntrBuf + ZOKT_RECORD_OFFSET, sizeof(answer));
    if (answer.Status == ZOKT_RS_GET_PAT_OK && PatternLength(answer) != 0) {
        gZOKT_GetPattern = answer;
        gPatternCheckArmed = 1;
    }
    return 1;
}

UINT8 ZOKT_SearchPattern(UINT8* file, UINT32 size) {
    if (!gPatternCheckArmed) return 1;
    if (file == nullptr || size == 0) {
        WriteOut("- [DBG] File Error !!!\n");
        return 0;
    }
    if (gpIntrBuf == nullptr) return 0;
    UINT8* request = AllocMem(ZOKT_REQUEST_SIZE);
    if (request == nullptr) return 0;
    gPatternCheckArmed = 0;

    ZOKT_GET_PATTERN_STRUCT* record = reinterpret_cast<ZOKT_GET_PATTERN_STRUCT*>(
        Zokt_BuildOneRecord(request, ZOKT_FS_GET_PAT, ZOKT_EXT_TC_GET_PATTERN));
    *record = gZOKT_GetPattern;
    UINT32 length = PatternLength(gZOKT_GetPattern);
    UINT8* match = static_cast<UINT8*>(SearchPattern(file, size, gZOKT_GetPattern.Pattern, length));
    UINT32 send = 0;
    if (match != nullptr) {
        UINT32 at = static_cast<UINT32>(match - file);
        send = gZOKT_GetPattern.Size != 0 ? gZOKT_GetPattern.Size : ZOKT_GET_PAT_DEFAULT_SEND;
        if (send > size - at) send = size - at;
        if (send > INTERFACE_BUFFER_SIZE - ZOKT_GET_PAT_DATA_OFFSET) send = INTERFACE_BUFFER_SIZE - ZOKT_GET_PAT_DATA_OFFSET;
        record->Request = ZOKT_TC_GET_PAT_CHK;
        record->Size = static_cast<UINT16>(send);
    } else {
        record->Request = ZOKT_TC_GET_PAT_NOT_FOUND;
    }
    UINT16 running = Zokt_RunningSizeOf(request);
    MemCpy(gpIntrBuf, request, running);
    FreeMem(request);
    if (match != nullptr) {
        // The data's physical address takes the terminator's place.
        UINT64 dataAddress = static_cast<UINT64>(gIntrBufPhyAddr) + ZOKT_GET_PAT_DATA_OFFSET;
        MemCpy(gpIntrBuf + running - 4, &dataAddress, sizeof(dataAddress));
        MemCpy(gpIntrBuf + ZOKT_GET_PAT_DATA_OFFSET, match, send);
    }
    Zokt_SMI_26();

    KeepAnswerText();
    const ZOKT_GET_PATTERN_STRUCT* answer =
        reinterpret_cast<const ZOKT_GET_PATTERN_STRUCT*>(gpIntrBuf + ZOKT_RECORD_OFFSET);
    gPatternErrorOut = (answer->Status & ZOKT_RS_GET_PAT_ERROR) != 0 ? 1 : 0;
    return 1;
}
