// Physical memory manager: mappings of physical ranges through "/dev/mem" (or
// the driver's device) and the one physically contiguous pool of the run,
// taken from the firmware's WSMT mailbox, the firmware memory hole or the
// kernel driver.
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#include "HuxPlatform.h"
#include "OsSeam.h"
#include "TKXAcpi.h"
#include "TKXDriver.h"
#include "TKXList.h"
#include "TKXPhysMem.h"
#include "TKXPortIo.h"

int FdMem = -1;
AllocPhyMemImplT AllocPhyMemImpl = _AllocPhyMem;
FreePhyMemImplT FreePhyMemImpl = _FreePhyMem;
CleanUpResourceHook CleanMemMgrHook = nullptr;

UINT32 gSmiMailBoxAddress = 0;
UINT16 gAcpiSmiPort = 0;
UINT8 gSmiMailBox[kSmiMailBoxSize];
UINT8* VirtualSmiMailBox = nullptr;
UINT8 gAcpiWSMTisEnabled = 0;

UINT16 SmiPort = 0;
UINT32 RuntimeMemoryHoleAddress = 0;

UINT32 MemoryPoolSize = 0;
UINT32 MemoryPoolPhysical = 0;
UINT8* MemoryPoolVirtual = nullptr;

namespace {

const UINT8 kSmiMailBoxCommand = 0xD9;
const UINT32 kMailBoxRequest = 0xC0000001;
const UINT32 kMailBoxRelease = 0xC0000002;
const UINT8 kMemoryHoleCommand = 0x7F;

// The buffer of the driver or mailbox path (one at a time).
UINT8* VirtualAddr = nullptr;
// The mapping of the memory hole, made on the first request and kept.
UINT8* HoleMapping = nullptr;

struct _TKX_MEMORY_BLOCK_INFO {
    UINT8* start;
    UINT8* end;
};
TKXList<_TKX_MEMORY_BLOCK_INFO*> MemoryBlockList;

void ClearMemoryBlockList() {
    for (unsigned long i = 0; i < MemoryBlockList.size(); ++i) delete MemoryBlockList[i];
    MemoryBlockList.clear();
}

// The mappings made through the driver's device, page-aligned, until unmapped.
TKXList<_TKX_MEMORY_BLOCK_INFO*> DriverMappingList;

void* MapShared(size_t length, off_t offset, int fd) {
    void* p = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, offset);
    if (p == MAP_FAILED) return nullptr;
    if (fd == Fd) DriverMappingList.push_back(new _TKX_MEMORY_BLOCK_INFO{static_cast<UINT8*>(p), static_cast<UINT8*>(p) + length});
    return p;
}

void Unmap(UINT8* start, size_t length) {
    munmap(start, length);
    for (unsigned long i = 0; i < DriverMappingList.size(); ++i) {
        if (DriverMappingList[i]->start != start) continue;
        delete DriverMappingList[i];
        DriverMappingList.remove(i);
        break;
    }
}

UINT32 PageSize() { return static_cast<UINT32>(sysconf(_SC_PAGESIZE)); }

UINT32 PageOffset(const void* pointer) {
    return static_cast<UINT32>(reinterpret_cast<uintptr_t>(pointer) % PageSize());
}

// Asks the firmware for its mailbox on the ACPI SMI port: try 1 with EDI 0,
// try 2 with EDI 1 when try 1 was refused. Leaves gSmiMailBoxAddress set when
// granted.
void RequestSmiMailBox() {
    UINT16 port = 0;
    if (TKX_GetAcpiSmiPort(&port) != 0) return;
    gAcpiSmiPort = port;
    TKX_GeneralPurposeRegisterBuffer regs{};
    regs.Ecx = kMailBoxRequest;
    regs.Edi = 0;
    regs.Esi = kSmiMailBoxBufferSize;
    OutPortByte(port, kSmiMailBoxCommand, &regs);
    if (regs.Ecx != 0) {
        regs.Ecx = kMailBoxRequest;
        regs.Edi = 1;
        regs.Esi = kSmiMailBoxBufferSize;
        OutPortByte(port, kSmiMailBoxCommand, &regs);
    }
    if (regs.Ecx == 0) gSmiMailBoxAddress = regs.Esi;
}

// Gives the mailbox back to the firmware.
void ReleaseSmiMailBox() {
    TKX_GeneralPurposeRegisterBuffer regs{};
    regs.Ecx = kMailBoxRelease;
    OutPortByte(gAcpiSmiPort, kSmiMailBoxCommand, &regs);
}

// The mailbox's buffer must be a real address with the whole buffer below
// 4 GiB: the program hands it to the firmware as a 32-bit address and clears
// it, and address 0 holds the real-mode vector table.
bool UsableMailBoxBuffer(UINT64 buffer) {
    return buffer != 0 && buffer + kSmiMailBoxBufferSize <= 0x100000000ULL;
}

// Maps the granted mailbox and its buffer. A buffer address that cannot be
// used or a mapping that fails counts as a refusal: nothing stays mapped and
// the caller falls back.
bool TakeSmiMailBox(UINT32* physical, UINT8** virtualAddress) {
    VirtualSmiMailBox = MapPhyMem(gSmiMailBoxAddress, kSmiMailBoxSize);
    if (VirtualSmiMailBox == nullptr) return false;
    memcpy(gSmiMailBox, VirtualSmiMailBox, kSmiMailBoxSize);
    UINT64 buffer;
    memcpy(&buffer, gSmiMailBox + 8, sizeof(buffer));
    VirtualAddr = UsableMailBoxBuffer(buffer) ? MapPhyMem(static_cast<UINT32>(buffer), kSmiMailBoxBufferSize) : nullptr;
    if (VirtualAddr == nullptr) {
        UnMapPhyMem(VirtualSmiMailBox, kSmiMailBoxSize);
        VirtualSmiMailBox = nullptr;
        return false;
    }
    *physical = static_cast<UINT32>(buffer);
    *virtualAddress = VirtualAddr;
    memset(VirtualSmiMailBox, 0, kSmiMailBoxSize);
    gAcpiWSMTisEnabled = 1;
    return true;
}

}  // namespace

UINT8* MapPhyMem(UINT32 physical, UINT32 length) {
    if (length == 0 || static_cast<UINT64>(physical) + length > 0x100000000ULL) return nullptr;
    int fd = Fd != -1 ? Fd : FdMem;
    if (fd == -1) return nullptr;
    UINT32 offset = physical % PageSize();
    void* p = MapShared(static_cast<size_t>(length) + offset, static_cast<off_t>(physical - offset), fd);
    if (p == nullptr) return nullptr;
    return static_cast<UINT8*>(p) + offset;
}

UINT8 UnMapPhyMem(UINT8* pointer, UINT32 length) {
    if (pointer == nullptr) return 1;
    UINT32 offset = PageOffset(pointer);
    Unmap(pointer - offset, static_cast<size_t>(length) + offset);
    return 1;
}

void TKX_UnmapDriverMappings() {
    for (unsigned long i = 0; i < DriverMappingList.size(); ++i) {
        munmap(DriverMappingList[i]->start, static_cast<size_t>(DriverMappingList[i]->end - DriverMappingList[i]->start));
        delete DriverMappingList[i];
    }
    DriverMappingList.clear();
}

UINT8 AllocPhyMem(UINT32 size, UINT32* physical, UINT8** virtualAddress) {
    // The pool is handed out whole, but never as more than it holds.
    if (MemoryPoolVirtual == nullptr || size > MemoryPoolSize) return 0;
    *physical = MemoryPoolPhysical;
    *virtualAddress = MemoryPoolVirtual;
    return 1;
}

UINT8 FreePhyMem(UINT32, UINT32) { return 1; }

UINT8 OS_AllocPhyMemWithOutWSMT(UINT32 size, UINT32* physical, UINT8** virtualAddress) {
    return AllocPhyMemImpl(size, physical, virtualAddress);
}

UINT8 OS_AllocPhyMem(UINT32 size, UINT32* physical, UINT8** virtualAddress) {
    gAcpiWSMTisEnabled = 0;
    gSmiMailBoxAddress = 0;
    RequestSmiMailBox();
    if (gSmiMailBoxAddress != 0) {
        if (TakeSmiMailBox(physical, virtualAddress)) return 1;
        // Granted but not usable: the firmware gets it back.
        ReleaseSmiMailBox();
    }
    gSmiMailBoxAddress = 0;
    return AllocPhyMemImpl(size, physical, virtualAddress);
}

UINT8 OS_FreePhyMem(UINT32 physical, UINT32 size) {
    if (gSmiMailBoxAddress == 0) return FreePhyMemImpl(physical, size);
    if (VirtualSmiMailBox != nullptr) memcpy(VirtualSmiMailBox, gSmiMailBox, kSmiMailBoxSize);
    ReleaseSmiMailBox();
    gSmiMailBoxAddress = 0;
    gAcpiSmiPort = 0;
    gAcpiWSMTisEnabled = 0;
    if (VirtualAddr != nullptr) UnMapPhyMem(VirtualAddr, kSmiMailBoxBufferSize);
    VirtualAddr = nullptr;
    if (VirtualSmiMailBox != nullptr) UnMapPhyMem(VirtualSmiMailBox, kSmiMailBoxSize);
    VirtualSmiMailBox = nullptr;
    return 1;
}

UINT8 _AllocPhyMem(UINT32 size, UINT32* physical, UINT8** virtualAddress) {
    *virtualAddress = nullptr;
    if (Fd == -1) return 0;
    NUVFLDRV_ALLOC request{};
    request.size = static_cast<long>(size);
    if (TKX_DriverRequest(CMD_ALLOC, &request) != 0) return 0;
    void* p = MapShared(size, static_cast<off_t>(request.kphysadd), Fd);
    if (p == nullptr) return 0;
    VirtualAddr = static_cast<UINT8*>(p);
    *physical = static_cast<UINT32>(request.kphysadd);
    *virtualAddress = VirtualAddr;
    return 1;
}

UINT8 _FreePhyMem(UINT32 physical, UINT32 size) {
    if (VirtualAddr == nullptr) return 1;
    Unmap(VirtualAddr, size);
    NUVFLDRV_ALLOC request{};
    request.size = static_cast<long>(size);
    request.kphysadd = physical;
    TKX_DriverRequest(CMD_FREE, &request);
    VirtualAddr = nullptr;
    return 1;
}

UINT8 _AllocRuntimeMemoryHole(UINT32 size, UINT32* physical, UINT8** virtualAddress) {
    if (HoleMapping == nullptr) HoleMapping = MapPhyMem(RuntimeMemoryHoleAddress, size);
    *physical = RuntimeMemoryHoleAddress;
    *virtualAddress = HoleMapping;
    return HoleMapping != nullptr;
}

UINT8 _DeallocRuntimeMemoryHole(UINT32, UINT32 size) {
    if (HoleMapping == nullptr) return 0;
    UnMapPhyMem(HoleMapping, size);
    HoleMapping = nullptr;
    return 1;
}

BOOLEAN TKX_RuntimeMemoryHoleLoader(TKXArgvList&, UINT32 loadedSoFar) {
    if (TKX_Get_Linux_SecureBoot_Enable()) return 0;
    if (TKX_GetAcpiSmiPort(&SmiPort) != 0) TKX_GetLegacySmiPort(&SmiPort);
    if (loadedSoFar == 0) {
        // A direct write: never through the driver, no mailbox refresh.
        TKX_GeneralPurposeRegisterBuffer regs{};
        OsSeam_OutByteRegs(SmiPort, kMemoryHoleCommand, regs);
        RuntimeMemoryHoleAddress = regs.Ebx;
        if (RuntimeMemoryHoleAddress != 0) {
            AllocPhyMemImpl = _AllocRuntimeMemoryHole;
            FreePhyMemImpl = _DeallocRuntimeMemoryHole;
        }
    }
    return RuntimeMemoryHoleAddress != 0;
}

void TKX_RuntimeMemoryHoleUnloader(TKXArgvList&) {}

UINT8 TKX_PhysicalMemoryLibInit() {
    MemoryPoolSize = 0x11000;
    MemoryPoolVirtual = nullptr;
    for (;;) {
        OS_AllocPhyMem(MemoryPoolSize, &MemoryPoolPhysical, &MemoryPoolVirtual);
        if (MemoryPoolVirtual != nullptr) break;
        MemoryPoolSize -= 0x1000;
        if (MemoryPoolSize <= 0x1000) break;
    }
    if (MemoryPoolVirtual == nullptr) return 0;
    MemoryBlockList.push_back(new _TKX_MEMORY_BLOCK_INFO{MemoryPoolVirtual, MemoryPoolVirtual + MemoryPoolSize});
    return 1;
}

void TKX_PhysicalMemoryLibFree() {
    if (MemoryPoolVirtual == nullptr) return;
    OS_FreePhyMem(MemoryPoolPhysical, MemoryPoolSize);
    MemoryPoolVirtual = nullptr;
    MemoryPoolPhysical = 0;
    ClearMemoryBlockList();
}

void CleanMemMgr() {
    TKX_PhysicalMemoryLibFree();
    if (FdMem != -1) close(FdMem);
    FdMem = -1;
}

BOOLEAN InitMemMgr() {
    FdMem = open(OsSeam_Path("/dev/mem").c_str(), O_RDWR | O_SYNC | O_CLOEXEC);
    if (FdMem == -1) return 0;
    if (!TKX_PhysicalMemoryLibInit()) return 0;
    CleanMemMgrHook = CleanMemMgr;
    return 1;
}
