#include "FlashRig.h"
#include <cstdio>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#include "E2eHarness.h"
#include "EmuMachine.h"
#include "FlashBlock.h"
#include "RomInfo.h"
#include "TKXPhysMem.h"
#include "TKXPortIo.h"
#include "UnitMachine.h"

namespace unit {

// Where the rig maps the interface buffer in the machine's physical memory.
static const UINT32 kBufferPhysical = 0x7E000000;

FlashRig::FlashRig(const std::string& flash, const std::string& blocks, const std::vector<std::string>& sets) {
    std::vector<std::string> ini{"blocks=" + blocks};
    ini.insert(ini.end(), sets.begin(), sets.end());
    if (!unitmachine::Reset(ini)) {
        error_ = "emulated machine not usable";
        return;
    }
    e2e::WriteFile(EmuMachine_File("flash.bin"), flash);
    int fd = open(unitmachine::Root("/dev/mem").c_str(), O_RDWR);
    if (fd < 0) {
        error_ = "no physical memory";
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

std::string FlashRig::Flash() const { return e2e::ReadFile(EmuMachine_File("flash.bin")); }

std::vector<std::string> FlashRig::Trace() const { return unitmachine::Trace(); }

void FlashRig::ClearTrace() { e2e::WriteFile(EmuMachine_File("trace.log"), ""); }

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
