// ACPI tables: the kernel's copies under /sys/firmware/acpi/tables/ first,
// otherwise a walk from the RSDP through RSDT and XSDT in physical memory.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#include "HuxCore.h"
#include "OsSeam.h"
#include "TKXAcpi.h"
#include "TKXPhysMem.h"

namespace {

const UINT32 kRsdPtrSize = 36;
const UINT32 kRsdtCacheSize = 36 + 16 * 4;
const UINT32 kXsdtCacheSize = 36 + 16 * 8;
const UINT32 kFadtCacheSize = 244;
const UINT32 kFadtSmiCmdOffset = 48;
const UINT32 kFadtDsdtOffset = 40;
const UINT32 kAcpiHeaderSize = sizeof(_ACPI_HDR);
// A table longer than this is taken for garbage, not copied.
const UINT32 kAcpiTableMax = 0x1000000;

UINT8 RsdPtr[kRsdPtrSize];
UINT8 Rsdt[kRsdtCacheSize];
UINT8 Xsdt[kXsdtCacheSize];
UINT8 Fadt[kFadtCacheSize];
UINT8 RsdPtrInit = 0;
UINT8 RsdtInit = 0;
UINT8 XsdtInit = 0;
UINT8 FadtInit = 0;

UINT32 ReadU32(const UINT8* p) {
    UINT32 v;
    memcpy(&v, p, sizeof(v));
    return v;
}

UINT64 ReadU64(const UINT8* p) {
    UINT64 v;
    memcpy(&v, p, sizeof(v));
    return v;
}

UINT32 SignatureOf(const void* header) { return ReadU32(static_cast<const UINT8*>(header)); }

void ClearTableCaches() {
    memset(RsdPtr, 0, sizeof(RsdPtr));
    memset(Rsdt, 0, sizeof(Rsdt));
    memset(Xsdt, 0, sizeof(Xsdt));
    RsdPtrInit = RsdtInit = XsdtInit = 0;
}

// A root table copy is usable when it carries its signature and a whole header.
bool RootTableValid(const UINT8* table, const char* signature) {
    return memcmp(table, signature, 4) == 0 && ReadU32(table + 4) >= kAcpiHeaderSize;
}

// With the RSDP found: copy RSDT and, for ACPI 2.0 and later, XSDT. Either
// one valid is enough.
UINT8 LoadRootTables() {
    RsdtInit = TKX_GetAcpiTableImpl(Rsdt, ReadU32(RsdPtr + 16), sizeof(Rsdt)) != nullptr &&
               RootTableValid(Rsdt, "RSDT");
    UINT8 revision = RsdPtr[15];
    UINT64 xsdtAddress = ReadU64(RsdPtr + 24);
    XsdtInit = 0;
    if (revision >= 2 && xsdtAddress != 0) {
        XsdtInit = TKX_GetAcpiTableImpl(Xsdt, static_cast<UINT32>(xsdtAddress), sizeof(Xsdt)) != nullptr &&
                   RootTableValid(Xsdt, "XSDT");
    }
    return RsdtInit || XsdtInit;
}

// Reads a kernel copy: Length from its header, the table into buffer when it fits.
UINT32 ReadTableFile(const char* path, _ACPI_HDR* header, void* buffer, UINT32 length) {
    memset(header, 0, sizeof(*header));
    int fd = open(OsSeam_Path(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    ssize_t got = read(fd, header, sizeof(*header));
    if (got == static_cast<ssize_t>(sizeof(*header)) && buffer != nullptr && header->Length <= length &&
        lseek(fd, 0, SEEK_SET) == 0) {
        UINT32 have = 0;
        while (have < header->Length) {
            ssize_t n = read(fd, static_cast<UINT8*>(buffer) + have, header->Length - have);
            if (n <= 0) break;
            have += static_cast<UINT32>(n);
        }
    }
    close(fd);
    return header->Length;
}

// Copies the table whose header is at physical into buffer when it fits.
UINT32 CopyTableAt(UINT32 physical, void* buffer, UINT32 length, bool* mapped) {
    _ACPI_HDR header;
    *mapped = TKX_GetAcpiTableImpl(reinterpret_cast<UINT8*>(&header), physical, sizeof(header)) != nullptr;
    if (!*mapped) return 0;
    if (buffer != nullptr && header.Length <= length && header.Length <= kAcpiTableMax) {
        if (TKX_GetAcpiTableImpl(static_cast<UINT8*>(buffer), physical, header.Length) == nullptr) return 0;
    }
    return header.Length;
}

UINT32 SearchRootTable(const UINT8* table, UINT32 entrySize, UINT32 signature, void* buffer, UINT32 length,
                       bool* failed) {
    UINT32 entries = (ReadU32(table + 4) - kAcpiHeaderSize) / entrySize;
    if (entries > 16) entries = 16;
    for (UINT32 i = 0; i < entries; ++i) {
        const UINT8* entry = table + kAcpiHeaderSize + i * entrySize;
        UINT32 address = entrySize == 8 ? static_cast<UINT32>(ReadU64(entry)) : ReadU32(entry);
        _ACPI_HDR header;
        if (TKX_GetAcpiTableImpl(reinterpret_cast<UINT8*>(&header), address, sizeof(header)) == nullptr) {
            *failed = true;
            return 0;
        }
        if (SignatureOf(&header) != signature) continue;
        bool mapped = false;
        UINT32 found = CopyTableAt(address, buffer, length, &mapped);
        if (!mapped) *failed = true;
        return found;
    }
    return 0;
}

}  // namespace

void TKX_AcpiForgetTables() {
    ClearTableCaches();
    memset(Fadt, 0, sizeof(Fadt));
    FadtInit = 0;
}

UINT8* TKX_AcpiMapMem(UINT32 physical, UINT32 length) {
    if (length == 0 || static_cast<UINT64>(physical) + length > 0x100000000ULL) return nullptr;
    UINT32 page = static_cast<UINT32>(sysconf(_SC_PAGESIZE));
    UINT32 offset = physical % page;
    // Read-only and without O_SYNC: some kernels refuse table maps otherwise.
    int fd = open(OsSeam_Path("/dev/mem").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    void* p = mmap(nullptr, static_cast<size_t>(length) + offset, PROT_READ, MAP_PRIVATE, fd,
                   static_cast<off_t>(physical - offset));
    close(fd);
    if (p == MAP_FAILED) return nullptr;
    return static_cast<UINT8*>(p) + offset;
}

void TKX_AcpiUnmapMem(UINT8* pointer, UINT32 length) {
    if (pointer == nullptr) return;
    UINT32 page = static_cast<UINT32>(sysconf(_SC_PAGESIZE));
    UINT32 offset = static_cast<UINT32>(reinterpret_cast<uintptr_t>(pointer) % page);
    munmap(pointer - offset, static_cast<size_t>(length) + offset);
}

UINT8* TKX_GetAcpiTableImpl(UINT8* destination, UINT32 physical, UINT32 length) {
    UINT8* p = TKX_AcpiMapMem(physical, length);
    if (p == nullptr) return nullptr;
    memcpy(destination, p, length);
    TKX_AcpiUnmapMem(p, length);
    return destination;
}

UINT8 TKX_GetAcpiRsdtXsdtViaEfiTable() {
    if (RsdPtrInit) return 1;
    ClearTableCaches();
    FILE* f = fopen(OsSeam_Path("/sys/firmware/efi/systab").c_str(), "re");
    if (f == nullptr) return 0;
    char line[81];
    UINT64 address = 0;
    bool matched = false;
    while (!matched && fgets(line, sizeof(line), f) != nullptr) {
        if (strncmp(line, "ACPI20=", 7) != 0) continue;
        char* end = nullptr;
        address = strtoull(line + 7, &end, 16);
        matched = end != line + 7;
    }
    fclose(f);
    if (!matched || address >= 0x100000000ULL) return 0;
    UINT8 candidate[kRsdPtrSize];
    if (TKX_GetAcpiTableImpl(candidate, static_cast<UINT32>(address), sizeof(candidate)) == nullptr) return 0;
    if (memcmp(candidate, "RSD PTR ", 8) != 0) return 0;
    memcpy(RsdPtr, candidate, sizeof(RsdPtr));
    RsdPtrInit = 1;
    return LoadRootTables();
}

UINT8 TKX_GetAcpiRsdtXsdt() {
    if (RsdPtrInit) return 1;
    ClearTableCaches();
    const UINT32 base = 0xE0000, size = 0x20000;
    UINT8* area = TKX_AcpiMapMem(base, size);
    if (area == nullptr) return 0;
    // Only where a whole RSDP fits inside the area; the last match wins.
    for (UINT32 off = 0; off + kRsdPtrSize <= size; off += 16) {
        if (memcmp(area + off, "RSD PTR ", 8) == 0) {
            memcpy(RsdPtr, area + off, sizeof(RsdPtr));
            RsdPtrInit = 1;
        }
    }
    TKX_AcpiUnmapMem(area, size);
    if (!RsdPtrInit) return 0;
    return LoadRootTables();
}

UINT32 TKX_GetGenericAcpiTable(UINT32 signature, void* buffer, UINT32 length) {
    if (!TKX_GetAcpiRsdtXsdtViaEfiTable() && !TKX_GetAcpiRsdtXsdt()) return 0;
    bool failed = false;
    if (RsdtInit) {
        UINT32 found = SearchRootTable(Rsdt, 4, signature, buffer, length, &failed);
        if (found != 0 || failed) return found;
    }
    if (XsdtInit) return SearchRootTable(Xsdt, 8, signature, buffer, length, &failed);
    return 0;
}

UINT32 TKX_GetAcpiDsdtViaFile(_ACPI_HDR* header, void* buffer, UINT32 length) {
    return ReadTableFile("/sys/firmware/acpi/tables/DSDT", header, buffer, length);
}

UINT32 TKX_GetAcpiFidtViaFile(_ACPI_HDR* header, void* buffer, UINT32 length) {
    return ReadTableFile("/sys/firmware/acpi/tables/FIDT", header, buffer, length);
}

UINT32 TKX_GetAcpiFacpViaFile(_ACPI_HDR* header, void* buffer, UINT32 length) {
    return ReadTableFile("/sys/firmware/acpi/tables/FACP", header, buffer, length);
}

UINT8 TKX_GetAcpiFadt() {
    if (FadtInit) return 1;
    memset(Fadt, 0, sizeof(Fadt));
    UINT32 tableLength = TKX_GetAcpiTable(kAcpiSigFacp, nullptr, 0);
    if (tableLength < kAcpiHeaderSize || tableLength > kAcpiTableMax) return 0;
    // A longer FADT (ACPI 5 and later) is fetched whole and its first bytes kept.
    UINT8* whole = AllocMem(tableLength);
    if (whole == nullptr) return 0;
    UINT32 got = TKX_GetAcpiTable(kAcpiSigFacp, whole, tableLength);
    if (got == tableLength && SignatureOf(whole) == kAcpiSigFacp) {
        memcpy(Fadt, whole, tableLength < sizeof(Fadt) ? tableLength : sizeof(Fadt));
        FadtInit = 1;
    }
    FreeMem(whole);
    return FadtInit;
}

UINT32 TKX_GetAcpiTable(UINT32 signature, void* buffer, UINT32 length) {
    _ACPI_HDR header;
    if (signature == kAcpiSigFidt) {
        UINT32 found = TKX_GetAcpiFidtViaFile(&header, buffer, length);
        return found != 0 ? found : TKX_GetGenericAcpiTable(signature, buffer, length);
    }
    if (signature == kAcpiSigFacp) {
        UINT32 found = TKX_GetAcpiFacpViaFile(&header, buffer, length);
        return found != 0 ? found : TKX_GetGenericAcpiTable(signature, buffer, length);
    }
    if (signature == kAcpiSigDsdt) {
        UINT32 found = TKX_GetAcpiDsdtViaFile(&header, buffer, length);
        if (found != 0) return found;
        if (!TKX_GetAcpiFadt()) return 0;
        bool mapped = false;
        return CopyTableAt(ReadU32(Fadt + kFadtDsdtOffset), buffer, length, &mapped);
    }
    return TKX_GetGenericAcpiTable(signature, buffer, length);
}

UINT32 TKX_GetAcpiSmiPort(UINT16* port) {
    *port = 0;
    if (!TKX_GetAcpiFadt()) return eEID_COMMAND_LINE_BAD_SMI_ADDRESS;
    UINT32 smiCmd = ReadU32(Fadt + kFadtSmiCmdOffset);
    if (smiCmd == 0) return eEID_COMMAND_LINE_BAD_SMI_ADDRESS;
    *port = static_cast<UINT16>(smiCmd);
    return 0;
}

UINT32 TKX_GetAsfTable(ASF_HEADER* header) {
    const UINT32 base = 0xF0000, size = 0x10000;
    // Before the memory manager is up (the memory-hole loader asks first),
    // the lookup maps through a descriptor of its own.
    bool own = false;
    UINT8* area = MapPhyMem(base, size);
    if (area == nullptr) {
        area = TKX_AcpiMapMem(base, size);
        own = true;
    }
    if (area == nullptr) return 0xFF;
    // The first record counts, as for the SMI transport's own search.
    bool found = false;
    for (UINT32 off = 0; !found && off + sizeof(ASF_HEADER) <= size; ++off) {
        if (memcmp(area + off, "$ASF", 4) == 0) {
            memcpy(header, area + off, sizeof(ASF_HEADER));
            found = true;
        }
    }
    if (own) TKX_AcpiUnmapMem(area, size);
    else UnMapPhyMem(area, size);
    return found ? 0 : 0xFF;
}

UINT32 TKX_GetLegacySmiPort(UINT16* port) {
    ASF_HEADER header;
    *port = TKX_GetAsfTable(&header) == 0 ? header.SmiPort : 0xB2;
    return 0;
}

UINT8* TKX_FetchAcpiTable(UINT32 signature, UINT32* length) {
    *length = 0;
    UINT32 size = TKX_GetAcpiTable(signature, nullptr, 0);
    if (size == 0 || size > kAcpiTableMax) return nullptr;
    UINT8* table = AllocMem(size);
    if (table == nullptr) return nullptr;
    if (TKX_GetAcpiTable(signature, table, size) != size) {
        FreeMem(table);
        return nullptr;
    }
    *length = size;
    return table;
}

void TKX_DumpAcpiDsdt() {
    UINT32 size = 0;
    UINT8* table = TKX_FetchAcpiTable(kAcpiSigDsdt, &size);
    if (table == nullptr) return;
    for (UINT32 row = 0; row < size; row += 16) {
        WriteOut("\n  %04X: ", row);
        for (UINT32 i = row; i < row + 16 && i < size; ++i) WriteOut("%02X ", table[i]);
    }
    WriteOut("\n");
    FreeMem(table);
}
