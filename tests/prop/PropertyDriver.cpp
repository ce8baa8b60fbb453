// The property driver: runs structure pairs (tests/support/StructurePair.h)
// through the emulator build with update command lines, each on a fresh
// machine, and checks the machine-data property
// (tests/support/MachineDataProperty.h) after every run.
//
//   yoz_prop --ci [--slice K/N]             the fixed CI set (slice K of N)
//   yoz_prop --rows                         the named fault rows, both widths
//   yoz_prop --seeds N [--first S] [--per-seed K] [--jobs J] [--w32 PERCENT]
//            [--no-hold] [--quiet-held]
//   yoz_prop --seed S [--width 32] [--secure] [--keep] WORD...
//   yoz_prop --describe S
//
// A failing run prints one line that reproduces it, followed by the class
// of the failure and what was seen.
#include <sys/wait.h>
#include <unistd.h>
#include <poll.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>
#include "E2eHarness.h"
#include "MachineDataProperty.h"
#include "StructurePair.h"

namespace {

using romimg::Bytes;

// The word of the hole-file line that names the system's first hole.
const char* const kFirstHole = "/HOLE:*";

// The command lines of the property, after the program name.
const std::vector<std::vector<std::string>>& CommandLines() {
    static const std::vector<std::vector<std::string>> kLines = {
        {"new.rom"},
        {"new.rom", "/P"},
        {"new.rom", "/B"},
        {"new.rom", "/B", "/P", "/N"},
        {"new.rom", "/N"},
        {"new.rom", "/L"},
        {"new.rom", "/K"},
        {"new.rom", "/caf"},
        {"new.rom", "/B", "/caf"},
        {"new.rom", "/B", "/P", "/N", "/caf"},
        {"new.rom", "/L", "/caf"},
        {"new.rom", "/K", "/caf"},
        {"new.rom", "/X"},
        {"new.rom", "/B", "/X"},
        {"new.rom", "/B", "/P", "/N", "/X"},
        {"new.rom", "/P", "/caf", "/X"},
        {"new.rom", "/B", "/L"},
        {"new.rom", "/P", "/L"},
        {"new.rom", "/N", "/L"},
        {"new.rom", "/L", "/K"},
        {"new.rom", "/B", "/L0"},
        {"new.rom", "/P", "/L1"},
        {"new.rom", "/B", "/Akey.bin"},
        {"new.rom", "/B", "/OAD"},
        {"hole.bin", kFirstHole, "/L1"},
        {"new.rom", "/B", "/K1"},
        {"new.rom", "/P", "/K2"},
        {"new.rom", "/N", "/K0"},
        {"new.rom", "/B", "/R"},
        {"new.rom", "/P", "/R2"},
        {"new.rom", "/B", "/P", "/SP"},
        {"new.rom", "/B", "/E"},
    };
    return kLines;
}

// Runs that once lost machine data or refused after a write, each named
// for what it checks; "--rows" runs each on both widths.
struct FaultRow {
    const char* name;
    uint32_t seed;
    bool secure;
    std::vector<std::string> words;
};

const std::vector<FaultRow>& FaultRows() {
    static const std::vector<FaultRow> kRows = {
        {"/B /L keeps the image's main holes out of the unwritten main volume", 36, false, {"new.rom", "/B", "/L"}},
        {"/B /L writes no byte of the main volume but its holes", 1, false, {"new.rom", "/B", "/L"}},
        {"/P /L keeps the image's boot holes out of the unwritten boot block", 31, false, {"new.rom", "/P", "/L"}},
        {"secure /N /L: one upload covers the hole stage's volumes", 3, true, {"new.rom", "/N", "/L"}},
        {"secure /L /K: one upload covers the hole stage's volumes", 3, true, {"new.rom", "/L", "/K"}},
        {"/B /A checks the key before the boot block is written", 1, false, {"new.rom", "/B", "/Amachine.ini"}},
        {"secure /B /A writes the OA block with an upload of its own", 1010, true, {"new.rom", "/B", "/Akey.bin"}},
        {"/B /OAD checks the key before the boot block is written", 1, false, {"new.rom", "/B", "/OAD"}},
        {"/HOLE: waits for the checks of /L1", 17, false, {"machine.ini", "/HOLE:996AA1E01E8C4F36B519A170A206FC14", "/L1"}},
        {"secure /B /L reads the system's data from the system copy", 253, true, {"new.rom", "/B", "/L"}},
        {"/B keeps the OA key when the image moves $FID into the boot volume", 854, false, {"new.rom", "/B", "/caf"}},
        {"an image whose holes and the non-critical runs exceed 16 is refused", 956, false, {"new.rom"}},
        {"/P /L1 writes the chosen hole where the image has it", 396, false, {"new.rom", "/P", "/L1"}},
        {"/B /K1 checks the chosen non-critical block before the boot block is written", 20017, false,
         {"new.rom", "/B", "/K1"}},
        {"/P /K2 checks the chosen non-critical block before the main block is written", 4, false,
         {"new.rom", "/P", "/K2"}},
        {"/HOLE: waits for the write-once check of /L1's hole", 24, false,
         {"hole.bin", "/HOLE:05CA02020FC111DC901100173153EBA8", "/L1"}},
    };
    return kRows;
}

struct RunSpec {
    uint32_t seed = 0;
    int width = 64;
    bool secure = false;
    std::vector<std::string> words;
};

// The runs of one seed: `perSeed` distinct command lines (all when 0),
// secure flash on in about a third, the 32-bit build in `w32` percent.
std::vector<RunSpec> RunsOfSeed(uint32_t seed, uint32_t perSeed, uint32_t w32) {
    const auto& lines = CommandLines();
    uint32_t n = static_cast<uint32_t>(lines.size());
    std::vector<uint32_t> order(n);
    for (uint32_t i = 0; i < n; ++i) order[i] = i;
    pairgen::Rng rng(seed ^ 0x5EC0DE5EEDull);
    for (uint32_t i = n - 1; i > 0; --i) std::swap(order[i], order[rng.Below(i + 1)]);
    if (perSeed == 0 || perSeed > n) perSeed = n;
    std::vector<RunSpec> runs;
    for (uint32_t i = 0; i < perSeed; ++i) {
        RunSpec r;
        r.seed = seed;
        r.words = lines[order[i]];
        r.secure = rng.Percent(30);
        r.width = rng.Percent(w32) ? 32 : 64;
        runs.push_back(r);
    }
    return runs;
}

// The run with the hole-file line's word for the pair's first hole.
RunSpec Resolved(const pairgen::Pair& p, RunSpec r) {
    for (std::string& w : r.words) {
        if (w == kFirstHole) w = propcheck::FirstHoleWord(p);
    }
    return r;
}

std::string Repro(const std::string& self, const RunSpec& r) {
    std::string s = self + " --seed " + std::to_string(r.seed);
    if (r.width == 32) s += " --width 32";
    if (r.secure) s += " --secure";
    for (const std::string& w : r.words) s += " " + w;
    return s;
}

// Failure classes held back while their mends are on the way: each entry
// names the open issue item, the class (any when null) and the pairs and
// command lines it covers. Held failures are still printed; they do not
// fail the run. An entry goes when its mend lands.
struct Held {
    const char* item;
    const char* klass;
    bool (*covers)(const pairgen::Pair&, const propcheck::Options&);
};

const std::vector<Held> kHeldBack = {};

// The held-back entry that covers a failure, or null.
const Held* HeldBack(const pairgen::Pair& p, const RunSpec& r, const propcheck::Verdict& v) {
    if (v.Holds()) return nullptr;
    propcheck::Options o = propcheck::FromWords(r.words, r.secure);
    for (const Held& h : kHeldBack) {
        if ((h.klass == nullptr || v.klass == h.klass) && h.covers(p, o)) return &h;
    }
    return nullptr;
}

std::string MakeDir() {
    const char* base = getenv("TMPDIR");
    std::string tmpl = std::string(base != nullptr ? base : "/tmp") + "/yoz-prop-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr) return "";
    return buf.data();
}

Bytes ReadBytes(const std::string& path) {
    std::string s = e2e::ReadFile(path);
    return Bytes(s.begin(), s.end());
}

// Program output with each progress line shown as it ends.
std::string Tidy(const std::string& out) {
    std::string tidy, line;
    for (char c : out) {
        if (c == '\r') {
            line.clear();
        } else if (c == '\n') {
            tidy += line + "\n";
            line.clear();
        } else {
            line += c;
        }
    }
    return tidy + line;
}

struct Result {
    propcheck::Verdict verdict;
    int status = -1;
    bool changed = false;
};

// One run on a fresh machine, removed afterwards unless `keep`.
Result RunOne(const pairgen::Pair& p, const RunSpec& r, bool keep, bool verbose) {
    Result res;
    std::string base = MakeDir();
    if (base.empty()) {
        res.verdict = propcheck::Verdict{"harness", "no temporary directory"};
        return res;
    }
    e2e::Machine m;
    m.dir = base + "/m";
    romimg::WriteBytes(base + "/flash.img", p.system.bytes);
    std::vector<std::string> init{"init", m.dir, "--flash", base + "/flash.img", "--blocks", p.BlockText(), "--set", "flash_nor=1"};
    if (r.secure) {
        init.push_back("--set");
        init.push_back("secure_flash=1");
    }
    e2e::RunResult made = e2e::RunTool(init);
    if (made.status != 0) {
        res.verdict = propcheck::Verdict{"harness", "yozemu init: " + made.err};
    } else {
        Bytes file = r.secure ? romimg::SignedCapsule(p.image.bytes, (p.seed & 1) != 0 ? 0x400 : 0x40) : p.image.bytes;
        romimg::WriteBytes(m.File("new.rom"), file);
        romimg::WriteBytes(m.File("key.bin"), propcheck::KeyFile());
        // Signed under secure flash, as the image is.
        romimg::WriteBytes(m.File("hole.bin"), r.secure ? romimg::SignedCapsule(propcheck::HoleFile(), 0x40) : propcheck::HoleFile());
        e2e::RunResult run = e2e::RunProgram(r.width, m, r.words);
        propcheck::Outcome o;
        o.status = run.status;
        o.signal = run.signal;
        o.out = run.out;
        o.flash = ReadBytes(m.File("flash.bin"));
        propcheck::Options options = propcheck::FromWords(r.words, r.secure);
        if (propcheck::NeedsVerify(p, options, o)) {
            romimg::WriteBytes(m.File("check.rom"), o.flash);
            e2e::RunResult v = e2e::RunProgram(r.width, m, {"check.rom", "/D"});
            o.verified = true;
            o.verifyStatus = v.status;
            o.verifyOut = v.out;
            o.flashAfterVerify = ReadBytes(m.File("flash.bin"));
        }
        res.status = o.status;
        res.changed = o.flash != p.system.bytes;
        res.verdict = propcheck::Check(p, options, o);
        if (verbose) {
            printf("%s", p.Describe().c_str());
            printf("--- output (status %d)\n%s", run.status, Tidy(run.out).c_str());
            if (!run.err.empty()) printf("--- standard error\n%s", run.err.c_str());
            if (o.verified) printf("--- \"/D\" on the flash (status %d)\n%s", o.verifyStatus, Tidy(o.verifyOut).c_str());
        }
    }
    if (keep) {
        printf("machine kept: %s\n", m.dir.c_str());
    } else {
        std::error_code ignored;
        std::filesystem::remove_all(base, ignored);
    }
    return res;
}

// A run's record between a worker and the parent: status, changed, class,
// held-back item, reproducer and detail, tab-separated on one line.
std::string Record(const std::string& self, const pairgen::Pair& p, const RunSpec& r, const Result& res, bool hold) {
    std::string detail = res.verdict.detail;
    for (char& c : detail) {
        if (c == '\n' || c == '\t') c = ' ';
    }
    const Held* held = hold ? HeldBack(p, r, res.verdict) : nullptr;
    return std::to_string(res.status) + "\t" + (res.changed ? "1" : "0") + "\t" +
           (res.verdict.Holds() ? "-" : res.verdict.klass) + "\t" + (held != nullptr ? held->item : "-") + "\t" +
           Repro(self, r) + "\t" + detail + "\n";
}

struct Tally {
    uint32_t runs = 0, succeeded = 0, changed = 0, failed = 0, held = 0;
    std::map<std::string, uint32_t> classes, heldItems;
};

void Take(Tally& t, const std::string& line, bool quietHeld) {
    std::vector<std::string> f;
    size_t at = 0;
    for (int i = 0; i < 5; ++i) {
        size_t tab = line.find('\t', at);
        f.push_back(line.substr(at, tab - at));
        at = tab + 1;
    }
    f.push_back(line.substr(at));
    ++t.runs;
    t.succeeded += f[0] == "0";
    t.changed += f[1] == "1";
    if (f[2] == "-") return;
    if (f[3] != "-") {
        ++t.held;
        ++t.heldItems[f[3]];
        if (!quietHeld) printf("%s    # held back: %s: %s\n", f[4].c_str(), f[2].c_str(), f[5].c_str());
    } else {
        ++t.failed;
        ++t.classes[f[2]];
        printf("%s    # %s: %s\n", f[4].c_str(), f[2].c_str(), f[5].c_str());
    }
    fflush(stdout);
}

// Runs the seeds [first, first + count) in `jobs` worker processes; only the
// runs whose index is `slice` modulo `slices` are run.
int RunMany(const std::string& self, uint32_t first, uint32_t count, uint32_t perSeed, uint32_t w32, uint32_t jobs,
            uint32_t slice, uint32_t slices, bool hold, bool quietHeld) {
    auto started = std::chrono::steady_clock::now();
    std::vector<RunSpec> runs;
    for (uint32_t s = first; s < first + count; ++s) {
        for (const RunSpec& r : RunsOfSeed(s, perSeed, w32)) runs.push_back(r);
    }
    std::vector<RunSpec> mine;
    for (size_t i = 0; i < runs.size(); ++i) {
        if (i % slices == slice) mine.push_back(runs[i]);
    }
    if (jobs < 1) jobs = 1;
    std::vector<int> fds;
    std::vector<pid_t> pids;
    for (uint32_t j = 0; j < jobs; ++j) {
        int fd[2];
        if (pipe(fd) != 0) return 2;
        pid_t pid = fork();
        if (pid == 0) {
            close(fd[0]);
            uint32_t last = 0xFFFFFFFF;
            pairgen::Pair pair;
            for (size_t i = j; i < mine.size(); i += jobs) {
                if (mine[i].seed != last) {
                    pair = pairgen::MakePair(mine[i].seed);
                    last = mine[i].seed;
                }
                RunSpec r = Resolved(pair, mine[i]);
                std::string rec = Record(self, pair, r, RunOne(pair, r, false, false), hold);
                if (write(fd[1], rec.data(), rec.size()) != static_cast<ssize_t>(rec.size())) _exit(2);
            }
            _exit(0);
        }
        close(fd[1]);
        fds.push_back(fd[0]);
        pids.push_back(pid);
    }
    Tally t;
    std::vector<std::string> pending(fds.size());
    for (;;) {
        std::vector<pollfd> polled;
        std::vector<size_t> which;
        for (size_t j = 0; j < fds.size(); ++j) {
            if (fds[j] < 0) continue;
            polled.push_back(pollfd{fds[j], POLLIN, 0});
            which.push_back(j);
        }
        if (polled.empty() || poll(polled.data(), polled.size(), -1) < 0) break;
        for (size_t k = 0; k < polled.size(); ++k) {
            if (polled[k].revents == 0) continue;
            size_t j = which[k];
            char buf[4096];
            ssize_t got = read(fds[j], buf, sizeof(buf));
            if (got <= 0) {
                close(fds[j]);
                fds[j] = -1;
                continue;
            }
            pending[j].append(buf, static_cast<size_t>(got));
            size_t nl;
            while ((nl = pending[j].find('\n')) != std::string::npos) {
                Take(t, pending[j].substr(0, nl), quietHeld);
                pending[j].erase(0, nl + 1);
            }
        }
    }
    int bad = 0;
    for (pid_t pid : pids) {
        int st = 0;
        waitpid(pid, &st, 0);
        if (!WIFEXITED(st) || WEXITSTATUS(st) != 0) bad = 1;
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    printf("%u runs (%u exit 0, %u changed the flash), %u failing, %u held back, %.1f s\n", t.runs, t.succeeded,
           t.changed, t.failed, t.held, seconds);
    for (const auto& c : t.classes) printf("  %u x %s\n", c.second, c.first.c_str());
    for (const auto& c : t.heldItems) printf("  %u held back: %s\n", c.second, c.first.c_str());
    if (t.runs != mine.size()) {
        printf("only %u of %zu runs reported\n", t.runs, mine.size());
        bad = 1;
    }
    return bad != 0 ? 2 : t.failed != 0 ? 1 : 0;
}

// The fault rows on both widths; the closing line counts them.
int RunRows(const std::string& self) {
    uint32_t passed = 0, failed = 0;
    for (const FaultRow& row : FaultRows()) {
        pairgen::Pair pair = pairgen::MakePair(row.seed);
        for (int width : {64, 32}) {
            RunSpec r;
            r.seed = row.seed;
            r.width = width;
            r.secure = row.secure;
            r.words = row.words;
            Result res = RunOne(pair, r, false, false);
            if (res.verdict.Holds()) {
                ++passed;
                continue;
            }
            ++failed;
            printf("FAILED %s (%d-bit)\n%s    # %s: %s\n", row.name, width, Repro(self, r).c_str(),
                   res.verdict.klass.c_str(), res.verdict.detail.c_str());
        }
    }
    printf("%u passed, %u failed\n", passed, failed);
    return failed != 0 ? 1 : 0;
}

uint32_t Number(const char* s) { return static_cast<uint32_t>(strtoul(s, nullptr, 0)); }

int Usage() {
    fprintf(stderr,
            "usage: yoz_prop --ci [--slice K/N] | --rows\n"
            "       yoz_prop --seeds N [--first S] [--per-seed K] [--jobs J] [--w32 PERCENT] [--no-hold] [--quiet-held]\n"
            "       yoz_prop --seed S [--width 32] [--secure] [--keep] WORD...\n"
            "       yoz_prop --describe S\n");
    return 2;
}

}  // namespace

// The CI set: seeds 1 to 50, four command lines each, one run in eight on the 32-bit build.
static const uint32_t kCiFirst = 1, kCiSeeds = 50, kCiPerSeed = 4, kCiW32 = 12;

int main(int argc, char** argv) {
    std::string self = argv[0];
    std::vector<std::string> a(argv + 1, argv + argc);
    if (a.empty()) return Usage();
    uint32_t first = 1, count = 0, perSeed = 4, jobs = 1, w32 = 0, slice = 0, slices = 1, seed = 0;
    int width = 64;
    bool ci = false, rows = false, single = false, secure = false, keep = false, hold = true, quietHeld = false;
    std::vector<std::string> words;
    for (size_t i = 0; i < a.size(); ++i) {
        const std::string& o = a[i];
        bool more = i + 1 < a.size();
        if (o == "--ci") {
            ci = true;
        } else if (o == "--rows") {
            rows = true;
        } else if (o == "--slice" && more) {
            const std::string& v = a[++i];
            size_t slash = v.find('/');
            if (slash == std::string::npos) return Usage();
            slice = Number(v.substr(0, slash).c_str());
            slices = Number(v.substr(slash + 1).c_str());
            if (slices == 0 || slice >= slices) return Usage();
        } else if (o == "--seeds" && more) {
            count = Number(a[++i].c_str());
        } else if (o == "--first" && more) {
            first = Number(a[++i].c_str());
        } else if (o == "--per-seed" && more) {
            perSeed = Number(a[++i].c_str());
        } else if (o == "--jobs" && more) {
            jobs = Number(a[++i].c_str());
        } else if (o == "--w32" && more) {
            w32 = Number(a[++i].c_str());
        } else if (o == "--seed" && more) {
            single = true;
            seed = Number(a[++i].c_str());
        } else if (o == "--width" && more) {
            width = static_cast<int>(Number(a[++i].c_str()));
        } else if (o == "--secure") {
            secure = true;
        } else if (o == "--keep") {
            keep = true;
        } else if (o == "--no-hold") {
            hold = false;
        } else if (o == "--quiet-held") {
            quietHeld = true;
        } else if (o == "--describe" && more) {
            printf("%s", pairgen::MakePair(Number(a[++i].c_str())).Describe().c_str());
            return 0;
        } else if (o.compare(0, 2, "--") == 0) {
            return Usage();
        } else {
            words.push_back(o);
        }
    }
    if (rows) return RunRows(self);
    if (ci) return RunMany(self, kCiFirst, kCiSeeds, kCiPerSeed, kCiW32, 1, slice, slices, hold, quietHeld);
    if (single) {
        if (words.empty()) return Usage();
        RunSpec r;
        r.seed = seed;
        r.width = width == 32 ? 32 : 64;
        r.secure = secure;
        pairgen::Pair pair = pairgen::MakePair(seed);
        r.words = words;
        r = Resolved(pair, r);
        Result res = RunOne(pair, r, keep, true);
        if (res.verdict.Holds()) {
            printf("the property holds\n");
            return 0;
        }
        printf("%s    # %s: %s\n", Repro(self, r).c_str(), res.verdict.klass.c_str(), res.verdict.detail.c_str());
        const Held* held = HeldBack(pair, r, res.verdict);
        if (held != nullptr) printf("held back in CI: %s\n", held->item);
        return 1;
    }
    if (count == 0) return Usage();
    return RunMany(self, first, count, perSeed, w32, jobs, 0, 1, hold, quietHeld);
}
