// Full build of the image and system models over a 32 MiB image: checksum
// walk, "$FID" finders, hole censuses, identity, ME, capsule and layout scans.
#include <benchmark/benchmark.h>
#include <cstring>
#include "RomImageBuilder.h"
#include "RomInfo.h"
#include "TKXPhysMem.h"
#include "YozRomFile.h"
#include "YozSysRom.h"

using namespace romimg;

namespace {

const uint32_t kSize = 32u << 20;
const uint32_t kBlock = 0x10000;

struct Fixture {
    Rom rom{kSize};
    std::vector<UINT8> table;
    Fixture() {
        // NVRAM 1 MiB, main 29 MiB in one volume, boot 2 MiB in one volume.
        VolumeSpec main;
        main.length = 29u << 20;
        for (uint32_t i = 0; i < 2000; ++i) main.files.push_back(PlainFile(i, 4000 + (i % 7) * 1000));
        main.files.push_back(FidFile(FidSpec()));
        for (uint32_t n = 0; n < 8; ++n) main.files.push_back(RomHoleFile(n, 0x1000));
        main.files.push_back(DmiFile(Pattern(0x800, 1)));
        main.files.push_back(LayoutFile(Pattern(0x100, 2)));
        rom.AddVolume(1u << 20, main);
        VolumeSpec boot;
        boot.ffs3 = true;
        boot.length = 2u << 20;
        for (uint32_t i = 0; i < 100; ++i) boot.files.push_back(PlainFile(5000 + i, 8000));
        boot.files.push_back(FidFile(FidSpec()));
        boot.files.push_back(SlpKeyFile(64));
        boot.files.push_back(SlpMarkerFile(64));
        rom.AddVolume(30u << 20, boot);

        uint32_t count = kSize / kBlock;
        table.assign(16 + 9 * count, 0);
        table[6] = static_cast<UINT8>(count);
        table[7] = static_cast<UINT8>(count >> 8);
        for (uint32_t i = 0; i < count; ++i) {
            uint32_t start = i * kBlock;
            UINT8 type = start < (1u << 20) ? 2 : (start < (30u << 20) ? 1 : 0);
            memcpy(&table[16 + 9 * i], &start, 4);
            memcpy(&table[16 + 9 * i + 4], &kBlock, 4);
            table[16 + 9 * i + 8] = type;
        }
    }
};

void BM_FullModelBuild(benchmark::State& state) {
    static Fixture f;
    gpFlashInfo = reinterpret_cast<sROMInfo*>(f.table.data());
    gRomSize = kSize;
    for (auto _ : state) {
        YOZ_SysRom_Var_Init();
        YOZ_RomFile_Init();
        // System side: regions, flash copy analysis.
        YOZ_SysRom_GetBlockInfo();
        YOZ_pSystembuff = f.rom.bytes.data();
        benchmark::DoNotOptimize(YOZ_SysRom_GetRomID(YOZ_pSystembuff));
        benchmark::DoNotOptimize(YOZ_SysRom_GetVer4Fid(YOZ_pSystembuff));
        benchmark::DoNotOptimize(YOZ_SysRom_SearchNCB(YOZ_pSystembuff));
        benchmark::DoNotOptimize(YOZ_SysRom_CheckRomLayoutData(YOZ_pSystembuff, kSize));
        // Image side.
        YOZ_pOpenFileBuff = f.rom.bytes.data();
        YOZ_OpenFileSize = kSize;
        if (YOZ_RomFile_CheckSum(YOZ_pOpenFileBuff, kSize) != 1) state.SkipWithError("checksum walk failed");
        benchmark::DoNotOptimize(YOZ_RomFile_CheckME_FV(YOZ_pOpenFileBuff, kSize));
        benchmark::DoNotOptimize(YOZ_RomFile_CheckNewCAPGUID(YOZ_pOpenFileBuff, kSize));
        benchmark::DoNotOptimize(YOZ_RomFile_GetVer4Fid(YOZ_pOpenFileBuff));
        if (YOZ_RomFile_SearchNCB(YOZ_pOpenFileBuff) != 1) state.SkipWithError("hole search failed");
        benchmark::DoNotOptimize(YOZ_RomFile_CheckRomLayoutData(YOZ_pOpenFileBuff, kSize));
        YOZ_pSystembuff = nullptr;
    }
}
BENCHMARK(BM_FullModelBuild)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
