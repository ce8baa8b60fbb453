// Debug forms of the ME requests for the engineering "meinfo" option: the
// requests themselves, then what the firmware answered.
#include "TKXString.h"
#include "ZoktFormat.h"
#include "ZoktMe.h"

ENUM_ERR_ID ZOKT_SWSMI_ME_debug(ENUM_ME_FLASH_ID id, ZOKT_TC_55_MEUD_STRUCT** info) {
    ENUM_ERR_ID err = ZOKT_SWSMI_ME(id, info);
    if (gpIntrBuf == nullptr) return err;
    ZOKT_TC_55_MEUD_STRUCT answer;
    MemCpy(&answer, gpIntrBuf + ZOKT_RECORD_OFFSET, sizeof(answer));
    WriteOut("- Dump ME Info :\n");
    WriteOut("  ReturnStatus     : 0x%X\n", answer.ReturnStatus);
    WriteOut("  SubFunction      : 0x%X\n", answer.SubFunction);
    WriteOut("  RuntimeBase      : 0x%08X\n", answer.RuntimeBase);
    WriteOut("  RuntimeLength    : 0x%08X\n", answer.RuntimeLength);
    WriteOut("  BiosRegionBase   : 0x%08X\n", answer.BiosRegionBase);
    WriteOut("  BiosRegionLength : 0x%08X\n", answer.BiosRegionLength);
    return err;
}

UINT8 ZOKT_MER_Load_debug() {
    UINT8 loaded = ZOKT_MER_Load();
    UINT16 count = ZOKT_MER_GetTotalCmdNum();
    WriteOut("- [DBG] ME Total Block Count : 0x%X\n", count);
    WriteOut("- [DBG] ME Block Info : \n");
    for (UINT32 i = 0; i < count; ++i) {
        WriteOut("        [%d] - Addr : 0x%lX, Size : 0x%lX, Type : 0x%X, Lock : 0x%X\n", static_cast<int>(i),
                 static_cast<unsigned long>(ZOKT_MER_GetStartAddr(i)), static_cast<unsigned long>(ZOKT_MER_GetBlockSize(i)),
                 ZOKT_MER_GetCmdID(i), g_MER_BlkDataInfo->Entries[i].Lock);
        WriteOut("             - Cmd : \"%s\", Descriotion : \"%s\"\n", ZOKT_MER_GetCmdString(i), ZOKT_MER_GetCmdHelp(i));
    }
    return loaded;
}
