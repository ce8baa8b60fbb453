// ACPI tables by signature, the firmware's SMI command port and the legacy
// "$ASF" record.
#pragma once
#include "HuxTypes.h"

#pragma pack(push, 1)
struct _ACPI_HDR {
    char Signature[4];
    UINT32 Length;  // whole table, header included
    UINT8 Revision;
    UINT8 Checksum;
    char OemId[6];
    char OemTableId[8];
    UINT32 OemRevision;
    UINT32 CreatorId;
    UINT32 CreatorRevision;
};
// The first 14 bytes of the "$ASF" record of the BIOS area.
struct ASF_HEADER {
    char Signature[4];  // "$ASF"
    UINT8 Carried[8];   // not interpreted here
    UINT16 SmiPort;
};
#pragma pack(pop)
static_assert(sizeof(_ACPI_HDR) == 36, "ACPI table header is 36 bytes");
static_assert(sizeof(ASF_HEADER) == 14 && offsetof(ASF_HEADER, SmiPort) == 12, "$ASF header layout");

// Signatures as little-endian u32 values of their four characters.
const UINT32 kAcpiSigDsdt = 0x54445344;  // "DSDT"
const UINT32 kAcpiSigFidt = 0x54444946;  // "FIDT"
const UINT32 kAcpiSigFacp = 0x50434146;  // "FACP"

// The table's Length (0 when not found); the table is copied into buffer when
// one is given and the table fits into length.
UINT32 TKX_GetAcpiTable(UINT32 signature, void* buffer, UINT32 length);
// 0, or 0x98 when there is no valid FADT or its SMI_CMD is 0 (port then 0).
UINT32 TKX_GetAcpiSmiPort(UINT16* port);
// 1 when the FADT (its first 244 bytes) is cached.
UINT8 TKX_GetAcpiFadt();
UINT32 TKX_GetGenericAcpiTable(UINT32 signature, void* buffer, UINT32 length);
// Kernel copies under /sys/firmware/acpi/tables/: header Length, 0 when missing.
UINT32 TKX_GetAcpiDsdtViaFile(_ACPI_HDR* header, void* buffer, UINT32 length);
UINT32 TKX_GetAcpiFidtViaFile(_ACPI_HDR* header, void* buffer, UINT32 length);
UINT32 TKX_GetAcpiFacpViaFile(_ACPI_HDR* header, void* buffer, UINT32 length);
// Find the RSDP (EFI system table / E0000h-FFFFFh scan) and copy RSDT and XSDT.
UINT8 TKX_GetAcpiRsdtXsdtViaEfiTable();
UINT8 TKX_GetAcpiRsdtXsdt();
UINT8* TKX_GetAcpiTableImpl(UINT8* destination, UINT32 physical, UINT32 length);
// Read-only private mapping of "/dev/mem" through a descriptor of its own.
UINT8* TKX_AcpiMapMem(UINT32 physical, UINT32 length);
void TKX_AcpiUnmapMem(UINT8* pointer, UINT32 length);
// "$ASF" in F0000h-FFFFFh: 0 found (header copied), 0xFF not found.
UINT32 TKX_GetAsfTable(ASF_HEADER* header);
// Port from the "$ASF" record, else 0xB2; always 0.
UINT32 TKX_GetLegacySmiPort(UINT16* port);
// The whole table in a new buffer (FreeMem) with its length; null when it is
// missing, implausibly large or cannot be read whole.
UINT8* TKX_FetchAcpiTable(UINT32 signature, UINT32* length);
void TKX_DumpAcpiDsdt();
// Forgets the cached RSDP, RSDT, XSDT and FADT (tests lay out new tables).
void TKX_AcpiForgetTables();
