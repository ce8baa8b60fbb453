// A whole update as an operator runs it ("new.rom /B /P /N": NVRAM, main
// BIOS and boot block, every byte of the part changed) on emulated parts of
// 8, 32 and 128 MiB, against a general flash tool (flashrom with its dummy
// programmer) writing the same image over the same old contents, and against
// the floor: the cost of the bytes such an update must move (read the image
// file, read the flash, erase, write, verify) done directly on the part's
// file. Each of the three runs as a separate process; its wall time and peak
// memory are its own. The best wall
// time of --runs=N runs counts (the machine is shared), with the largest peak.
// Prints one table line per size at the end.
//
//   UpdateVsPeerBench [--runs=N] [--sizes=8,32,128] [--peer=PATH] [--program=PATH]
//                     [--keep] [benchmark flags]
// --program names another emulator build of the program (an older one, to
// compare); --keep leaves each size's work directory in /tmp.
#include <benchmark/benchmark.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <string>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>
#include "RomImageBuilder.h"

namespace {

using romimg::Bytes;

const uint32_t kMiB = 1u << 20;
const uint32_t kBlock = 0x10000;
const uint32_t kNvram = 1 * kMiB;   // NVRAM blocks at the start (no volume)
const uint32_t kBoot = 2 * kMiB;    // boot-block volume at the end
const uint32_t kFilePiece = 4 * kMiB;

int g_Runs = 3;
std::string g_Peer = "flashrom";
std::string g_Program = YOZ_EMU64;
std::vector<int> g_Sizes = {8, 32, 128};
bool g_Keep = false;  // leave the work directories for a closer look

struct Figures {
    double wall = 0;     // best of the runs, seconds
    double cpu = 0;      // best of the runs, seconds of CPU (user and kernel)
    double peakMiB = 0;  // largest of the runs
};

struct Row {
    Figures yoz, peer, bytes;
};
std::map<int, Row> g_Rows;

// ---- images ----

// One side of the update: NVRAM pattern, a main volume of pattern files with
// the firmware ID, a ROM hole and an SLP key (kept from the system by the
// update), and a boot volume.
romimg::Rom Side(uint32_t size, uint32_t seed) {
    romimg::Rom rom(size);
    rom.Fill(0, kNvram, seed);
    romimg::VolumeSpec main;
    main.length = size - kNvram - kBoot;
    main.files.push_back(romimg::FidFile(romimg::FidSpec{}));
    main.files.push_back(romimg::RomHoleFile(0, 0x1000));
    main.files.push_back(romimg::SlpKeyFile(0x80));
    main.files.push_back(romimg::SlpMarkerFile(0x20));
    uint32_t left = main.length - 0x10000;
    for (uint32_t n = 0; left > kFilePiece; ++n, left -= kFilePiece)
        main.files.push_back(romimg::PlainFile(seed * 1000 + n, kFilePiece - 0x100));
    rom.AddVolume(kNvram, main);
    romimg::VolumeSpec boot;
    boot.ffs3 = true;
    boot.length = kBoot;
    boot.files.push_back(romimg::PlainFile(seed * 1000 + 999, kBoot - 0x1000));
    rom.AddVolume(size - kBoot, boot);
    return rom;
}

std::string BlockSpec(uint32_t size) {
    uint32_t nvram = kNvram / kBlock, boot = kBoot / kBlock, main = size / kBlock - nvram - boot;
    return romimg::BlockSpec({{nvram, kBlock, 2}, {main, kBlock, 1}, {boot, kBlock, 0}});
}

// What the update leaves: the new image with the system's hole and SLP key.
Bytes Expected(const romimg::Rom& system, const romimg::Rom& image) {
    Bytes out = image.bytes;
    for (const romimg::FileAt& f : {system.File(romimg::RomHoleGuid(0)), system.File(romimg::SlpKeyFile(0x80).name)})
        std::copy(system.bytes.begin() + f.offset, system.bytes.begin() + f.offset + f.size, out.begin() + f.offset);
    return out;
}

// ---- processes ----

struct Run {
    bool ok = false;
    int status = -1;
    double wall = 0;
    double cpu = 0;
    double peakMiB = 0;
};

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }

Run Spawn(const std::vector<std::string>& argv, const std::string& cwd, const std::vector<std::string>& env = {}) {
    Run r;
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    fflush(nullptr);
    auto t0 = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid < 0) return r;
    if (pid == 0) {
        int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        if (chdir(cwd.c_str()) != 0) _exit(126);
        for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    rusage usage;
    if (wait4(pid, &status, 0, &usage) != pid) return r;
    r.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    r.peakMiB = usage.ru_maxrss / 1024.0;
    r.cpu = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.ok = r.status == 0;
    return r;
}

// Compares two files piece by piece (the benchmark holds no image while it
// starts a tool: a child's peak memory counts what it had from its parent).
bool SameFiles(const std::string& a, const std::string& b) {
    FILE* fa = fopen(a.c_str(), "rb");
    FILE* fb = fopen(b.c_str(), "rb");
    bool same = fa != nullptr && fb != nullptr;
    static char pa[1 << 16], pb[1 << 16];
    while (same) {
        size_t na = fread(pa, 1, sizeof(pa), fa), nb = fread(pb, 1, sizeof(pb), fb);
        same = na == nb && memcmp(pa, pb, na) == 0;
        if (na == 0) break;
    }
    if (fa != nullptr) fclose(fa);
    if (fb != nullptr) fclose(fb);
    return same;
}

// On a virtual machine the first touch of memory the host has not backed
// lately costs many times what the same touch costs otherwise, and which
// process meets it is chance. Before each timed tool the benchmark touches
// and frees more memory than any of them takes, so that all three start on
// the same footing: pages the host backs. The memory is freed before the
// tool starts (a child's peak memory counts what its parent held).
void WarmFreeMemory(uint32_t partSize) {
    size_t n = static_cast<size_t>(partSize) * 3 + (64u << 20);
    for (int round = 0; round < 2; ++round) {
        void* p = mmap(nullptr, n, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) return;
        madvise(p, n, MADV_HUGEPAGE);
        for (size_t at = 0; at < n; at += 4096) static_cast<volatile uint8_t*>(p)[at] = 1;
        munmap(p, n);
    }
}

bool CopyFile(const std::string& from, const std::string& to) {
    return ::system(("cp '" + from + "' '" + to + "'").c_str()) == 0;
}

void Keep(Figures& best, const Run& r) {
    best.wall = best.wall == 0 ? r.wall : std::min(best.wall, r.wall);
    best.cpu = best.cpu == 0 ? r.cpu : std::min(best.cpu, r.cpu);
    best.peakMiB = std::max(best.peakMiB, r.peakMiB);
}

// The work directory: sys.bin (the old contents), new.rom (the image) and
// expected.bin (what the update leaves).
struct Work {
    std::string dir;
    explicit Work(uint32_t size) {
        char pattern[] = "/tmp/yoz-bench-XXXXXX";
        if (mkdtemp(pattern) == nullptr) return;
        dir = pattern;
        romimg::Rom system = Side(size, 1), image = Side(size, 2);
        romimg::WriteBytes(dir + "/expected.bin", Expected(system, image));
        romimg::WriteBytes(dir + "/sys.bin", system.bytes);
        romimg::WriteBytes(dir + "/new.rom", image.bytes);
    }
    std::string File(const char* name) const { return dir + "/" + name; }
    ~Work() {
        if (g_Keep) {
            fprintf(stderr, "work directory kept: %s\n", dir.c_str());
        } else if (dir.compare(0, 15, "/tmp/yoz-bench-") == 0) {
            int status = ::system(("rm -rf '" + dir + "'").c_str());
            (void)status;
        }
    }
};

// ---- the floor: the byte moves of the update ----

// A part-sized buffer as the leanest update would take it.
struct Buffer {
    uint8_t* data = nullptr;
    size_t size = 0;
    explicit Buffer(size_t n) : size(n) {
        void* p = mmap(nullptr, n, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) return;
        madvise(p, n, MADV_HUGEPAGE);
        data = static_cast<uint8_t*>(p);
    }
    ~Buffer() {
        if (data != nullptr) munmap(data, size);
    }
    uint8_t& operator[](size_t i) { return data[i]; }
};

// Reads the image file, then reads the flash (the part's file), erases,
// writes and verifies it in 64 KiB pieces; true when every piece verified.
bool ByteMoves(const char* imagePath, const char* flashPath) {
    FILE* f = fopen(imagePath, "rb");
    int fd = open(flashPath, O_RDWR);
    struct stat st;
    if (f == nullptr || fd < 0 || fstat(fd, &st) != 0) {
        if (f != nullptr) fclose(f);
        if (fd >= 0) close(fd);
        return false;
    }
    size_t size = static_cast<size_t>(st.st_size);
    // The two part-sized buffers on huge pages and not zero-filled first:
    // the least their first touch costs.
    Buffer image(size), copy(size);
    std::vector<uint8_t> piece(kBlock), erased(kBlock, 0xFF);
    bool ok = image.data != nullptr && copy.data != nullptr && fread(&image[0], 1, size, f) == size;
    fclose(f);
    for (size_t at = 0; ok && at < size; at += kBlock)  // read the flash
        ok = pread(fd, &copy[at], kBlock, static_cast<off_t>(at)) == kBlock;
    for (size_t at = 0; ok && at < size; at += kBlock)  // erase
        ok = pwrite(fd, erased.data(), kBlock, static_cast<off_t>(at)) == kBlock;
    for (size_t at = 0; ok && at < size; at += kBlock)  // write
        ok = pwrite(fd, &image[at], kBlock, static_cast<off_t>(at)) == kBlock;
    for (size_t at = 0; ok && at < size; at += kBlock)  // verify
        ok = pread(fd, piece.data(), kBlock, static_cast<off_t>(at)) == kBlock && memcmp(piece.data(), &image[at], kBlock) == 0;
    close(fd);
    return ok;
}

// The byte moves run as a process of their own, as the tools do: a fresh
// process pays for its memory as the update does.
std::string g_Self;

// ---- the benchmark ----

void BM_Update(benchmark::State& state) {
    int mib = static_cast<int>(state.range(0));
    uint32_t size = static_cast<uint32_t>(mib) * kMiB;
    for (auto _ : state) {
        Work w(size);
        if (w.dir.empty()) {
            state.SkipWithError("no work directory");
            break;
        }
        Row row;
        std::string machine = w.File("m");
        for (int n = 0; n < g_Runs; ++n) {
            Run init = Spawn({YOZ_EMUTOOL, "init", machine, "--flash", "sys.bin", "--blocks", BlockSpec(size)}, w.dir);
            if (!init.ok) {
                state.SkipWithError("yozemu init failed");
                return;
            }
            WarmFreeMemory(size);
            Run yoz = Spawn({g_Program, "new.rom", "/B", "/P", "/N"}, w.dir, {"YOZ_EMU_MACHINE=" + machine});
            if (!yoz.ok || !SameFiles(machine + "/flash.bin", w.File("expected.bin"))) {
                state.SkipWithError(("the update failed (exit " + std::to_string(yoz.status) + ")").c_str());
                return;
            }
            Keep(row.yoz, yoz);

            std::string programmer = "dummy:emulate=VARIABLE_SIZE,size=" + std::to_string(size) + ",image=peer.bin";
            Run peer;
            if (CopyFile(w.File("sys.bin"), w.File("peer.bin"))) {
                WarmFreeMemory(size);
                peer = Spawn({g_Peer, "-p", programmer, "-w", "new.rom"}, w.dir);
            }
            if (!peer.ok || !SameFiles(w.File("peer.bin"), w.File("new.rom"))) {
                state.SkipWithError(("the peer's update failed (exit " + std::to_string(peer.status) + ")").c_str());
                return;
            }
            Keep(row.peer, peer);

            Run bytes;
            if (CopyFile(w.File("sys.bin"), w.File("floor.bin"))) {
                WarmFreeMemory(size);
                bytes = Spawn({g_Self, "--byte-moves", "new.rom", "floor.bin"}, w.dir);
            }
            if (!bytes.ok) {
                state.SkipWithError("the byte moves failed");
                return;
            }
            Keep(row.bytes, bytes);
        }
        state.SetIterationTime(row.yoz.wall);
        state.counters["cpu_s"] = row.yoz.cpu;
        state.counters["peer_s"] = row.peer.wall;
        state.counters["vs_peer"] = row.yoz.wall / row.peer.wall;
        state.counters["bytes_s"] = row.bytes.wall;
        state.counters["vs_bytes"] = row.yoz.wall / row.bytes.wall;
        state.counters["peak_MiB"] = row.yoz.peakMiB;
        state.counters["peak_x_part"] = row.yoz.peakMiB / mib;
        state.counters["peer_peak_MiB"] = row.peer.peakMiB;
        g_Rows[mib] = row;
    }
}

void PrintTable() {
    if (g_Rows.empty()) return;
    printf("\n%-7s %9s %7s %11s %7s %8s %8s %9s %7s %9s\n", "part", "update s", "cpu s", "flashrom s", "ratio",
           "bytes s", "x bytes", "peak MiB", "x part", "peer MiB");
    for (const auto& [mib, row] : g_Rows) {
        printf("%3d MiB %9.3f %7.3f %11.3f %7.2f %8.3f %8.2f %9.1f %7.2f %9.1f\n", mib, row.yoz.wall, row.yoz.cpu,
               row.peer.wall, row.yoz.wall / row.peer.wall, row.bytes.wall, row.yoz.wall / row.bytes.wall,
               row.yoz.peakMiB, row.yoz.peakMiB / mib, row.peer.peakMiB);
    }
}

// Takes this program's own flags out of argv.
void TakeOwnFlags(int& argc, char** argv) {
    int out = 1;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a.compare(0, 7, "--runs=") == 0) {
            g_Runs = std::max(1, atoi(a.c_str() + 7));
        } else if (a.compare(0, 7, "--peer=") == 0) {
            g_Peer = a.substr(7);
        } else if (a == "--keep") {
            g_Keep = true;
        } else if (a.compare(0, 10, "--program=") == 0) {
            g_Program = a.substr(10);
        } else if (a.compare(0, 8, "--sizes=") == 0) {
            g_Sizes.clear();
            for (const char* p = a.c_str() + 8; *p != '\0';) {
                int v = atoi(p);
                if (v > 0 && v <= 1024 && v % 4 == 0) g_Sizes.push_back(v);
                p = strchr(p, ',');
                if (p == nullptr) break;
                ++p;
            }
        } else {
            argv[out++] = argv[i];
        }
    }
    argc = out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && strcmp(argv[1], "--byte-moves") == 0) return ByteMoves(argv[2], argv[3]) ? 0 : 1;
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
    if (n <= 0) return 1;
    self[n] = '\0';
    g_Self = self;
    TakeOwnFlags(argc, argv);
    auto* b = benchmark::RegisterBenchmark("BM_Update", BM_Update);
    for (int mib : g_Sizes) b->Arg(mib);
    b->ArgName("MiB")->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    PrintTable();
    return 0;
}
