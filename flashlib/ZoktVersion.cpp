// The ZOKT version handshake: asks whether the firmware speaks ZOKT, which
// version, and whether it has a greeting text or wants its own error text
// shown in place of the program's.
#include "SmiTransport.h"
#include "TKXPhysMem.h"
#include "TKXString.h"
#include "ZoktFormat.h"

UINT16 g_ZoktVer = 0;
static char ZoktOEMString[256];
static UINT8 bRS_DIS_OEMSTR = 0;
static UINT8 bRS_ERR_OUT = 0;

ENUM_ERR_ID Zokt_VersionCheck() {
    g_ZoktVer = 0;
    if (gpIntrBuf == nullptr) return eEID_BIOS_BUFFER_ALLOC;
    UINT8* request = AllocMem(ZOKT_REQUEST_SIZE + 4);
    if (request == nullptr) return eEID_MEM_ALLOC;
    MemSet(request, 0, ZOKT_REQUEST_SIZE);

    // Descriptor without function bit, a type-0 header without record, the terminator.
    Zokt_Desc_Header(request, 0);
    Zokt_Ext_Header(request, ZOKT_EXT_TC_VERSION, 1);
    Zokt_TC_End_Header(request, ZOKT_EXT_TC_VERSION, 0);
    MemCpy(gpIntrBuf, request, ZOKT_REQUEST_SIZE);
    Zokt_SMI_26();
    FreeMem(request);

    const ZOKT_STRUCT_V2* answer = reinterpret_cast<const ZOKT_STRUCT_V2*>(gpIntrBuf);
    UINT16 status = answer->dwRetuenStatus;
    if ((status & ZOKT_RS_SUPPORT) == 0) return eEID_NO_ERROR;
    if ((status & ZOKT_RS_DIS_OEMSTR) != 0) {
        char text[256];
        if (Zokt_GetAnswerText(gpIntrBuf, text) != 0) {
            bRS_DIS_OEMSTR = 1;
            TKX_BoundedCopy(ZoktOEMString, text, 255);
        }
    }
    if ((status & ZOKT_RS_ERR_OUT) != 0) {
        bRS_ERR_OUT = 1;
        return eEID_ZOKT_OEM_ERROR;
    }
    g_ZoktVer = answer->Version;
    return eEID_NO_ERROR;
}

UINT16 Zokt_GetVer() {
    // A firmware without ZOKT leaves the version 0, so it is asked again each time.
    if (g_ZoktVer == 0) Zokt_VersionCheck();
    return g_ZoktVer;
}

const char* Zokt_GetOEMString() { return ZoktOEMString; }
UINT8 Zokt_GetRS_ERR_OUT() { return bRS_ERR_OUT; }
UINT8 Zokt_RS_DIS_OEMSTR() { return bRS_DIS_OEMSTR; }
