// The outcome of the last ZOKT request and the send-again helper. Each
// record type says "done" in its own status field; a type whose answer is a
// verdict rather than a status (password, ROM-ID, pattern, configuration,
// the version handshake) counts as done once answered, and its family reads
// the verdict itself.
#include "ZoktOutcome.h"
#include "SecureFlash.h"
#include "TKXString.h"
#include "ZoktEc.h"
#include "ZoktEventLog.h"
#include "ZoktFormat.h"
#include "ZoktMe.h"
#include "ZoktMfg.h"
#include "ZoktOaKey.h"
#include "ZoktOemCmd.h"
#include "ZoktVarPreserve.h"

static ZOKT_OUTCOME s_Outcome = eZOKT_NOT_SENT;
// What the request in flight asked: its record type and sub-function.
static UINT8 s_AskedType = 0;
static UINT8 s_AskedSub = 0;

static UINT16 U16At(const UINT8* p) {
    UINT16 v;
    MemCpy(&v, p, 2);
    return v;
}

// Each test gets the answer's record (request + 0x16) and the sub-function asked.
typedef bool (*ZOKT_DONE_TEST)(const UINT8* record, UINT8 sub);

static bool EcDone(const UINT8* r, UINT8 sub) {
    UINT16 status = U16At(r + offsetof(ZOKT_TC_54_EC_STRUCT, Status));
    // The ECX erase and verify also take status 0 for done.
    if (sub == ZOKT_TC_EC_ECX_ERASE || sub == ZOKT_TC_EC_ECX_VERIFY) return status <= ZOKT_RS_EC_OK;
    return status == ZOKT_RS_EC_OK;
}

static bool MeDone(const UINT8* r, UINT8 sub) {
    if (r[0] != 1) return false;
    // A region request may be answered "done" with its status "failed".
    return sub != eMFD_REGION_REQUEST || (U16At(r + offsetof(ZOKT_TC_55_MER_STRUCT, Status)) & ME_STATUS_FAILED) == 0;
}

static bool SetupDone(const UINT8* r, UINT8) { return r[offsetof(ZOKT_SETUP_STRUCT, Status)] == 1; }
static bool OemCmdDone(const UINT8* r, UINT8) {
    return U16At(r + offsetof(ZOKT_OEM_CMD_RECORD, Status)) == ZOKT_TC_OEM_CMD_OK;
}
static bool EventLogDone(const UINT8* r, UINT8) {
    return U16At(r + offsetof(ZOKT_CLN_ERR_LOG_STRUCT, Status)) == ZOKT_TC_CEL_OK;
}
// Status 0 is a firmware without the check, which lets the data pass.
static bool OaKeyDone(const UINT8* r, UINT8) {
    const UINT16 refusals = ZOKT_RS_OA_DATA_IS_INVALID | ZOKT_RS_OA_UPDATE_SKIPPED | ZOKT_RS_OA_UPDATE_DECLINED;
    return (U16At(r + offsetof(ZOKT_OA_HANDLE_STRUCT, Status)) & refusals) == 0;
}
static bool BatteryDone(const UINT8* r, UINT8) {
    return r[offsetof(ZOKT_TC_5B_AC_BAT_STRUCT, Status)] != ZOKT_RS_AC_BAT_ERR;
}
static bool MfgDone(const UINT8* r, UINT8) { return r[offsetof(ZOKT_YOZMFG_STRUCT, Status)] == ZOKT_TC_YOZMFG_OK; }

// The secure-flash payload follows the record; its status byte says 0 for done.
static bool SecureFlashDone(const UINT8* r, UINT8 sub) {
    const UINT8* payload = r - ZOKT_RECORD_OFFSET + ZOKT_SF_PAYLOAD_OFFSET;
    switch (sub) {
    case ZOKT_TC_SFU_GET_FLASH_UPDATE_POLICY: return payload[offsetof(FLASH_POLICY_INFO_BLOCK, Status)] == 0;
    case ZOKT_TC_SFU_SET_FLASH_UPDATE_METHOD: return payload[offsetof(FUNC_FLASH_SESSION_BLOCK, Status)] == 0;
    case ZOKT_TC_SFU_LOAD_FIRMWARE_IMAGE: return payload[offsetof(ZOKT_SF_PIECE_BLOCK, Status)] == 0;
    default: return true;
    }
}

struct ZOKT_DONE_ROW {
    UINT8 Type;
    ZOKT_DONE_TEST Done;
};
static const ZOKT_DONE_ROW kDoneTests[] = {
    {ZOKT_EXT_TC_EC, EcDone},
    {ZOKT_EXT_TC_MEUD, MeDone},
    {ZOKT_EXT_TC_SETUP, SetupDone},
    {ZOKT_EXT_TC_OEM_CMD, OemCmdDone},
    {ZOKT_EXT_TC_CLN_ERR_LOG, EventLogDone},
    {ZOKT_EXT_TC_OA_HANDLE, OaKeyDone},
    {ZOKT_EXT_TC_AC_BAT, BatteryDone},
    {ZOKT_EXT_TC_SECURE_FLASH, SecureFlashDone},
    {ZOKT_EXT_TC_YOZMFG, MfgDone},
};

void Zokt_OutcomeAsked(const UINT8* request) {
    s_Outcome = eZOKT_NOT_SENT;
    if (request == nullptr) return;
    s_AskedType = request[ZOKT_DESC_SIZE];
    // The ME record keeps its done byte first and its sub-function second.
    s_AskedSub = request[ZOKT_RECORD_OFFSET + (s_AskedType == ZOKT_EXT_TC_MEUD ? 1 : 0)];
}

void Zokt_OutcomeAnswered(const UINT8* answer) {
    if (answer == nullptr) return;
    if ((reinterpret_cast<const ZOKT_STRUCT_V2*>(answer)->dwRetuenStatus & ZOKT_RS_SUPPORT) == 0) {
        s_Outcome = eZOKT_UNANSWERED;
        return;
    }
    s_Outcome = eZOKT_DONE;
    for (const ZOKT_DONE_ROW& row : kDoneTests) {
        if (row.Type != s_AskedType) continue;
        if (!row.Done(answer + ZOKT_RECORD_OFFSET, s_AskedSub)) s_Outcome = eZOKT_REFUSED;
        break;
    }
}

void Zokt_ResetOutcome() { s_Outcome = eZOKT_NOT_SENT; }

ZOKT_OUTCOME Zokt_LastOutcome() { return s_Outcome; }

UINT8 Zokt_SendWhileUnanswered(ZOKT_SEND_FUNC send, void* context, UINT32* sends) {
    UINT8 result = 0;
    UINT32 sent = 0;
    while (sent < ZOKT_UNANSWERED_SENDS) {
        Zokt_ResetOutcome();
        result = send(context);
        if (Zokt_LastOutcome() != eZOKT_NOT_SENT) ++sent;
        if (result != 0 || Zokt_LastOutcome() != eZOKT_UNANSWERED) break;
    }
    if (sends != nullptr) *sends = sent;
    return result;
}
