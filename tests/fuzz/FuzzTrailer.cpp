// The configuration container and its record readers over a whole program
// file: the container search, the record walk (every listed record inside
// the file), the "@VER", "@ROM" and "@CMD" readers merging into a command
// line, and the "@DIS" command enable table.
#include <cstdint>
#include <cstdlib>
#include <vector>
#include "HuxCore.h"
#include "HuxModuleId.h"
#include "TKXPhysMem.h"
#include "TKXUaf.h"
#include "YozRomFile.h"
#include "YozZozRecords.h"

static void FreeArguments(TKXArgvList& args) {
    for (unsigned long i = 0; i < args.size(); ++i) {
        if (args[i]->fromTrailer) delete[] args[i]->text;
        delete args[i];
    }
    args.clear();
}

// The record must lie inside the file as the list promises.
static void CheckListed(const UINT8* file, size_t size) {
    for (unsigned long i = 0; i < TKXUafDataList.size(); ++i) {
        const UINT8* r = reinterpret_cast<const UINT8*>(TKXUafDataList[i]);
        size_t head = i == 0 ? UAF_HEADER_SIZE : UAF_RECORD_HEAD_SIZE;
        if (r < file || static_cast<size_t>(r - file) > size || size - static_cast<size_t>(r - file) < head) abort();
    }
}

// Largest compressed embedded image tried.
static const UINT32 kMaxUnpackedImage = 1u << 20;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    YOZ_ZOZ_Init();
    // A few commands for the enable table to act on.
    YOZ_ZOZ_RegisterModule(eMID_BOOTBLOCKFLASH, "/B");
    YOZ_ZOZ_RegisterModule(eMID_MAINBIOSFLASH, "/P");
    YOZ_ZOZ_RegisterModule(eMID_NVRAMFLASH, "/N");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 0x400000) return 0;
    // The file hub's copy of the program file, exactly as long as the file.
    std::vector<UINT8> file(data, data + size);
    TKXUafDataList.clear();
    IndexUaf(file.data(), static_cast<UINT32>(size));
    CheckListed(file.data(), size);
    // An embedded image may unpack to hundreds of MiB: its cost grows with
    // the size, not its reach into the code (FuzzDecompress takes the decoder).
    _TKX_UAF_DATA* rom = nullptr;
    GetUafDataBySign("@ROM", &rom);
    if (rom != nullptr && rom->StoredSize != rom->UnpackedSize && rom->UnpackedSize > kMaxUnpackedImage) return 0;

    static char program[] = "yozmfglnx_64", option[] = "/P", name[] = "new.rom";
    for (int form = 0; form < 2; ++form) {
        TKXArgvList args;
        args.push_back(new TKX_ARGV_ITEM{program, 0, 0});
        args.push_back(new TKX_ARGV_ITEM{form == 0 ? option : name, 0, 0});
        char* version = nullptr;
        UINT8* image = nullptr;
        UINT32 imageSize = 0;
        YOZ_bZOZLoadFileOK = 0;
        YOZ_ZOZ_Load(args, version, image, imageSize);
        for (unsigned long i = 0; i < args.size(); ++i) {
            if (args[i]->text == nullptr) abort();
        }
        FreeArguments(args);
    }
    YOZ_ZOZ_LoadCmdStatus();
    // The embedded image stays owned by the record reader until the next load.
    return 0;
}
