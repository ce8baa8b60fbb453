// ACPI tables and the legacy "$ASF" record of the emulated machine, laid out
// in physical memory (and as the kernel's copies under root/sys/firmware/)
// from the machine's settings.
#pragma once
#include <string>
#include "HuxTypes.h"

// A table: 36-byte header with signature, Length and a valid checksum, then body.
std::string EmuAcpi_Table(const char* signature, UINT8 revision, const std::string& body);
// An RSDP of revision 0 (20 bytes) or 2 and later (36 bytes), checksums set.
std::string EmuAcpi_Rsdp(UINT8 revision, UINT32 rsdt, UINT64 xsdt);
// Little-endian helpers for building bodies.
void EmuPutU16(std::string& s, size_t offset, UINT16 v);
void EmuPutU32(std::string& s, size_t offset, UINT32 v);
void EmuPutU64(std::string& s, size_t offset, UINT64 v);

// Lays out RSDP, RSDT, XSDT, FADT, DSDT and FIDT (settings acpi_*, fadt_*,
// dsdt_*, fidt_*, efi_systab); false with error on failure.
bool EmuAcpi_Layout(std::string& error);
// Lays out the "$ASF" record when asf_port is set.
bool EmuAsf_Layout(std::string& error);

// The FADT's SMI_CMD as the kernel finds it (0: no FADT, or it names none).
UINT16 EmuAcpi_FadtSmiPort();
// The firmware's "$ASF" record in the BIOS area (F0000h-FFFFFh) as physical
// memory holds it now: the first "$ASF" whose 14 bytes lie in the area, when
// its header (u8 length at +4) holds the u16 SMI port at +12; false when there
// is none (a shorter header is no record). `area` is the copy of the BIOS
// area it was found in, `offset` the record's offset there. The program, its
// driver and the emulated firmware take the record by this one rule.
bool EmuAsf_FindRecord(const UINT8*& area, UINT32& offset);
// The port the kernel driver's wrapper takes from that record; 0 without one.
UINT16 EmuAsf_DriverPort();
