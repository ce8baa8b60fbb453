#include "FlashRig.h"
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include "EmuMachine.h"
#include "FlashBlock.h"
#include "RomInfo.h"
#include "TKXPhysMem.h"
#include "TKXPortIo.h"

namespace unit {

// Where the rig maps the interface buffer in the machine's physical memory.
static const UINT32 kBufferPhysical = 0x7E000000;

static bool WriteAll(const std::string& path, const std::string& data) {
    FILE* f = fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    bool ok = fwrite(data.data(), 1, data.size(), f) == data.size();
    return fclose(f) == 0 && ok;
}

static std::string ReadAll(const std::string& path) {
    std::string out;
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) return out;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0) out.append(buf, n);
    fclose(f);
    return out;
}

// The machine directory of this process: YOZ_EMU_MACHINE, made up on first
// use (the emulator reads the variable once per process).
static std::string MachineDir() {
    if (getenv("YOZ_EMU_MACHINE") == nullptr) {
        char tmpl[] = "/tmp/yoz-flashrig-XXXXXX";
        if (mkdtemp(tmpl) != nullptr) setenv("YOZ_EMU_MACHINE", tmpl, 1);
    }
    return EmuMachine_Dir();
}

static void ClearStateFiles(const std::string& dir) {
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] != '.') unlink((dir + "/" + e->d_name).c_str());
    }
    closedir(d);
}

FlashRig::FlashRig(const std::string& flash, const std::string& blocks, const std::vector<std::string>& sets) {
    std::string dir = MachineDir();
    if (dir.empty() || dir != getenv("YOZ_EMU_MACHINE")) {
        error_ = "emulated machine directory not usable";
        return;
    }
    mkdir((dir + "/root").c_str(), 0755);
    mkdir((dir + "/root/dev").c_str(), 0755);
    mkdir((dir + "/state").c_str(), 0755);
    ClearStateFiles(dir + "/state");
    std::string ini = "blocks=" + blocks + "\n";
    for (const std::string& s : sets) ini += s + "\n";
    if (!WriteAll(dir + "/machine.ini", ini) || !WriteAll(dir + "/flash.bin", flash)) {
        error_ = "cannot write the machine";
        return;
    }
    EmuMachine_Reload();

    int fd = open((dir + "/root/dev/mem").c_str(), O_RDWR | O_CREAT, 0644);
    if (fd < 0 || ftruncate(fd, 0x100000000LL) != 0) {
        error_ = "cannot make physical memory";
        if (fd >= 0) close(fd);
        return;
    }
    void* p = mmap(nullptr, INTERFACE_BUFFER_SIZE, PROT_READ | PROT_WRITE, MAP_SHARED, fd, kBufferPhysical);
    close(fd);
    if (p == MAP_FAILED) {
        error_ = "cannot map the interface buffer";
        return;
    }
    mapping_ = static_cast<UINT8*>(p);
    gpIntrBuf = mapping_;
    gIntrBufPhyAddr = kBufferPhysical;
    gSmiPort = static_cast<UINT16>(EmuMachine_GetNum("smi_port", 0xB2));

    if (EnableFlashIfc() != eEID_NO_ERROR) {
        error_ = "flash interface refused";
        return;
    }
    sROMInfo* answer = nullptr;
    if (GetFlashInfo(&answer) != eEID_NO_ERROR) {
        error_ = "no ROM information";
        return;
    }
    gFlashBlockSize = answer->Blocks[0].BlockSize;
    if (CopyBiosInfoToAnotherBuffer(answer) != eEID_NO_ERROR) {
        error_ = "ROM information not converted";
        return;
    }
    gRomSize = CalculateRomSize();
    ClearTrace();
    ok_ = true;
}

FlashRig::~FlashRig() {
    CleanFlashIfc();
    FreeMem(gpFlashInfo);
    gpFlashInfo = nullptr;
    gRomSize = 0;
    gFlashBlockSize = 0;
    gpIntrBuf = nullptr;
    gpFuncBlock = nullptr;
    gIntrBufPhyAddr = 0;
    if (mapping_ != nullptr) munmap(mapping_, INTERFACE_BUFFER_SIZE);
}

std::string FlashRig::Flash() const { return ReadAll(EmuMachine_File("flash.bin")); }

std::vector<std::string> FlashRig::Trace() const {
    std::vector<std::string> lines;
    std::string text = ReadAll(EmuMachine_File("trace.log"));
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return lines;
}

void FlashRig::ClearTrace() { unlink(EmuMachine_File("trace.log").c_str()); }

size_t FlashRig::Smis(UINT8 command) const {
    char prefix[32];
    snprintf(prefix, sizeof(prefix), "smi cmd=0x%02x ", command);
    size_t n = 0;
    for (const std::string& line : Trace()) n += line.compare(0, 13, prefix) == 0 ? 1 : 0;
    return n;
}

std::string FlashRig::SmiSequence() const {
    std::string out;
    for (const std::string& line : Trace()) {
        if (line.compare(0, 10, "smi cmd=0x") == 0) out += line.substr(10, 2) + " ";
    }
    return out;
}

std::string Pattern(size_t size, UINT8 seed) {
    std::string out(size, '\0');
    for (size_t i = 0; i < size; ++i) out[i] = static_cast<char>((i * 7 + seed) & 0xFF);
    for (size_t page = 0; page * 0x1000 < size; ++page) out[page * 0x1000] = static_cast<char>(page & 0xFF);
    return out;
}

}  // namespace unit
