// In-process emulated machine for unit tests.
#include "YozFlash.h"
#include "UnitMachine.h"
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>
#include "E2eHarness.h"
#include "EmuMachine.h"
#include "SmiTransport.h"
#include "TKXPortIo.h"

namespace unitmachine {

static const std::string& Dir() {
    static std::string dir;
    if (dir.empty()) {
        dir = e2e::TempDir("unit-machine");
        setenv("YOZ_EMU_MACHINE", dir.c_str(), 1);
    }
    return dir;
}

// The emulator takes its machine directory once, at its first use: name it
// before any test runs, so no test's order decides which one it takes.
class MachineDirectory : public ::testing::Environment {
  public:
    void SetUp() override { Dir(); }
};
static ::testing::Environment* const s_MachineDirectory =
    ::testing::AddGlobalTestEnvironment(new MachineDirectory);

std::string Root(const std::string& path) { return Dir() + "/root" + path; }

void WriteRootFile(const std::string& path, const std::string& data) { e2e::WriteFile(Root(path), data); }

bool Reset(const std::vector<std::string>& settings) {
    const std::string& dir = Dir();
    if (EmuMachine_Dir() != dir) {
        ADD_FAILURE() << "the emulator already runs on another machine directory: " << EmuMachine_Dir();
        return false;
    }
    std::string cmd = "rm -rf '" + dir + "/root' '" + dir + "/state' && mkdir -p '" + dir +
                      "/root/dev' '" + dir + "/root/sys/firmware/acpi/tables' '" + dir +
                      "/root/sys/firmware/efi' '" + dir + "/root/proc/sys/kernel' '" + dir + "/state'";
    if (system(cmd.c_str()) != 0) {
        ADD_FAILURE() << "cannot reset " << dir;
        return false;
    }
    std::string ini;
    for (const auto& s : settings) ini += s + "\n";
    e2e::WriteFile(dir + "/machine.ini", ini);
    e2e::WriteFile(dir + "/trace.log", "");
    int fd = open(Root("/dev/mem").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    bool ok = fd >= 0 && ftruncate(fd, static_cast<off_t>(0x100000000ULL)) == 0;
    if (fd >= 0) close(fd);
    if (!ok) {
        ADD_FAILURE() << "cannot make " << Root("/dev/mem");
        return false;
    }
    EmuMachine_Reload();
    // A fresh machine starts a test without the SMI delay an earlier test left running.
    SetSMI_IFC_DelayIsRun(0);
    return true;
}

bool PutPhys(UINT64 address, const std::string& data) {
    return EmuPhys_Write(address, data.data(), static_cast<UINT32>(data.size()));
}

std::string GetPhys(UINT64 address, UINT32 size) {
    std::string s(size, '\0');
    if (!EmuPhys_Read(address, &s[0], size)) s.clear();
    return s;
}

std::vector<std::string> Trace() {
    std::vector<std::string> lines;
    std::string all = e2e::ReadFile(Dir() + "/trace.log");
    size_t pos = 0;
    while (pos < all.size()) {
        size_t nl = all.find('\n', pos);
        if (nl == std::string::npos) nl = all.size();
        lines.push_back(all.substr(pos, nl - pos));
        pos = nl + 1;
    }
    return lines;
}

void Settings(const std::vector<std::string>& settings) {
    std::string ini;
    for (const auto& s : settings) ini += s + "\n";
    e2e::WriteFile(Dir() + "/machine.ini", ini);
    EmuMachine_Reload();
}

void ClearTrace() { e2e::WriteFile(Dir() + "/trace.log", ""); }

std::string File(const std::string& name) { return Dir() + "/" + name; }

UINT8* InstallInterfaceBuffer() {
    static UINT8* mapped = nullptr;
    if (mapped != nullptr) munmap(mapped, 0x11000);
    mapped = nullptr;
    int fd = open(Root("/dev/mem").c_str(), O_RDWR);
    if (fd < 0) {
        ADD_FAILURE() << "no memory file; Reset first";
        return nullptr;
    }
    void* p = mmap(nullptr, 0x11000, PROT_READ | PROT_WRITE, MAP_SHARED, fd, kIntrBufPhys);
    close(fd);
    if (p == MAP_FAILED) {
        ADD_FAILURE() << "cannot map the interface buffer";
        return nullptr;
    }
    mapped = static_cast<UINT8*>(p);
    gpIntrBuf = mapped;
    gIntrBufPhyAddr = kIntrBufPhys;
    gSmiPort = 0xB2;
    return mapped;
}

}  // namespace unitmachine
