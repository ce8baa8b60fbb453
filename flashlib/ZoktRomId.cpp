// ROM-ID check: a query, then the requested piece of the ROM file.
#include "ZoktRomId.h"
#include "SmiTransport.h"
#include "TKXPhysMem.h"
#include "ZoktOneRecord.h"
#include "ZoktOutcome.h"

static char gRomIdText[256];
static UINT8 gRomIdHaveText = 0;
static UINT16 gRomIdReturnStatus = 0;

const char* ZOKT_RomID_Check_ReString() { return gRomIdHaveText ? gRomIdText : nullptr; }

struct ROMID_QUERY {
    const UINT8* Request;
    UINT16 Running;
};

static UINT8 SendQuery(void* context) {
    const ROMID_QUERY* q = static_cast<const ROMID_QUERY*>(context);
    MemCpy(gpIntrBuf, q->Request, q->Running);
    Zokt_SMI_26();
    return 0;
}

UINT8 ZOKT_RomID_Check(const UINT8* romFile, UINT32 romSize, UINT16& returnStatus) {
    gRomIdText[0] = '\0';
    gRomIdHaveText = 0;
    if (g_ZoktVer == 0 || gpIntrBuf == nullptr) return ZOKT_ROMID_NOT_CHECKED;
    UINT8* block = AllocMem(ZOKT_ORI_BLOCK_SIZE);
    if (block == nullptr) return ZOKT_ROMID_NOT_CHECKED;

    ZOKT_ORI_STRUCT* record =
        reinterpret_cast<ZOKT_ORI_STRUCT*>(Zokt_BuildOneRecord(block, ZOKT_FS_ORI, ZOKT_EXT_TC_ORI));
    record->Function = ZOKT_TC_ORI_GET;
    UINT16 running = Zokt_RunningSizeOf(block);
    // A query whose answer was lost is no "nothing to check": it goes out
    // again while unanswered.
    ROMID_QUERY ask = {block, running};
    Zokt_SendWhileUnanswered(SendQuery, &ask);
    MemCpy(block, gpIntrBuf, running);

    ZOKT_ORI_STRUCT query = *record;
    FreeMem(block);
    UINT64 end = static_cast<UINT64>(query.Offset) + query.Size;
    bool wantsRomData = (Zokt_ReturnStatusOf(gpIntrBuf) & ZOKT_RS_SUPPORT) != 0 &&
                        query.Status == (ZOKT_TC_ORI_REQ | ZOKT_TC_ORI_ROM);
    if (!wantsRomData) return ZOKT_ROMID_NOT_CHECKED;
    // A piece the file does not hold, or one that does not fit behind the
    // request in the interface buffer, cannot be shown to match.
    if (romFile == nullptr || end > romSize || running + static_cast<UINT64>(query.Size) > INTERFACE_BUFFER_SIZE)
        return ZOKT_ROMID_PIECE_UNAVAILABLE;

    UINT32 blockSize = running + query.Size;
    block = AllocMem(blockSize);
    if (block == nullptr) return ZOKT_ROMID_PIECE_UNAVAILABLE;
    MemSet(block, 0, blockSize);
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
    return ZOKT_ROMID_CHECKED;
}
