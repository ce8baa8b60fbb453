// The firmware's ROM-information answer as the BIOS-information module takes
// it (block size, "$FPS" and "$BPT" records, the block table in any of its
// forms), then the region lists of the system ROM model built from it.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>
#include "HuxCore.h"
#include "RomInfo.h"
#include "TKXPhysMem.h"
#include "YozSysRom.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > INTERFACE_BUFFER_SIZE) return 0;
    // The interface buffer, as the firmware left it after the request: what
    // the answer did not cover is still zero.
    std::vector<UINT8> buffer(INTERFACE_BUFFER_SIZE, 0);
    if (size > 0) memcpy(buffer.data(), data, size);
    sROMInfo* answer = reinterpret_cast<sROMInfo*>(buffer.data());
    // The large form comes from the second request, asked for by its version.
    bOnBoardRomIsLarge = answer->Version == ROM_INFO_FORM_LARGE ? 1 : 0;
    gRomSize = 0;
    gFlashBlockSize = 0;
    if (TakeFlashInfoAnswer(answer) == eEID_NO_ERROR) {
        // The converted table tiles the ROM from address 0.
        if (gpFlashInfo == nullptr || gpFlashInfo->BlockCount == 0) abort();
        YOZ_SysRom_Var_Init();
        YOZ_SysRom_GetBlockInfo();
        UINT64 covered = 0;
        for (UINT32 i = 0; i < YOZ_SysRom_GetRgNumber(); ++i) covered += YOZ_SysRom_GetBlockSize(i);
        if (covered != gRomSize) abort();
        YOZ_SysRom_Var_Release();
    }
    FreeMem(gpFlashInfo);
    gpFlashInfo = nullptr;
    return 0;
}
