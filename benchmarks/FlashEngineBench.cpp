// Main-region update of a 32 MiB emulated flash part through the flash
// engine, as the main-BIOS command runs it after its checks: the whole flash
// is read into the system copy, then every main block is erased, written and
// verified from the new image. The run happens in a child process so that
// its wall time, CPU time (program and emulated firmware together) and peak
// memory are its own. Reports the SMIs sent and the ratio against the
// reference figures of a comparable tool on the same change (about 2 s wall
// and 200 MB).
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include "EmuMachine.h"
#include "FlashRig.h"
#include "TKXPhysMem.h"
#include "TKXPortIo.h"
#include "YozFlash.h"

namespace {

const char kLayout[] = "32x64K:nvram,448x64K:main,32x64K:boot";
const UINT32 kPartSize = 32u << 20;
const double kReferenceWallSeconds = 2.0;
const double kReferencePeakMB = 200.0;
const UINT8 kChange = 0xA5;  // every byte of the main region changes

struct RunReport {
    double wallSeconds = 0;
    double cpuSeconds = 0;
    double systemSeconds = 0;  // the part of the CPU time spent in the kernel (the emulator's file I/O)
    double readWallSeconds = 0;
    long peakKiB = 0;
    unsigned long long virtualWaitUs = 0;
    UINT32 result = 0xFFFFFFFF;
};

int SilentWriteOut(const char*, ...) { return 0; }

double Seconds(const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; }

double CpuSeconds(double* systemSeconds = nullptr) {
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    if (systemSeconds != nullptr) *systemSeconds = Seconds(u.ru_stime);
    return Seconds(u.ru_utime) + Seconds(u.ru_stime);
}

bool IsMain(UINT32 i) { return gpFlashInfo->Blocks[i].Type == 1; }

// The child's work: what the program holds and does for the update.
RunReport UpdateMainRegion() {
    RunReport report;
    WriteOut = SilentWriteOut;
    SetSMI_IFC_DelayTime_Linux();
    UINT64 clock0 = CPU_rdtsc();
    double system0 = 0;
    double cpu0 = CpuSeconds(&system0);
    auto t0 = std::chrono::steady_clock::now();

    UINT8* system = AllocMem(gRomSize);
    UINT8* image = AllocMem(gRomSize);
    UINT8* map = AllocMem(gpFlashInfo->BlockCount);
    if (system == nullptr || image == nullptr || map == nullptr) return report;
    YOZ_SetFlashMsg(YOZ_FLASH_MSG_NONE, gRomSize);
    report.result = YOZ_Flash_Read(system);
    report.readWallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (report.result != eEID_NO_ERROR) return report;

    memcpy(image, system, gRomSize);
    UINT32 mainSize = 0;
    for (UINT32 i = 0; i < gpFlashInfo->BlockCount; ++i) {
        if (!IsMain(i)) continue;
        UINT32 start = gpFlashInfo->Blocks[i].StartAddress, size = gpFlashInfo->Blocks[i].BlockSize;
        for (UINT32 k = 0; k < size; ++k) image[start + k] ^= kChange;
        map[i] = 1;
        mainSize += size;
    }
    YOZ_pFlashMap = map;
    YOZ_SetFlashMsg(YOZ_FLASH_MSG_MAIN, mainSize);
    report.result = YOZ_Flash_Action(image);

    report.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    double system1 = 0;
    report.cpuSeconds = CpuSeconds(&system1) - cpu0;
    report.systemSeconds = system1 - system0;
    report.virtualWaitUs = (CPU_rdtsc() - clock0) / 1000;
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    report.peakKiB = u.ru_maxrss;
    return report;
}

bool RunInChild(RunReport& report) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        close(fds[0]);
        RunReport r = UpdateMainRegion();
        ssize_t n = write(fds[1], &r, sizeof(r));
        _exit(n == static_cast<ssize_t>(sizeof(r)) ? 0 : 1);
    }
    close(fds[1]);
    ssize_t n = read(fds[0], &report, sizeof(report));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return n == static_cast<ssize_t>(sizeof(report)) && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The machine holds a 32 MiB flash part: removed when the benchmark is done.
void RemoveMachine() {
    const std::string& dir = EmuMachine_Dir();
    if (dir.find("/yoz-") == std::string::npos) return;
    int status = system(("rm -rf '" + dir + "'").c_str());
    (void)status;
}

void BM_MainRegionUpdate32MiB(benchmark::State& state) {
    for (auto _ : state) {
        unit::FlashRig rig(unit::Pattern(kPartSize, 3), kLayout);
        if (!rig.Ok() || gRomSize != kPartSize) {
            state.SkipWithError(("machine not made: " + rig.Error()).c_str());
            break;
        }
        RunReport report;
        if (!RunInChild(report) || report.result != eEID_NO_ERROR) {
            state.SkipWithError("the update failed");
            break;
        }
        state.SetIterationTime(report.wallSeconds);

        // The main region holds the new image, the rest is untouched.
        std::string expected = unit::Pattern(kPartSize, 3);
        for (UINT32 a = 32 * 0x10000; a < 480 * 0x10000; ++a) expected[a] = static_cast<char>(expected[a] ^ kChange);
        if (rig.Flash() != expected) {
            state.SkipWithError("flash contents differ from the image");
            break;
        }
        double peakMiB = report.peakKiB / 1024.0;
        state.counters["cpu_s"] = report.cpuSeconds;
        state.counters["sys_s"] = report.systemSeconds;
        state.counters["read_s"] = report.readWallSeconds;
        state.counters["peak_MiB"] = peakMiB;
        state.counters["smi_read"] = static_cast<double>(rig.Smis(SMI_CMD_READ_FLASH));
        state.counters["smi_erase"] = static_cast<double>(rig.Smis(SMI_CMD_ERASE_FLASH));
        state.counters["smi_write"] = static_cast<double>(rig.Smis(SMI_CMD_WRITE_FLASH));
        state.counters["wait_ms"] = report.virtualWaitUs / 1000.0;
        state.counters["wall_vs_ref"] = report.wallSeconds / kReferenceWallSeconds;
        state.counters["mem_vs_ref"] = peakMiB * 1.048576 / kReferencePeakMB;
        printf("main region of a 32 MiB part: wall %.3f s (read %.3f s), CPU %.3f s (kernel %.3f s), peak %.1f MiB; "
               "SMIs read %zu, erase %zu, write %zu; virtual SMI wait %.1f ms; "
               "against the reference (%.0f s, %.0f MB): wall x%.3f, memory x%.3f\n",
               report.wallSeconds, report.readWallSeconds, report.cpuSeconds, report.systemSeconds, peakMiB,
               rig.Smis(SMI_CMD_READ_FLASH), rig.Smis(SMI_CMD_ERASE_FLASH), rig.Smis(SMI_CMD_WRITE_FLASH),
               report.virtualWaitUs / 1000.0, kReferenceWallSeconds, kReferencePeakMB,
               report.wallSeconds / kReferenceWallSeconds, peakMiB * 1.048576 / kReferencePeakMB);
    }
    RemoveMachine();
}

BENCHMARK(BM_MainRegionUpdate32MiB)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
