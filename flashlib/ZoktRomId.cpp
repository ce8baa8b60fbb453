// ROM-ID check: a query, then the requested piece of the ROM file.
#include "ZoktRomId.h"
#include "SmiTransport.h"
#include "TKXPhysMem.h"
#include "ZoktOneRecord.h"

static char gRomIdText[256];
static UINT8 gRomIdHaveText = 0;
static UINT16 gRomIdReturnStatus = 0;

const char* ZOKT_RomID_Check_ReString() { return gRomIdHaveText ? gRomIdText : nullptr; }

UINT8 ZOKT_RomID_Check(const UINT8* romFile, UINT32 romSize, UINT16& returnStatus) {
    gRomIdText[0] = '\0';
    gRomIdHaveText = 0;
    if (g_ZoktVer == 0 || gpIntrBuf == nullptr) return 0;
    UINT8* block = AllocMem(ZOKT_ORI_BLOCK_SIZE);
    if (block == nullptr) return 0;

    ZOKT_ORI_STRUCT* record =
        reinterpret_cast<ZOKT_ORI_STRUCT*>(Zokt_BuildOneRecord(block, ZOKT_FS_ORI, ZOKT_EXT_TC_ORI));
    record->Function = ZOKT_TC_ORI_GET;
    UINT16 running = Zokt_RunningSizeOf(block);
    MemCpy(gpIntrBuf, block, running);
    Zokt_SMI_26();
    MemCpy(block, gpIntrBuf, running);

    ZOKT_ORI_STRUCT query = *record;
    UINT64 end = static_cast<UINT64>(query.Offset) + query.Size;
    bool wantsRomData = (Zokt_ReturnStatusOf(gpIntrBuf) & ZOKT_RS_SUPPORT) != 0 &&
                        query.Status == (ZOKT_TC_ORI_REQ | ZOKT_TC_ORI_ROM);
    // The piece must lie inside the ROM file and fit behind the request.
    if (!wantsRomData || romFile == nullptr || end > romSize || running + query.Size > ZOKT_ORI_BLOCK_SIZE) {
        FreeMem(block);
        return 0;
    }

    MemSet(block, 0, ZOKT_ORI_BLOCK_SIZE);
    record = reinterpret_cast<ZOKT_ORI_STRUCT*>(Zokt_BuildOneRecord(block, ZOKT_FS_ORI, ZOKT_EXT_TC_ORI));
    record->Function = ZOKT_TC_ORI_CHECK;
    record->Offset = query.Offset;
    record->Size = query.Size;
    running = Zokt_RunningSizeOf(block);
    if (query.Size != 0) MemCpy(block + running, romFile + query.Offset, query.Size);
    MemCpy(gpIntrBuf, block, running + query.Size);
    Zokt_SMI_26();
    FreeMem(block);

    gRomIdReturnStatus = Zokt_ReturnStatusOf(gpIntrBuf);
    returnStatus = gRomIdReturnStatus;
    if ((gRomIdReturnStatus & ZOKT_RS_DIS_OEMSTR) != 0) {
        char text[256];
        if (Zokt_GetAnswerText(gpIntrBuf, text) != 0) {
            Zokt_FrameText(gRomIdText, " - ", text, " \n");
            gRomIdHaveText = 1;
        }
    }
    return 1;
}
