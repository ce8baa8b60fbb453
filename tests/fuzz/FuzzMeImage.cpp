// The ME part of an image file as the pre-flash check splits it: the ME
// volume of a single binary, the flash descriptor, and the BIOS part found
// with the firmware's ME information and region table. The input holds the
// two firmware answers, then the file:
//   u8 flags (bit 0: the region interface), 18 bytes of ME information,
//   u16 length N, N bytes of the region-table answer (interface buffer), the file.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>
#include "FuzzKit.h"
#include "HuxCore.h"
#include "RomInfo.h"
#include "RomModelKit.h"
#include "SmiTransport.h"
#include "TKXPhysMem.h"
#include "YozGlobal.h"
#include "YozRomFile.h"
#include "ZoktMe.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzkit::QuietOutput();
    romkit::SetBlocks(fuzzkit::FlashBlocks());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const size_t head = 1 + sizeof(ZOKT_TC_55_MEUD_STRUCT) + 2;
    if (size < head || size > 0x40000) return 0;
    UINT16 tableLength = static_cast<UINT16>(data[head - 2] | data[head - 1] << 8);
    if (size - head < tableLength) return 0;
    romkit::ResetModels();
    ZOKT_ME_ForgetFile();

    g_ME_NewInterface = data[0] & 1;
    g_pMEInfo = reinterpret_cast<ZOKT_TC_55_MEUD_STRUCT*>(AllocMem(sizeof(ZOKT_TC_55_MEUD_STRUCT)));
    memcpy(g_pMEInfo, data + 1, sizeof(ZOKT_TC_55_MEUD_STRUCT));
    std::vector<UINT8> buffer(INTERFACE_BUFFER_SIZE, 0);
    if (tableLength != 0) memcpy(buffer.data(), data + head, tableLength);
    ZOKT_MER_TakeTable(buffer.data());
    for (UINT32 i = 0; i < ZOKT_MER_GetTotalCmdNum(); ++i) {
        ZOKT_MER_GetCmdString(i);
        ZOKT_MER_GetCmdHelp(i);
        ZOKT_MER_GetRegionName(ZOKT_MER_GetCmdID(i));
    }

    std::vector<UINT8> file(data + head + tableLength, data + size);
    YOZ_pOpenFileBuff = file.data();
    YOZ_OpenFileSize = static_cast<UINT32>(file.size());
    UINT8 fileHasMe = 0;
    if (YOZ_GlobalCheck_SplitMePart(1, &fileHasMe) == eEID_NO_ERROR) {
        UINT8* bios = nullptr;
        UINT32 biosSize = 0;
        if (fileHasMe && ZOKT_ME_GetBIOSAddrSeting(&bios, biosSize) && bios != nullptr) {
            // The BIOS part lies inside the file.
            if (bios < file.data() || !YOZ_RangeInside(static_cast<UINT32>(bios - file.data()), biosSize,
                                                       static_cast<UINT32>(file.size()))) {
                abort();
            }
        }
    }
    YOZ_RomFile_CheckMEIsSingleBin();
    ZOKT_ME_GetMEBufferSize();

    FreeMem(g_pMEInfo);
    g_pMEInfo = nullptr;
    FreeMem(g_MER_BlkDataInfo);
    g_MER_BlkDataInfo = nullptr;
    ZOKT_ME_ForgetFile();
    YOZ_RomFile_Init();
    return 0;
}
