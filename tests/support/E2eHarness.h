// End-to-end harness: makes emulated machines with yozemu and runs the test
// builds of the program in them as separate processes, as an operator would.
#pragma once
#include <gtest/gtest.h>
#include <functional>
#include <string>
#include <vector>

namespace e2e {

struct Machine {
    std::string dir;
    std::string File(const std::string& name) const { return dir + "/" + name; }
    std::string Root(const std::string& path) const { return dir + "/root" + path; }
};

struct RunResult {
    std::string out;   // standard output
    std::string err;   // standard error
    int status = -1;   // exit status, or 128 + signal
    int signal = 0;    // the signal that ended the process, 0 when it exited
};

// A fresh directory for one test, removed when the test process ends
// (kept when YOZ_KEEP_TEMP is set).
std::string TempDir(const std::string& tag);
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& data);
// The names in a directory, sorted (none for a directory that cannot be read).
std::vector<std::string> DirectoryEntries(const std::string& dir);

// Makes a machine whose flash holds `flash`, laid out by `blocks`; returns
// the machine and fails the test when yozemu refuses.
Machine MakeMachine(const std::string& flash, const std::string& blocks, const std::vector<std::string>& sets = {});
// A flash image of `size` bytes filled with `fill`.
std::string Filled(size_t size, unsigned char fill);

// Runs yozemu with arguments.
RunResult RunTool(const std::vector<std::string>& args);
// Runs the program of `width` (64 or 32) in the machine, in directory `cwd`
// (the machine directory when empty), with `input` on standard input.
RunResult RunProgram(int width, const Machine& m, const std::vector<std::string>& args, const std::string& input = "",
                     const std::string& cwd = "");
// Same, with an environment of our choosing (no YOZ_EMU_MACHINE unless given).
RunResult RunProgramEnv(int width, const std::vector<std::string>& args, const std::vector<std::string>& env,
                        const std::string& input = "", const std::string& cwd = "");

// Runs the program like RunProgram (no input), and each time it stops (a
// stop signal it did not hold back) calls `whenStopped`, then continues it.
RunResult RunProgramWatchingStops(int width, const Machine& m, const std::vector<std::string>& args,
                                  const std::function<void()>& whenStopped);

// Runs another test build of `width` (path64 or path32, the latter under
// qemu-i386) in the machine, in the machine directory.
RunResult RunTestBuild(int width, const std::string& path64, const std::string& path32, const Machine& m,
                       const std::vector<std::string>& args, const std::string& input = "");

std::vector<std::string> TraceLines(const Machine& m);
// Trace lines that start with `kind` followed by a blank.
std::vector<std::string> TraceOfKind(const Machine& m, const std::string& kind);
// How many SMIs of command 0x26 the run made up to and including the first
// whose trace line holds `marker` (0 when none does): the n of a
// "signal_smi=0x26#n:SIG" that lands at that request.
int Smi26UpTo(const Machine& m, const std::string& marker);

// What a run may leave started in its machine. After every run of the
// program the harness reads the machine's state (and the directories the run
// writes) and fails the test when the run ended with one of these, unless an
// ExpectLeft alive at that moment names it.
enum Left : unsigned {
    kMeUpdateOpen = 1u << 0,   // state/me_update: an ME update started and not ended
    kMePushHeld = 1u << 1,     // state/me_push_pages, me_capsule: an ME push or session the firmware holds
    kEcInFlashMode = 1u << 2,  // state/ec_mode: the controller in flash mode (with state/ec_pieces: after pages)
    kSetupStored = 1u << 3,    // state/setup_stored: a setup store not taken back
    kDmiStored = 1u << 4,      // state/dmi_stored: an SMBIOS store not taken back
    kFileAside = 1u << 5,      // ".<name>.<random>": a replaced file kept aside
    kTempFile = 1u << 6,       // ".<name>.<random>.incomplete": a new file never committed
};
// While it lives, runs may leave `left` (nested ones add up).
class ExpectLeft {
public:
    explicit ExpectLeft(unsigned left);
    ~ExpectLeft();
    ExpectLeft(const ExpectLeft&) = delete;
    ExpectLeft& operator=(const ExpectLeft&) = delete;

private:
    unsigned saved_;
};
// What the run in machine directory `dir` left, of the states above: the
// harness's own check, for tests that assert a state directly. `cwd` and
// `args` name the other directories the run may write.
unsigned LeftInMachine(const std::string& dir, const std::string& cwd, const std::vector<std::string>& args);
// The names of the bits in `left`, for messages.
std::string LeftNames(unsigned left);

// The name the program prints for itself in the usage lines.
const char* ProgramName(int width);

// The test build of `width`, for tests that run a changed copy of it.
std::string ProgramPath(int width);
// Runs the executable `exe` as a program of `width` (under qemu-i386 for 32)
// in the machine, like RunProgram.
RunResult RunExecutable(int width, const std::string& exe, const Machine& m, const std::vector<std::string>& args,
                        const std::string& input = "", const std::string& cwd = "");
// Same, with an environment of our choosing and no machine.
RunResult RunExecutableEnv(int width, const std::string& exe, const std::vector<std::string>& args,
                           const std::vector<std::string>& env, const std::string& input = "",
                           const std::string& cwd = "");

// The rules of every file the program saves, checked for one save command:
// `save` runs it for a file name (answering "y" to the replace question).
// Another user's file open to all is replaced by a new file (another inode)
// of the owner only; a link by that name, dangling or not, is refused with
// its line and 0x32, and nothing is written through it. The files are made
// in `dir`.
void ExpectSavedFileRules(const std::string& dir, const std::function<RunResult(const std::string&)>& save);

}  // namespace e2e

// Fixture parameterised over the two widths of the test build.
class E2eWidth : public ::testing::TestWithParam<int> {
protected:
    int Width() const { return GetParam(); }
};

// The sanitizer build has no i386 test build: its suite runs the 64-bit cases.
#ifdef YOZ_E2E_64_ONLY
#define YOZ_E2E_WIDTH_VALUES ::testing::Values(64)
#else
#define YOZ_E2E_WIDTH_VALUES ::testing::Values(64, 32)
#endif

#define YOZ_E2E_BOTH_WIDTHS(Suite)                                                                   \
    INSTANTIATE_TEST_SUITE_P(Widths, Suite, YOZ_E2E_WIDTH_VALUES,                                     \
                             [](const ::testing::TestParamInfo<int>& info) {                          \
                                 return std::string("w") + std::to_string(info.param);                \
                             })
