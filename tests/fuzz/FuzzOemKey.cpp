// The OEM activation key processors over a key file and a pair of ROMs: the
// key goes into the system's version-4 "$FID" record and over the image's,
// whose file checksum follows; then the clearing form. The input holds
//   u8 flags (bit 0: the rest is the flash copy, else the image file),
//   u8 key length K, K bytes of key file, the rest.
// The other side of the pair is the builders' flash with a blank key.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>
#include "FuzzKit.h"
#include "HuxCore.h"
#include "RomModelKit.h"
#include "TKXPhysMem.h"
#include "YozFlash.h"
#include "YozOakProc.h"
#include "YozRomFile.h"
#include "YozSysRom.h"

static romimg::Bytes g_pair;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzkit::QuietOutput();
    romkit::SetBlocks(fuzzkit::FlashBlocks());
    g_pair = fuzzkit::KeyedFlash(romimg::Bytes(0x31, 0xFF));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size > 2 + 0xFF + fuzzkit::kFlashSize) return 0;
    UINT32 keyLength = data[1];
    if (size - 2 < keyLength) return 0;
    bool restIsFlash = (data[0] & 1) != 0;
    std::vector<UINT8> key(data + 2, data + 2 + keyLength);
    const uint8_t* rest = data + 2 + keyLength;
    size_t restSize = size - 2 - keyLength;
    if (restIsFlash && restSize > fuzzkit::kFlashSize) return 0;

    romkit::ResetModels();
    YOZ_SysRom_GetBlockInfo();
    romimg::Bytes flash = g_pair;
    romimg::Bytes image = g_pair;
    if (restIsFlash) {
        flash.assign(fuzzkit::kFlashSize, 0xFF);
        if (restSize > 0) memcpy(flash.data(), rest, restSize);
    } else {
        image.assign(rest, rest + restSize);
    }
    romkit::UseFlashCopy(flash);
    romkit::UseImage(image);
    YOZ_OpenFileOK = 1;
    YOZ_FlashItemList_Init();
    gOAKF_pBinFile = key.data();
    gOAKF_BinFileSize = keyLength;

    // As the key command checks the image first: its checksums find the "$FID" file.
    YOZ_RomFile_CheckSum(image.data(), static_cast<UINT32>(image.size()));
    OAK_Proc_UpdateOemActKey(YOZ_pSystembuff, image.data(), key.data(), keyLength);
    OAD_Proc_UpdateOemActKey(YOZ_pSystembuff, keyLength);

    YOZ_FlashItemList_Release();
    gOAKF_pBinFile = nullptr;
    gOAKF_BinFileSize = 0;
    YOZ_SysRom_Var_Release();
    YOZ_RomFile_Init();
    FreeMem(YOZ_pSystembuff);
    YOZ_pSystembuff = nullptr;
    return 0;
}
