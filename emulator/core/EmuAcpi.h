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
