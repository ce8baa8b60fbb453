#include "RomModelKit.h"
#include <cstdio>
#include <cstring>
#include "HuxCore.h"
#include "RomInfo.h"
#include "TKXOutput.h"
#include "TKXPhysMem.h"
#include "YozRomFile.h"
#include "YozSysRom.h"

namespace romkit {

void ResetModels() {
    FreeMem(YOZ_pSystembuff);
    YOZ_pSystembuff = nullptr;
    YOZ_SysRom_Var_Init();
    YOZ_RomFile_Init();
    YOZ_SysNCBCnt = 0;
}

void SetBlocks(const std::vector<romimg::BlockRun>& runs) {
    UINT32 count = 0;
    for (const romimg::BlockRun& r : runs) count += r.count;
    // The program owns the table (it frees it when it reads a new one).
    FreeMem(gpFlashInfo);
    UINT8* table = AllocMem(16 + 9 * count);
    table[5] = 0x0B;
    table[6] = static_cast<UINT8>(count);
    table[7] = static_cast<UINT8>(count >> 8);
    UINT32 at = 16, address = 0;
    for (const romimg::BlockRun& r : runs) {
        for (UINT32 i = 0; i < r.count; ++i) {
            memcpy(&table[at], &address, 4);
            memcpy(&table[at + 4], &r.size, 4);
            table[at + 8] = static_cast<UINT8>(r.type);
            at += 9;
            address += r.size;
        }
    }
    gpFlashInfo = reinterpret_cast<sROMInfo*>(table);
    gRomSize = address;
    gFlashBlockSize = runs.empty() ? 0 : runs.front().size;
    ResetModels();
}

void UseImage(romimg::Bytes& image) {
    YOZ_pOpenFileBuff = image.data();
    YOZ_OpenFileSize = static_cast<UINT32>(image.size());
}

void UseFlashCopy(const romimg::Bytes& flash) {
    FreeMem(YOZ_pSystembuff);
    YOZ_pSystembuff = AllocMem(static_cast<UINT32>(flash.size()));
    memcpy(YOZ_pSystembuff, flash.data(), flash.size());
    YOZ_SysRomLoadOK = 1;
}

}  // namespace romkit
