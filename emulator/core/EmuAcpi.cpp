// ACPI tables and "$ASF" of the emulated machine.
#include "EmuAcpi.h"
#include <cstdio>
#include <cstring>
#include "EmuMachine.h"

void EmuPutU16(std::string& s, size_t offset, UINT16 v) {
    if (s.size() < offset + 2) s.resize(offset + 2, '\0');
    for (int i = 0; i < 2; ++i) s[offset + i] = static_cast<char>(v >> (8 * i));
}

void EmuPutU32(std::string& s, size_t offset, UINT32 v) {
    if (s.size() < offset + 4) s.resize(offset + 4, '\0');
    for (int i = 0; i < 4; ++i) s[offset + i] = static_cast<char>(v >> (8 * i));
}

void EmuPutU64(std::string& s, size_t offset, UINT64 v) {
    if (s.size() < offset + 8) s.resize(offset + 8, '\0');
    for (int i = 0; i < 8; ++i) s[offset + i] = static_cast<char>(v >> (8 * i));
}

static UINT8 Checksum(const std::string& s, size_t begin, size_t end) {
    UINT8 sum = 0;
    for (size_t i = begin; i < end && i < s.size(); ++i) sum = static_cast<UINT8>(sum + static_cast<UINT8>(s[i]));
    return static_cast<UINT8>(0x100 - sum);
}

std::string EmuAcpi_Table(const char* signature, UINT8 revision, const std::string& body) {
    std::string t(36, '\0');
    t.replace(0, 4, signature, 4);
    t[8] = static_cast<char>(revision);
    t.replace(10, 6, "YOZEMU");
    t.replace(16, 8, "YOZMACH ");
    EmuPutU32(t, 24, 1);
    t.replace(28, 4, "YOZE");
    EmuPutU32(t, 32, 1);
    t += body;
    EmuPutU32(t, 4, static_cast<UINT32>(t.size()));
    t[9] = static_cast<char>(Checksum(t, 0, t.size()));
    return t;
}

std::string EmuAcpi_Rsdp(UINT8 revision, UINT32 rsdt, UINT64 xsdt) {
    std::string r(revision >= 2 ? 36 : 20, '\0');
    r.replace(0, 8, "RSD PTR ");
    r.replace(9, 6, "YOZEMU");
    r[15] = static_cast<char>(revision);
    EmuPutU32(r, 16, rsdt);
    if (revision >= 2) {
        EmuPutU32(r, 20, 36);
        EmuPutU64(r, 24, xsdt);
    }
    r[8] = static_cast<char>(Checksum(r, 0, 20));
    if (revision >= 2) r[32] = static_cast<char>(Checksum(r, 0, 36));
    return r;
}

static bool PutPhys(UINT64 address, const std::string& data, std::string& error) {
    if (!EmuPhys_Write(address, data.data(), static_cast<UINT32>(data.size()))) {
        char buf[96];
        snprintf(buf, sizeof(buf), "cannot write physical memory at 0x%llx", static_cast<unsigned long long>(address));
        error = buf;
        return false;
    }
    return true;
}

static bool PutFile(const char* systemPath, const std::string& data, std::string& error) {
    std::string path = EmuMachine_Root(systemPath);
    FILE* f = fopen(path.c_str(), "wb");
    bool ok = f != nullptr && fwrite(data.data(), 1, data.size(), f) == data.size();
    if (f != nullptr && fclose(f) != 0) ok = false;
    if (!ok) error = "cannot write " + path;
    return ok;
}

bool EmuAcpi_Layout(std::string& error) {
    if (EmuMachine_GetNum("acpi", 1) == 0) return true;
    const UINT64 base = EmuMachine_GetNum("acpi_base", 0x7FF00000);
    const UINT64 rsdtAt = base, xsdtAt = base + 0x100, fadtAt = base + 0x200, dsdtAt = base + 0x1000,
                 fidtAt = base + 0x2000;
    const bool inBios = EmuMachine_GetNum("acpi_rsdp_in_bios", 1) != 0;
    const UINT64 rsdpAt = inBios ? EmuMachine_GetNum("acpi_rsdp_addr", 0xE8000) : base + 0x3000;
    const UINT8 revision = static_cast<UINT8>(EmuMachine_GetNum("acpi_rsdp_revision", 2));

    std::string dsdtBody = "\x10\x0a\x5c\x5f\x53\x42\x5f" + EmuMachine_Get("dsdt_text", "") +
                           EmuHexBytes(EmuMachine_Get("dsdt_hex", ""));
    std::string dsdt = EmuAcpi_Table("DSDT", 2, dsdtBody);

    UINT64 fadtLength = EmuMachine_GetNum("fadt_length", 244);
    if (fadtLength < 52 || fadtLength > 0xC00) {
        error = "fadt_length must lie between 52 and 0xc00";
        return false;
    }
    std::string fadtBody(fadtLength - 36, '\0');
    EmuPutU32(fadtBody, 40 - 36, static_cast<UINT32>(dsdtAt));
    EmuPutU32(fadtBody, 48 - 36, EmuAcpi_FadtSmiPort());
    if (fadtLength >= 148) EmuPutU64(fadtBody, 140 - 36, dsdtAt);
    std::string fadt = EmuAcpi_Table("FACP", 6, fadtBody);

    // The FIDT's Length may claim less than the 0x60 bytes laid out (the
    // version field then lies behind the table); 0: no FIDT at all.
    const UINT64 fidtLength = EmuMachine_GetNum("fidt_length", 0x60);
    if (fidtLength != 0 && (fidtLength < 36 || fidtLength > 0x1000)) {
        error = "fidt_length must be 0 or lie between 36 and 0x1000";
        return false;
    }
    std::string fidtBody((fidtLength > 0x60 ? fidtLength : 0x60) - 36, '\0');
    std::string version = EmuMachine_Get("fidt_version", "05");
    fidtBody.replace(0x44 - 36, version.size() < 2 ? version.size() : 2, version.substr(0, 2));
    std::string fidt = EmuAcpi_Table("FIDT", 1, fidtBody);
    EmuPutU32(fidt, 4, static_cast<UINT32>(fidtLength));
    const bool hasFidt = fidtLength != 0;

    std::string rsdtBody, xsdtBody;
    EmuPutU32(rsdtBody, 0, static_cast<UINT32>(fadtAt));
    EmuPutU64(xsdtBody, 0, fadtAt);
    if (hasFidt) {
        EmuPutU32(rsdtBody, 4, static_cast<UINT32>(fidtAt));
        EmuPutU64(xsdtBody, 8, fidtAt);
    }
    std::string rsdt = EmuAcpi_Table("RSDT", 1, rsdtBody);
    std::string xsdt = EmuAcpi_Table("XSDT", 1, xsdtBody);
    std::string rsdp = EmuAcpi_Rsdp(revision, static_cast<UINT32>(rsdtAt), revision >= 2 ? xsdtAt : 0);

    if (!PutPhys(rsdpAt, rsdp, error) || !PutPhys(rsdtAt, rsdt, error) || !PutPhys(fadtAt, fadt, error) ||
        !PutPhys(dsdtAt, dsdt, error) || !PutPhys(fidtAt, fidt, error)) {
        return false;
    }
    if (revision >= 2 && !PutPhys(xsdtAt, xsdt, error)) return false;

    if (EmuMachine_GetNum("acpi_sysfs", 1) != 0) {
        if (!PutFile("/sys/firmware/acpi/tables/FACP", fadt, error) ||
            !PutFile("/sys/firmware/acpi/tables/DSDT", dsdt, error) ||
            (hasFidt && !PutFile("/sys/firmware/acpi/tables/FIDT", fidt.substr(0, fidtLength), error))) {
            return false;
        }
    }
    if (EmuMachine_GetNum("efi_systab", 0) != 0) {
        char text[128];
        snprintf(text, sizeof(text), "ACPI20=0x%llx\nACPI=0x%llx\n", static_cast<unsigned long long>(rsdpAt),
                 static_cast<unsigned long long>(rsdpAt));
        if (!PutFile("/sys/firmware/efi/systab", text, error)) return false;
    }
    return true;
}

UINT16 EmuAcpi_FadtSmiPort() {
    if (EmuMachine_GetNum("acpi", 1) == 0) return 0;
    return static_cast<UINT16>(EmuMachine_GetNum("fadt_smi_cmd", EmuMachine_GetNum("smi_port", 0xB2)));
}

static const UINT64 kBiosAreaBase = 0xF0000;
static const UINT32 kBiosAreaSize = 0x10000;
static const UINT32 kAsfHeaderMin = 14;  // up to and with the u16 port at +12

bool EmuAsf_Layout(std::string& error) {
    if (!EmuMachine_Has("asf_port")) return true;
    // "$ASF", header length, carried bytes, the SMI port at +12, then the body
    // (the program writes its buffer address at the start of the body).
    std::string asf(0x20, '\0');
    asf.replace(0, 4, "$ASF");
    asf[4] = static_cast<char>(EmuMachine_GetNum("asf_header", 0x10));
    EmuPutU16(asf, 12, static_cast<UINT16>(EmuMachine_GetNum("asf_port", 0)));
    return PutPhys(EmuMachine_GetNum("asf_addr", 0xF8000), asf, error);
}

bool EmuAsf_FindRecord(const UINT8*& area, UINT32& offset) {
    static UINT8 bios[kBiosAreaSize];
    area = bios;
    if (!EmuPhys_Read(kBiosAreaBase, bios, kBiosAreaSize)) return false;
    // Searched by its first byte: the firmware's check runs before every flash request.
    for (UINT32 at = 0; at + kAsfHeaderMin <= kBiosAreaSize; ++at) {
        const void* dollar = memchr(&bios[at], '$', kBiosAreaSize - kAsfHeaderMin + 1 - at);
        if (dollar == nullptr) return false;
        at = static_cast<UINT32>(static_cast<const UINT8*>(dollar) - bios);
        if (memcmp(&bios[at], "$ASF", 4) == 0) {
            offset = at;
            return bios[at + 4] >= kAsfHeaderMin;
        }
    }
    return false;
}

UINT16 EmuAsf_DriverPort() {
    const UINT8* area = nullptr;
    UINT32 at = 0;
    if (!EmuAsf_FindRecord(area, at)) return 0;
    return static_cast<UINT16>(area[at + 12] | (area[at + 13] << 8));
}
