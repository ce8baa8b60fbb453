// The manufacturing option names: one request, then lookups in a heap copy
// of the firmware's table.
#include "ZoktMfg.h"
#include "SmiTransport.h"
#include "TKXPhysMem.h"
#include "ZoktOneRecord.h"

ZOKT_YOZMFG_STRUCT gZOKT_YOZMFG;
UINT16 gZOKT_YOZMFG_ReturnStatus = 0;
ZOKT_YOZMFG_CMD* pMFGCmdList = nullptr;

void ZOKT_YOZMFG_Release() {
    MemSet(&gZOKT_YOZMFG, 0, sizeof(gZOKT_YOZMFG));
    gZOKT_YOZMFG_ReturnStatus = 0;
    if (pMFGCmdList != nullptr) FreeMem(pMFGCmdList);
    pMFGCmdList = nullptr;
}

UINT8 ZOKT_YOZMFG_Support() {
    ZOKT_YOZMFG_Release();
    if (gpIntrBuf == nullptr) return 0;
    UINT8* request = AllocMem(ZOKT_REQUEST_SIZE);
    if (request == nullptr) return 0;
    Zokt_BuildOneRecord(request, ZOKT_FS_YOZMFG, ZOKT_EXT_TC_YOZMFG);
    MemCpy(gpIntrBuf, request, ZOKT_REQUEST_SIZE);
    Zokt_SMI_26();
    MemCpy(request, gpIntrBuf, ZOKT_REQUEST_SIZE);
    FreeMem(request);

    gZOKT_YOZMFG_ReturnStatus = Zokt_ReturnStatusOf(gpIntrBuf);
    ZOKT_YOZMFG_STRUCT* answer = reinterpret_cast<ZOKT_YOZMFG_STRUCT*>(gpIntrBuf + ZOKT_RECORD_OFFSET);
    if (answer->Status != ZOKT_TC_YOZMFG_OK) return 0;

    // The table must lie inside the interface buffer; a count that runs past
    // it is not a manufacturing answer.
    UINT32 tableAt = ZOKT_RECORD_OFFSET + answer->TableOffset;
    UINT32 tableBytes = static_cast<UINT32>(answer->Count) * sizeof(ZOKT_YOZMFG_CMD);
    if (tableAt + tableBytes > INTERFACE_BUFFER_SIZE) return 0;
    UINT8* table = gpIntrBuf + tableAt;
    answer->pTable = table;
    if (tableBytes != 0) {
        pMFGCmdList = reinterpret_cast<ZOKT_YOZMFG_CMD*>(AllocMem(tableBytes));
        if (pMFGCmdList == nullptr) return 0;
        MemCpy(pMFGCmdList, table, tableBytes);
        // A help text fills its field without a terminator at most; a word
        // may use all 16 bytes (it is terminated when it is looked up).
        for (UINT32 i = 0; i < answer->Count; ++i) pMFGCmdList[i].Help[ZOKT_YOZMFG_HELP_SIZE - 1] = '\0';
    }
    MemCpy(&gZOKT_YOZMFG, answer, sizeof(gZOKT_YOZMFG));
    return 1;
}

const char* ZOKT_YOZMFG_GetCmdString(UINT8 id) {
    static char word[ZOKT_YOZMFG_WORD_SIZE + 1];
    if (pMFGCmdList == nullptr) return nullptr;
    for (UINT32 i = 0; i < gZOKT_YOZMFG.Count; ++i) {
        if (pMFGCmdList[i].Id != id) continue;
        // An empty word means the option does not exist.
        if (pMFGCmdList[i].Word[0] == '\0') return nullptr;
        MemSet(word, 0, sizeof(word));
        MemCpy(word, pMFGCmdList[i].Word, ZOKT_YOZMFG_WORD_SIZE);
        return word;
    }
    return nullptr;
}
