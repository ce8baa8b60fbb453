// End-to-end harness.
#include "E2eHarness.h"
#include <algorithm>
#include <cctype>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef YOZ_EMU64
#define YOZ_EMU64 ""
#define YOZ_EMU32 ""
#define YOZ_EMUTOOL ""
#define YOZ_QEMU_I386 ""
#endif

extern char** environ;

namespace e2e {

// Directories made by this test process: each machine holds a flash and
// the emulator's files, so thousands of runs would fill the disk.
static std::vector<std::string>& MadeDirs() {
    static std::vector<std::string> dirs;
    return dirs;
}

static void RemoveMadeDirs() {
    if (getenv("YOZ_KEEP_TEMP") != nullptr) return;
    std::error_code ignored;
    for (const std::string& d : MadeDirs()) std::filesystem::remove_all(d, ignored);
}

std::string TempDir(const std::string& tag) {
    const char* base = getenv("TMPDIR");
    std::string tmpl = std::string(base != nullptr ? base : "/tmp") + "/yoz-" + tag + "-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr) {
        ADD_FAILURE() << "mkdtemp failed for " << tmpl;
        return "/nonexistent";
    }
    if (MadeDirs().empty()) atexit(RemoveMadeDirs);
    MadeDirs().push_back(buf.data());
    return buf.data();
}

std::string ReadFile(const std::string& path) {
    std::string data;
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) return data;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0) data.append(buf, n);
    fclose(f);
    return data;
}

void WriteFile(const std::string& path, const std::string& data) {
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    ASSERT_EQ(fwrite(data.data(), 1, data.size(), f), data.size());
    fclose(f);
}

std::vector<std::string> DirectoryEntries(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(dir, error)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

std::string Filled(size_t size, unsigned char fill) { return std::string(size, static_cast<char>(fill)); }

// ---- What a run left started ----

static unsigned s_ExpectedLeft = 0;

ExpectLeft::ExpectLeft(unsigned left) : saved_(s_ExpectedLeft) { s_ExpectedLeft |= left; }
ExpectLeft::~ExpectLeft() { s_ExpectedLeft = saved_; }

static unsigned long long StateNumber(const std::string& dir, const char* name) {
    return strtoull(ReadFile(dir + "/state/" + name).c_str(), nullptr, 0);
}

// ".<name>.<12 letters or digits>" (a file kept aside) or the same with
// ".incomplete" (a new file never committed), as the program names them.
static unsigned BesideName(const std::string& entry) {
    static const std::string kIncomplete = ".incomplete";
    std::string name = entry;
    unsigned kind = kFileAside;
    if (name.size() > kIncomplete.size() &&
        name.compare(name.size() - kIncomplete.size(), kIncomplete.size(), kIncomplete) == 0) {
        name.resize(name.size() - kIncomplete.size());
        kind = kTempFile;
    }
    if (name.size() < 15 || name[0] != '.' || name[name.size() - 13] != '.') return 0;
    for (size_t i = name.size() - 12; i < name.size(); ++i)
        if (!isalnum(static_cast<unsigned char>(name[i]))) return 0;
    return kind;
}

static unsigned FilesLeft(const std::string& dir, bool recursive) {
    unsigned left = 0;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
        std::error_code ignored;
        if (entry.is_symlink(ignored)) continue;
        if (recursive && entry.is_directory(ignored)) left |= FilesLeft(entry.path(), true);
        else if (entry.is_regular_file(ignored)) left |= BesideName(entry.path().filename());
    }
    return left;
}

unsigned LeftInMachine(const std::string& dir, const std::string& cwd, const std::vector<std::string>& args) {
    unsigned left = 0;
    if (!ReadFile(dir + "/state/me_update").empty()) left |= kMeUpdateOpen;
    if (StateNumber(dir, "me_push_pages") != 0 || !ReadFile(dir + "/state/me_capsule").empty()) left |= kMePushHeld;
    if (StateNumber(dir, "ec_mode") != 0) left |= kEcInFlashMode;
    if (StateNumber(dir, "setup_stored") != 0) left |= kSetupStored;
    if (StateNumber(dir, "dmi_stored") != 0) left |= kDmiStored;
    left |= FilesLeft(dir, true);
    // The run's directory and those of the files its words name, where they
    // lie outside the machine.
    std::vector<std::string> dirs{cwd};
    for (const std::string& a : args) {
        size_t slash = a.rfind('/');
        if (slash == std::string::npos || slash == 0) continue;
        std::string d = a.substr(0, slash);
        size_t colon = d.find(':');
        if (colon != std::string::npos) d = d.substr(colon + 1);
        dirs.push_back(!d.empty() && d[0] == '/' ? d : cwd + "/" + d);
    }
    for (const std::string& d : dirs)
        if (!d.empty() && d.compare(0, dir.size(), dir) != 0) left |= FilesLeft(d, false);
    return left;
}

std::string LeftNames(unsigned left) {
    static const struct {
        unsigned bit;
        const char* name;
    } kNames[] = {{kMeUpdateOpen, "an ME update open"},
                  {kMePushHeld, "an ME push or session held"},
                  {kEcInFlashMode, "the EC in flash mode"},
                  {kSetupStored, "a setup store held"},
                  {kDmiStored, "an SMBIOS store held"},
                  {kFileAside, "a file kept aside"},
                  {kTempFile, "a temporary file"}};
    std::string names;
    for (const auto& n : kNames)
        if ((left & n.bit) != 0) names += (names.empty() ? "" : ", ") + std::string(n.name);
    return names;
}

// A run of the program in a machine ended everything it started, but what
// the test names as expected.
static void CheckLeft(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                      const std::string& cwd) {
    std::string machine;
    for (const std::string& e : env)
        if (e.compare(0, 16, "YOZ_EMU_MACHINE=") == 0) machine = e.substr(16);
    if (machine.empty()) return;
    unsigned unexpected = LeftInMachine(machine, cwd.empty() ? machine : cwd, argv) & ~s_ExpectedLeft;
    // The EC kept in flash mode after pages went out is the controller's
    // own state: leaving would start a ROM that is not whole.
    if ((unexpected & kEcInFlashMode) != 0 && StateNumber(machine, "ec_pieces") != 0) unexpected &= ~kEcInFlashMode;
    if (unexpected == 0) return;
    std::string words;
    for (size_t i = 1; i < argv.size(); ++i) words += " " + argv[i];
    ADD_FAILURE() << "the run" << words << " ended with " << LeftNames(unexpected)
                  << " (a row that expects it names it with e2e::ExpectLeft)";
}

// With `whenStopped` the child runs in a process group of its own (one with
// a parent in the session, so a stop signal stops it), and each time it
// stops `whenStopped` runs before the child is continued.
static RunResult Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                       const std::string& input, const std::string& cwd,
                       const std::function<void()>& whenStopped = nullptr, bool program = true) {
    RunResult r;
    int inPipe[2], outPipe[2], errPipe[2];
    if (pipe(inPipe) != 0 || pipe(outPipe) != 0 || pipe(errPipe) != 0) return r;
    // A child that ends before it read its input costs only that input
    // (the write fails), not the test process.
    signal(SIGPIPE, SIG_IGN);
    pid_t pid = fork();
    if (pid == 0) {
        signal(SIGPIPE, SIG_DFL);  // started as from a shell
        if (whenStopped) setpgid(0, 0);
        dup2(inPipe[0], 0);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        close(inPipe[1]);
        close(outPipe[0]);
        close(errPipe[0]);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
        std::vector<char*> a, e;
        for (const auto& s : argv) a.push_back(const_cast<char*>(s.c_str()));
        a.push_back(nullptr);
        for (const auto& s : env) e.push_back(const_cast<char*>(s.c_str()));
        e.push_back(nullptr);
        execve(a[0], a.data(), e.data());
        _exit(127);
    }
    close(inPipe[0]);
    close(outPipe[1]);
    close(errPipe[1]);
    size_t written = 0;
    if (input.empty()) {
        close(inPipe[1]);
        inPipe[1] = -1;
    }
    fcntl(inPipe[1], F_SETFL, O_NONBLOCK);
    bool outOpen = true, errOpen = true;
    bool reaped = false;
    int st = 0;
    // A stop shows only to waitpid: while watching, poll wakes up to look.
    const int kWatchMs = 20, kQuietMs = 600000;
    int quietMs = 0;
    char buf[65536];
    while (outOpen || errOpen) {
        struct pollfd fds[3];
        int n = 0;
        int outIdx = -1, errIdx = -1, inIdx = -1;
        if (outOpen) { fds[n] = {outPipe[0], POLLIN, 0}; outIdx = n++; }
        if (errOpen) { fds[n] = {errPipe[0], POLLIN, 0}; errIdx = n++; }
        if (inPipe[1] >= 0) { fds[n] = {inPipe[1], POLLOUT, 0}; inIdx = n++; }
        int ready = poll(fds, n, whenStopped ? kWatchMs : kQuietMs);
        if (whenStopped && !reaped) {
            int now = 0;
            pid_t changed = waitpid(pid, &now, WNOHANG | WUNTRACED);
            if (changed == pid && WIFSTOPPED(now)) {
                whenStopped();
                kill(pid, SIGCONT);
            } else if (changed == pid) {
                reaped = true;
                st = now;
            }
        }
        if (ready < 0) break;
        quietMs = ready == 0 ? quietMs + (whenStopped ? kWatchMs : kQuietMs) : 0;
        if (quietMs >= kQuietMs) break;
        if (ready == 0) continue;
        if (outIdx >= 0 && fds[outIdx].revents != 0) {
            ssize_t k = read(outPipe[0], buf, sizeof(buf));
            if (k <= 0) outOpen = false; else r.out.append(buf, static_cast<size_t>(k));
        }
        if (errIdx >= 0 && fds[errIdx].revents != 0) {
            ssize_t k = read(errPipe[0], buf, sizeof(buf));
            if (k <= 0) errOpen = false; else r.err.append(buf, static_cast<size_t>(k));
        }
        if (inIdx >= 0 && fds[inIdx].revents != 0) {
            ssize_t k = write(inPipe[1], input.data() + written, input.size() - written);
            if (k > 0) written += static_cast<size_t>(k);
            if (k <= 0 || written == input.size()) {
                close(inPipe[1]);
                inPipe[1] = -1;
            }
        }
    }
    if (inPipe[1] >= 0) close(inPipe[1]);
    close(outPipe[0]);
    close(errPipe[0]);
    if (!reaped) waitpid(pid, &st, 0);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    r.signal = WIFSIGNALED(st) ? WTERMSIG(st) : 0;
    if (program) CheckLeft(argv, env, cwd);
    return r;
}

static std::vector<std::string> BaseEnv() {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        if (strncmp(*e, "YOZ_EMU_MACHINE=", 16) != 0) env.push_back(*e);
    }
    return env;
}

RunResult RunTool(const std::vector<std::string>& args) {
    std::vector<std::string> argv{YOZ_EMUTOOL};
    argv.insert(argv.end(), args.begin(), args.end());
    return Spawn(argv, BaseEnv(), "", "", nullptr, false);
}

Machine MakeMachine(const std::string& flash, const std::string& blocks, const std::vector<std::string>& sets) {
    Machine m;
    std::string base = TempDir("machine");
    m.dir = base + "/m";
    WriteFile(base + "/flash.img", flash);
    std::vector<std::string> args{"init", m.dir, "--flash", base + "/flash.img", "--blocks", blocks};
    for (const auto& s : sets) {
        args.push_back("--set");
        args.push_back(s);
    }
    RunResult r = RunTool(args);
    EXPECT_EQ(r.status, 0) << "yozemu init failed: " << r.err;
    return m;
}

RunResult RunProgramEnv(int width, const std::vector<std::string>& args, const std::vector<std::string>& env,
                        const std::string& input, const std::string& cwd) {
    std::vector<std::string> argv;
    if (width == 32) {
        argv.push_back(YOZ_QEMU_I386);
        argv.push_back(YOZ_EMU32);
    } else {
        argv.push_back(YOZ_EMU64);
    }
    argv.insert(argv.end(), args.begin(), args.end());
    return Spawn(argv, env, input, cwd);
}

RunResult RunProgram(int width, const Machine& m, const std::vector<std::string>& args, const std::string& input,
                     const std::string& cwd) {
    std::vector<std::string> env = BaseEnv();
    env.push_back("YOZ_EMU_MACHINE=" + m.dir);
    return RunProgramEnv(width, args, env, input, cwd.empty() ? m.dir : cwd);
}

RunResult RunProgramWatchingStops(int width, const Machine& m, const std::vector<std::string>& args,
                                  const std::function<void()>& whenStopped) {
    std::vector<std::string> argv;
    if (width == 32) argv.push_back(YOZ_QEMU_I386);
    argv.push_back(ProgramPath(width));
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> env = BaseEnv();
    env.push_back("YOZ_EMU_MACHINE=" + m.dir);
    return Spawn(argv, env, "", m.dir, whenStopped);
}

RunResult RunTestBuild(int width, const std::string& path64, const std::string& path32, const Machine& m,
                       const std::vector<std::string>& args, const std::string& input) {
    std::vector<std::string> argv;
    if (width == 32) {
        argv.push_back(YOZ_QEMU_I386);
        argv.push_back(path32);
    } else {
        argv.push_back(path64);
    }
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> env = BaseEnv();
    env.push_back("YOZ_EMU_MACHINE=" + m.dir);
    // Another test build drives the library's requests one by one: what it
    // leaves started is its own test's business.
    return Spawn(argv, env, input, m.dir, nullptr, false);
}

std::vector<std::string> TraceLines(const Machine& m) {
    std::vector<std::string> lines;
    std::string all = ReadFile(m.File("trace.log"));
    size_t pos = 0;
    while (pos < all.size()) {
        size_t nl = all.find('\n', pos);
        if (nl == std::string::npos) nl = all.size();
        lines.push_back(all.substr(pos, nl - pos));
        pos = nl + 1;
    }
    return lines;
}

std::vector<std::string> TraceOfKind(const Machine& m, const std::string& kind) {
    std::vector<std::string> out;
    for (const auto& l : TraceLines(m)) {
        if (l.compare(0, kind.size() + 1, kind + " ") == 0) out.push_back(l);
    }
    return out;
}

int Smi26UpTo(const Machine& m, const std::string& marker) {
    int n = 0;
    for (const std::string& l : TraceLines(m)) {
        if (l.compare(0, 13, "smi cmd=0x26 ") != 0) continue;
        ++n;
        if (l.find(marker) != std::string::npos) return n;
    }
    return 0;
}

const char* ProgramName(int width) { return width == 32 ? "yozmfglnx_32" : "yozmfglnx_64"; }

std::string ProgramPath(int width) { return width == 32 ? YOZ_EMU32 : YOZ_EMU64; }

RunResult RunExecutableEnv(int width, const std::string& exe, const std::vector<std::string>& args,
                           const std::vector<std::string>& env, const std::string& input, const std::string& cwd) {
    std::vector<std::string> argv;
    if (width == 32) argv.push_back(YOZ_QEMU_I386);
    argv.push_back(exe);
    argv.insert(argv.end(), args.begin(), args.end());
    return Spawn(argv, env, input, cwd);
}

RunResult RunExecutable(int width, const std::string& exe, const Machine& m, const std::vector<std::string>& args,
                        const std::string& input, const std::string& cwd) {
    std::vector<std::string> env = BaseEnv();
    env.push_back("YOZ_EMU_MACHINE=" + m.dir);
    return RunExecutableEnv(width, exe, args, env, input, cwd.empty() ? m.dir : cwd);
}

}  // namespace e2e

namespace e2e {

void ExpectSavedFileRules(const std::string& dir, const std::function<RunResult(const std::string&)>& save) {
    const std::string name = dir + "/saved-rules.bin";
    const std::string target = dir + "/saved-rules.target";
    for (const char* held : {"another user's file", "dangling link", "link to a file"}) {
        SCOPED_TRACE(held);
        std::string what = held;
        unlink(name.c_str());
        unlink(target.c_str());
        if (what == "another user's file") {
            WriteFile(name, "old");
            chmod(name.c_str(), 0666);
            if (geteuid() == 0) {
                EXPECT_EQ(chown(name.c_str(), 65534, 65534), 0);
            }
        } else {
            if (what == "link to a file") WriteFile(target, "keep");
            ASSERT_EQ(symlink(target.c_str(), name.c_str()), 0);
        }
        struct stat before = {};
        lstat(name.c_str(), &before);
        RunResult r = save(name);
        struct stat after = {};
        ASSERT_EQ(lstat(name.c_str(), &after), 0);
        if (what == "another user's file") {
            EXPECT_EQ(r.status, 0) << r.out;
            EXPECT_NE(after.st_ino, before.st_ino) << "a new file takes the name";
            EXPECT_EQ(after.st_mode & 07777, 0600u);
            EXPECT_EQ(after.st_uid, geteuid());
            EXPECT_NE(ReadFile(name), "old");
            continue;
        }
        const std::string refused = " " + name + " is not a regular file: nothing is saved into it.\n" +
                                    "32 - Error: Problem opening file to write.\n";
        EXPECT_EQ(r.status, 0x32);
        EXPECT_TRUE(r.out.size() >= refused.size() && r.out.compare(r.out.size() - refused.size(), refused.size(),
                                                                    refused) == 0)
            << r.out;
        EXPECT_TRUE(S_ISLNK(after.st_mode)) << "the link stays as it was";
        struct stat st = {};
        if (what == "dangling link") EXPECT_NE(lstat(target.c_str(), &st), 0) << "nothing is made through it";
        else EXPECT_EQ(ReadFile(target), "keep");
    }
    unlink(name.c_str());
    unlink(target.c_str());
}

}  // namespace e2e
