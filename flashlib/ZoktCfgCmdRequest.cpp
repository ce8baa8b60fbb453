// The configuration request: collected in the parse pass, sent in the
// execute pass, its answer applied to the queue items.
#include "SmiTransport.h"
#include "TKXPortIo.h"
#include "TKXPhysMem.h"
#include "TKXString.h"
#include "ZoktCfgCmd.h"
#include "ZoktFormat.h"
#include "ZoktOutcome.h"

ZOKT_TC_51_DC_STRUCT ZOKT_defcmdset = {0, 0};
static UINT8* pCfgRequest = nullptr;
static UINT8 bCfgInitialized = 0;
static char Zokt_Cfg_OEMString[256];
static UINT8 bRS_DIS_Cfg_OEMSTR = 0;
static UINT8 bRS_Cfg_ERR_OUT = 0;

static void FreeRequest() {
    FreeMem(pCfgRequest);
    pCfgRequest = nullptr;
}

static void DeleteWord(TKXArgvList& words, unsigned long i) {
    TKX_ARGV_ITEM* item = words[i];
    words.remove(i);
    if (item->fromTrailer) delete[] item->text;
    delete item;
}

UINT8 ZOKT_InitCfgCmd(TKXArgvList& words) {
    MemSet(&ZOKT_CfgExtData, 0, sizeof(ZOKT_CfgExtData));
    ZOKT_CfgExtDataEnable = 0;
    if (bCfgInitialized != 0) return 0;
    pCfgRequest = AllocMem(ZOKT_REQUEST_SIZE);
    if (pCfgRequest == nullptr) return 0;
    MemSet(pCfgRequest, 0, ZOKT_REQUEST_SIZE);
    Zokt_Desc_Header(pCfgRequest, ZOKT_FS_CFG);
    Zokt_Ext_Header(pCfgRequest, ZOKT_EXT_TC_CFG, 1);
    Zokt_TC_End_Header(pCfgRequest, ZOKT_EXT_TC_CFG, 1);
    ZOKT_defcmdset.Disable = 0;
    ZOKT_defcmdset.Enable = 0;

    unsigned long i = 1;
    while (i < words.size()) {
        UINT32 bit = 0;
        INT16 kind = ZOKT_CfgCmd_Strcmd2Valuecmd(words[i]->text, bit);
        if (kind == 1) {
            ZOKT_defcmdset.Enable |= bit;
        } else if (kind == -1 && bit != 0) {
            // A clearing word is the firmware's business only: no module may see it.
            ZOKT_defcmdset.Disable |= bit;
            DeleteWord(words, i);
            continue;
        }
        ++i;
    }
    bCfgInitialized = 1;
    return 1;
}

static UINT8 SendCfg(void*) {
    MemCpy(gpIntrBuf, pCfgRequest, ZOKT_REQUEST_SIZE);
    if (ZOKT_CfgExtDataEnable != 0) {
        // The entries take the terminator's place; the request copy remembers it by a zero.
        MemCpy(gpIntrBuf + ZOKT_CFG_TERMINATOR_OFFSET, &ZOKT_CfgExtData, sizeof(ZOKT_CfgExtData));
        MemSet(pCfgRequest + ZOKT_CFG_TERMINATOR_OFFSET, 0, 4);
    }
    Zokt_SMI_26();
    Delay(ZOKT_CFG_WAIT_US);
    return 0;
}

ZOKT_TC_51_DC_STRUCT* ZOKT_RunCfgCmd(ZOKT_TC_51_DC_STRUCT* masks) {
    if (pCfgRequest == nullptr || bCfgInitialized == 0 || gpIntrBuf == nullptr) return nullptr;
    MemCpy(pCfgRequest + ZOKT_RECORD_OFFSET, masks, sizeof(ZOKT_TC_51_DC_STRUCT));
    UINT32 end = ZOKT_EXT_TBL_END;
    MemCpy(pCfgRequest + ZOKT_CFG_TERMINATOR_OFFSET, &end, 4);
    // An answer lost on the way is no "nothing to change": the request goes
    // out again while unanswered. A firmware that speaks no ZOKT answers
    // none: it goes out once.
    if (g_ZoktVer == 0) SendCfg(nullptr);
    else Zokt_SendWhileUnanswered(SendCfg, nullptr);

    const ZOKT_STRUCT_V2* answer = reinterpret_cast<const ZOKT_STRUCT_V2*>(gpIntrBuf);
    if ((answer->dwRetuenStatus & ZOKT_RS_SUPPORT) == 0) {
        FreeRequest();
        return nullptr;
    }
    if ((answer->dwRetuenStatus & ZOKT_RS_DIS_OEMSTR) != 0) {
        char text[256];
        if (Zokt_GetAnswerText(gpIntrBuf, text) != 0) {
            TKX_BoundedCopy(Zokt_Cfg_OEMString, text, 255);
            bRS_DIS_Cfg_OEMSTR = 1;
        }
    }
    if ((answer->dwRetuenStatus & ZOKT_RS_ERR_OUT) != 0) {
        bRS_Cfg_ERR_OUT = 1;
        FreeRequest();
        return nullptr;
    }
    ZOKT_TC_51_DC_STRUCT* record = reinterpret_cast<ZOKT_TC_51_DC_STRUCT*>(gpIntrBuf + ZOKT_RECORD_OFFSET);
    if (record->Disable == masks->Disable && record->Enable == masks->Enable) {
        FreeRequest();
        return nullptr;
    }
    return record;
}

// Sets the enabled byte of every item of each module the mask names.
static void SwitchModules(TKXQueueItemList& items, UINT32 bits, UINT8 enabled) {
    for (unsigned long n = 0; n < items.size(); ++n) {
        ENUM_MODULE_ID id = ZOKT_CFG_NO_MODULE;
        UINT8 empty = ZOKT_CfgCmd_Valuecmd2ModID(bits, id);
        if (id != ZOKT_CFG_NO_MODULE) {
            for (unsigned long i = 0; i < items.size(); ++i) {
                TKX_QUEUE_ITEM* item = items[i];
                if (item != nullptr && item->ModuleId == id) item->Enabled = enabled;
            }
        }
        if (empty != 0) break;
    }
}

void ZOKT_GetDefsetCfgCmd(TKXQueueItemList& items) {
    if (bCfgInitialized == 0) return;
    ZOKT_TC_51_DC_STRUCT* record = ZOKT_RunCfgCmd(&ZOKT_defcmdset);
    if (record == nullptr) return;
    UINT32 enable = record->Enable;
    UINT32 disable = record->Disable;
    if (enable == 0xFFFFFFFFu) return;
    if ((enable & ZOKT_TC_CFG_O) != 0) enable = ZOKT_TC_CFG_O;
    if (ZOKT_CfgExtDataEnable != 0) {
        UINT32 at = reinterpret_cast<const ZOKT_STRUCT_V2*>(gpIntrBuf)->RunningSize;
        if (at >= 4 && at - 4 + sizeof(ZOKT_DC_Ext_Data) <= INTERFACE_BUFFER_SIZE) {
            ZOKT_DC_EXT_ENTRY answered[2];
            MemCpy(answered, gpIntrBuf + at - 4, sizeof(answered));
            for (const ZOKT_DC_EXT_ENTRY& entry : answered) {
                if (entry.Type == ZOKT_TC_CFG_KN) ZOKT_CfgExtData.Kn = entry;
                if (entry.Type == ZOKT_TC_CFG_LN) ZOKT_CfgExtData.Ln = entry;
            }
        }
    }
    SwitchModules(items, enable, 1);
    SwitchModules(items, disable, 0);
}

const char* ZOKT_CfgCmd_GetOEMString() { return Zokt_Cfg_OEMString; }
UINT8 ZOKT_CfgCmd_GetRS_ERROR_OUT() { return bRS_Cfg_ERR_OUT; }
UINT8 ZOKT_CfgCmd_GetRS_DIS_OEMSTR() { return bRS_DIS_Cfg_OEMSTR; }

void ZOKT_CfgCmd_Release() {
    FreeRequest();
    bCfgInitialized = 0;
}

ZOKT_DC_EXT_ENTRY* GetKnEx_HDRData() { return ZOKT_CfgExtData.Kn.Type != 0 ? &ZOKT_CfgExtData.Kn : nullptr; }
ZOKT_DC_EXT_ENTRY* GetLnEx_HDRData() { return ZOKT_CfgExtData.Ln.Type != 0 ? &ZOKT_CfgExtData.Ln : nullptr; }
