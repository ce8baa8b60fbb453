// Writes the seed corpora of the fuzz targets, made by the test builders:
// yoz_fuzz_seeds DIR writes DIR/<target>/<seed>. The layouts follow the fuzz
// targets' 64 KiB flash (FuzzKit.h); the seeds stay small so that the
// fuzzers mutate quickly.
#include <sys/stat.h>
#include <cstdio>
#include <string>
#include <vector>
#include "FuzzKit.h"
#include "RomCompressor.h"
#include "RomImageBuilder.h"
#include "UafBuilder.h"

using namespace romimg;

static std::string g_dir;

static void Seed(const std::string& target, const std::string& name, const Bytes& bytes) {
    std::string dir = g_dir + "/" + target;
    mkdir(dir.c_str(), 0755);
    WriteBytes(dir + "/" + name, bytes);
}
static void Seed(const std::string& target, const std::string& name, const std::string& bytes) {
    Seed(target, name, Bytes(bytes.begin(), bytes.end()));
}

static std::string Str(const Bytes& b) { return std::string(b.begin(), b.end()); }

static void Append(Bytes& out, const Bytes& b) { out.insert(out.end(), b.begin(), b.end()); }
// Bytes behind their u16 length.
static void AppendSized(Bytes& out, const Bytes& b) {
    out.push_back(static_cast<uint8_t>(b.size()));
    out.push_back(static_cast<uint8_t>(b.size() >> 8));
    Append(out, b);
}

static void DecompressSeeds() {
    std::string text = "firmware volume firmware volume firmware file ";
    for (int i = 0; i < 6; ++i) text += text.substr(0, 40 + i);
    std::string pattern = Str(Pattern(3000, 7));
    romz::Options literals;
    literals.matches = false;
    romz::Options smallBlocks;
    smallBlocks.blockSymbols = 64;
    Seed("FuzzDecompress", "text", romz::Compress(text));
    Seed("FuzzDecompress", "pattern", romz::Compress(pattern));
    Seed("FuzzDecompress", "literals", romz::Compress(text, literals));
    Seed("FuzzDecompress", "blocks", romz::Compress(text + pattern, smallBlocks));
    Seed("FuzzDecompress", "zeros", romz::Compress(std::string(5000, '\0')));
    Seed("FuzzDecompress", "one", romz::Compress("A"));
}

static void TrailerSeeds() {
    // A stand-in for the program's file: the container follows it.
    std::string program = "\x7f" "ELF" + std::string(60, '\0') + "@UAF" + std::string(12, '\x01');
    std::string dis = uaf::DisTable({uaf::DisEntry("B", 1, 1), uaf::DisEntry("p", 0, 0), uaf::DisEntry("N", 1, 0),
                                     uaf::DisEntry("programall", 1, 2)},
                                    4);
    Seed("FuzzTrailer", "plain",
         uaf::Append(program, uaf::Container({uaf::Record("@VER", "OEM 1.02"), uaf::Record("@CMD", "/P /B  /N"),
                                              uaf::Record("@DIS", dis)})));
    Seed("FuzzTrailer", "compressed",
         uaf::Append(program, uaf::Container({uaf::Record("@VER", "OEM 2.00 build", true),
                                              uaf::Record("@ROM", Str(Pattern(2000, 3)), true),
                                              uaf::Record("@CMD", "new.rom /P", true), uaf::Record("@DIS", dis, true)})));
    Seed("FuzzTrailer", "damaged",
         uaf::Append(program, uaf::Container({uaf::RawRecord("@VER", 0x30, 0x10, 0x20, std::string(0x18, 'v')),
                                              uaf::RawRecord("@CMD", 0x10, 4, 4, "/P /")})));
}

static void RomInfoSeeds() {
    // 16-byte head: 16 blocks of 4 KiB, with the flash part text and ROM-ID length.
    Bytes head(0x200, 0);
    Put32(head, 0, 0x11000);
    head[5] = 0x0C;
    Put16(head, 6, 16);
    uint32_t at = 0x10, address = 0;
    for (const BlockRun& r : fuzzkit::FlashBlocks()) {
        for (uint32_t i = 0; i < r.count; ++i, at += 9, address += r.size) {
            Put32(head, at, address);
            Put32(head, at + 4, r.size);
            head[at + 8] = static_cast<uint8_t>(r.type);
        }
    }
    Bytes text = Text("$FPS\x01\x02\x03\x04" "FLASH PART 25Q64");
    std::copy(text.begin(), text.end(), head.begin() + 0x120);
    Bytes bpt = Text("$BPT\x08V");
    std::copy(bpt.begin(), bpt.end(), head.begin() + 0x160);
    Seed("FuzzRomInfo", "head16", head);
    // Short form: entries from 8.
    Bytes shortForm(0x100, 0);
    shortForm[5] = 0x01;
    Put16(shortForm, 6, 4);
    for (uint32_t i = 0; i < 4; ++i) {
        Put32(shortForm, 8 + i * 9, i * 0x4000);
        Put32(shortForm, 12 + i * 9, 0x4000);
        shortForm[16 + i * 9] = static_cast<uint8_t>(i == 3 ? 0 : 1);
    }
    Seed("FuzzRomInfo", "short", shortForm);
    // Large form: regions cut into 64 KiB blocks.
    Bytes large(0x100, 0);
    large[5] = 0x0E;
    Put16(large, 6, 3);
    Put32(large, 0x10, 0x400000);
    Put32(large, 0x14, 0x10000);
    const uint32_t regions[3][3] = {{0, 0x20000, 2}, {0x20000, 0x3C0000, 1}, {0x3E0000, 0x20000, 0}};
    for (uint32_t i = 0; i < 3; ++i) {
        Put32(large, 0x1A + i * 9, regions[i][0]);
        Put32(large, 0x1E + i * 9, regions[i][1]);
        large[0x22 + i * 9] = static_cast<uint8_t>(regions[i][2]);
    }
    Seed("FuzzRomInfo", "large", large);
}

// The flash image of the fuzz layout: a main volume with the identity,
// protected, layout and capsule files, a boot volume with a hole.
static Rom FlashImage(bool withEc) {
    Rom r(fuzzkit::kFlashSize);
    VolumeSpec main;
    main.length = fuzzkit::kMainLength;
    main.files = {FidFile(FidSpec{}), RomHoleFile(0, 0x40), SlpKeyFile(0x30), SlpMarkerFile(0x10),
                  DmiAreaFile({{1, Bytes(16, 1)}, {2, Bytes(8, 2)}}), LayoutFile(Pattern(0x20, 5)),
                  PlainFile(9, 0x80)};
    r.AddVolume(fuzzkit::kMainAt, main);
    VolumeSpec boot;
    boot.ffs3 = true;
    boot.length = fuzzkit::kBootLength;
    boot.files = {RomHoleFile(1, 0x20), PlainFile(10, 0x100)};
    r.AddVolume(fuzzkit::kBootAt, boot);
    r.Fill(fuzzkit::kNcb0At, 0x1000, 11);
    if (withEc) {
        EcSpec ec;
        PutEcHeader(r.bytes, 0x100, ec);
    }
    return r;
}

static void ImageSeeds() {
    Rom plain = FlashImage(false);
    Seed("FuzzRomImage", "image", plain.bytes);
    Seed("FuzzSysRom", "flash", plain.bytes);
    Rom ec = FlashImage(true);
    Seed("FuzzRomImage", "ec", ec.bytes);
    Seed("FuzzRomImage", "signed", SignedCapsule(plain.bytes, 0x40));

    Rom capsule(fuzzkit::kFlashSize);
    VolumeSpec main;
    main.length = fuzzkit::kMainLength;
    main.files = {FidFile(FidSpec{}), CapsuleFile(0x40), Oa31File(0x40)};
    capsule.AddVolume(fuzzkit::kMainAt, main);
    Seed("FuzzRomImage", "capsule-file", capsule.bytes);

    Bytes oa = fuzzkit::KeyedFlash(Pattern(0x31, 4));
    Seed("FuzzSysRom", "oa-key", oa);
    Seed("FuzzRomImage", "oa-key", oa);

    // The key target: flags, key length, key file, then an image or a flash.
    Bytes key = Pattern(0x31, 8);
    for (uint8_t flags : {0, 1}) {
        Bytes input = {flags, static_cast<uint8_t>(key.size())};
        input.insert(input.end(), key.begin(), key.end());
        Bytes rest = fuzzkit::KeyedFlash(Bytes(0x31, flags ? 0xFF : 0x00));
        input.insert(input.end(), rest.begin(), rest.end());
        Seed("FuzzOemKey", flags ? "key-flash" : "key-image", input);
    }
    Bytes shortKey = {0, 4, 1, 2, 3, 4};
    Bytes rest = fuzzkit::KeyedFlash(Bytes(0x31, 0xFF));
    shortKey.insert(shortKey.end(), rest.begin(), rest.end());
    Seed("FuzzOemKey", "short-key", shortKey);

    Rom single(fuzzkit::kFlashSize);
    single.PutDescriptor();
    VolumeSpec singleMain;
    singleMain.length = fuzzkit::kMainLength;
    singleMain.files = {FidFile(FidSpec{})};
    single.AddVolume(fuzzkit::kMainAt, singleMain);
    VolumeSpec meVolume;
    meVolume.length = 0x2000;
    meVolume.files = {MeFile(0x100)};
    single.AppendVolume(meVolume);
    Seed("FuzzRomImage", "single-binary", single.bytes);

    Seed("FuzzRomImage", "ec-file", EcImage(EcSpec{}));
    EcSpec flagged;
    flagged.flag = 1;
    flagged.size = 0x800;
    Seed("FuzzRomImage", "ec-file-flag", EcImage(flagged));
    Bytes ecb(0x400, 0);
    Bytes head = Text("$ECB");
    std::copy(head.begin(), head.end(), ecb.begin() + 0x80);
    ecb[0x84] = 0x20;
    Put16(ecb, 0x80 + 25, 0x200);
    Bytes message = Text("Battery low");
    std::copy(message.begin(), message.end(), ecb.begin() + 0x200);
    Seed("FuzzSysRom", "ecb", ecb);
}

// The ME target's input: flags, the 18-byte ME information, the length and
// bytes of the region-table answer, then the file.
static Bytes MeInput(uint8_t flags, uint32_t runtime, uint32_t biosBase, uint32_t biosLength,
                     const std::vector<std::vector<uint32_t>>& regions, const Bytes& file) {
    Bytes info(18, 0);
    info[0] = 1;
    Put32(info, 2, 0);
    Put32(info, 6, runtime);
    Put32(info, 10, biosBase);
    Put32(info, 14, biosLength);
    Bytes table(0x16 + 4 + 78 * regions.size(), 0);
    Put32(table, 0, 0x544B4F5A);
    Put16(table, 0x0C, 1);
    table[0x16] = 1;
    Put16(table, 0x18, static_cast<uint16_t>(regions.size()));
    for (size_t i = 0; i < regions.size(); ++i) {
        size_t at = 0x1A + 78 * i;
        Bytes name = Text(regions[i][2] == 5 ? "BIOS" : "ME");
        std::copy(name.begin(), name.end(), table.begin() + at);
        Put32(table, at + 68, regions[i][0]);
        Put32(table, at + 72, regions[i][1]);
        table[at + 76] = static_cast<uint8_t>(regions[i][2]);
    }
    Bytes out = {flags};
    Append(out, info);
    AppendSized(out, table);
    Append(out, file);
    return out;
}

static void MeSeeds() {
    // A single binary: descriptor, ME data, then the BIOS part with its firmware ID.
    Rom single(0x8000);
    single.PutDescriptor();
    single.Fill(0x1000, 0x3000, 21);
    VolumeSpec bios;
    bios.length = 0x4000;
    bios.files = {FidFile(FidSpec{})};
    single.AddVolume(0x4000, bios);
    Seed("FuzzMeImage", "regions", MeInput(1, 0x4000, 0x4000, 0x4000, {{0, 0x1000, 3}, {0x1000, 0x3000, 2},
                                                                         {0x4000, 0x4000, 5}}, single.bytes));
    Seed("FuzzMeImage", "runtime", MeInput(0, 0x4000, 0x4000, 0x4000, {}, single.bytes));
    // An image whose ME lies in a volume of its own, after the BIOS.
    Rom withVolume(0x4000);
    VolumeSpec biosVolume;
    biosVolume.length = 0x4000;
    withVolume.AddVolume(0, biosVolume);
    VolumeSpec me;
    me.length = 0x1000;
    me.files = {MeFile(0x80)};
    withVolume.AppendVolume(me);
    Seed("FuzzMeImage", "me-volume", MeInput(0, 0x1000, 0, 0x4000, {}, withVolume.bytes));
    // No descriptor: the file is the ME data alone.
    Seed("FuzzMeImage", "me-data", MeInput(0, 0x800, 0, 0, {}, Pattern(0x800, 22)));
}

// The firmware-answer target's input: the reader, the ZOKT version to
// start with, then the answers, each written at its offset.
struct Answers {
    Bytes bytes;
    Answers(uint8_t reader, uint16_t version) : bytes{reader, static_cast<uint8_t>(version), static_cast<uint8_t>(version >> 8)} {}
    Answers& At(uint16_t offset, const Bytes& answer) {
        bytes.push_back(static_cast<uint8_t>(offset));
        bytes.push_back(static_cast<uint8_t>(offset >> 8));
        AppendSized(bytes, answer);
        return *this;
    }
    // A ZOKT answer from its return status on: the status, the request's
    // extension offset and OS type, an extension header of `type`, then
    // `after` (the record and what follows it).
    Answers& ZoktBare(uint16_t status, uint8_t type, uint16_t recordSize, const Bytes& after) {
        Bytes a(10, 0);
        Put16(a, 0, status);
        Put16(a, 2, 0x12);
        Put16(a, 4, 4);
        a[6] = type;
        a[7] = 1;
        Put16(a, 8, recordSize);
        Append(a, after);
        return At(0x0C, a);
    }
    // The record, the terminator, and a text at the running size.
    Answers& Zokt(uint16_t status, uint8_t type, const Bytes& record, const std::string& text = "") {
        Bytes a = record;
        Bytes end(4);
        Put32(end, 0, 0xFFFF55AAu);
        Append(a, end);
        if (!text.empty()) {
            Bytes t = Text(text);
            Append(a, t);
            a.push_back(0);
        }
        return ZoktBare(status, type, static_cast<uint16_t>(record.size()), a);
    }
    Answers& Times(int n, uint16_t status, uint8_t type, const Bytes& record) {
        for (int i = 0; i < n; ++i) Zokt(status, type, record);
        return *this;
    }
};

static Bytes Record(std::initializer_list<uint8_t> head, size_t size) {
    Bytes r(head);
    r.resize(size, 0);
    return r;
}

static void FirmwareAnswerSeeds() {
    const char* t = "FuzzFirmwareAnswers";
    Answers handshake(0, 0);
    Bytes greeting(0x16, 0);
    Put16(greeting, 0, 0x210);
    Put16(greeting, 2, 0x1A);
    Put16(greeting, 8, 0x11);
    Put32(greeting, 0x12, 0xFFFF55AAu);
    Bytes text = Text("Firmware 1.0");
    Append(greeting, text);
    Seed(t, "handshake", handshake.At(4, greeting).bytes);

    Bytes mfg = Record({0, 0x10, 1, 2}, 0x10);
    for (uint8_t id : {7, 9}) {
        Bytes entry = Record({id}, 273);
        Bytes word = Text(id == 7 ? "/DU" : "/GAN");
        std::copy(word.begin(), word.end(), entry.begin() + 1);
        Append(mfg, entry);
    }
    Seed(t, "mfg", Answers(1, 0x210).Zokt(1, 0x71, mfg).bytes);

    Bytes query = Record({1, 3}, 14);
    Put32(query, 2, 0x100);
    Put32(query, 10, 0x40);
    Seed(t, "romid", Answers(2, 0x210).Zokt(1, 0x53, query).Zokt(0x11, 0x53, Record({2, 0x10}, 14), "ROM ID ok").bytes);

    Bytes present = Record({6, 0, 1, 1}, 4);
    Seed(t, "password", Answers(3, 0x210)
                            .Zokt(0x11, 0x52, present, "Password")
                            .Zokt(0x11, 0x52, Record({6, 0, 2, 2}, 4), "Accepted")
                            .Zokt(1, 0x52, present)
                            .Zokt(1, 0x52, Record({6, 0, 2, 2}, 4))
                            .bytes);

    Bytes pattern = Record({0x84, 1}, 68);
    Put16(pattern, 2, 0x20);
    Bytes file = Pattern(0x4000, 31);
    std::copy(file.begin() + 0x200, file.begin() + 0x204, pattern.begin() + 4);
    Seed(t, "pattern", Answers(4, 0x210).Zokt(0x11, 0x5C, pattern, "Pattern").Zokt(1, 0x5C, Record({2, 0}, 68)).bytes);

    // Masks changed, then the K and L entries where the terminator was.
    Bytes cfg(8 + 16, 0);
    Put32(cfg, 4, 0x81);
    Put32(cfg, 8, 0x40000);
    Put16(cfg, 12, 0x8);
    Put32(cfg, 16, 0x100000);
    Put16(cfg, 20, 0x1000);
    Seed(t, "config", Answers(5, 0x210).ZoktBare(1, 0x51, 8, cfg).bytes);

    Answers ec(6, 0x210);
    ec.Zokt(1, 0x54, Record({1, 1}, 11)).Times(3, 1, 0x54, Record({2, 1}, 11)).Zokt(1, 0x54, Record({0x40, 1}, 11));
    ec.Zokt(1, 0x54, Record({4, 1}, 11)).Zokt(1, 0x54, Record({1, 1}, 11));
    Bytes size = Record({8, 1}, 11);
    Put32(size, 3, 0x1000);
    Put32(size, 7, 10);
    ec.Zokt(0x11, 0x54, size, "EC size").Times(3, 1, 0x54, Record({0x10, 1}, 11));
    ec.Times(3, 1, 0x54, Record({2, 1}, 11)).Times(3, 1, 0x54, Record({0x20, 1}, 11)).Zokt(1, 0x54, Record({4, 1}, 11));
    Seed(t, "ec", ec.Zokt(0x11, 0x5B, Record({1, 1}, 2), "Battery ok").bytes);

    Bytes policy = Record({4, 4}, 259);
    Seed(t, "secure-flash", Answers(7, 0x210).At(0x1C, policy).At(0x2C, {0}).At(0x2C, {0}).At(0x39, {0}).bytes);

    Answers keep(8, 0x210);
    for (uint8_t f : {1, 2, 8, 4, 0x10}) keep.Zokt(1, 0x56, Bytes{f, 1});
    keep.Zokt(1, 0x58, Bytes{1, 0, 1, 0});
    Bytes oa = Record({1, 0, 2, 0}, 20);
    oa.resize(0x400 - 0x16 + 0x31, 0);
    // Changed by the firmware: a text, and the new key behind the request.
    Put32(oa, 20, 0xFFFF55AAu);
    Bytes changed = Text("Key changed");
    std::copy(changed.begin(), changed.end(), oa.begin() + 24);
    Bytes key = Pattern(0x31, 33);
    std::copy(key.begin(), key.end(), oa.end() - 0x31);
    Seed(t, "preserve", keep.ZoktBare(0x11, 0x5A, 20, oa).bytes);

    Answers oem(9, 0x210);
    for (uint8_t code = 1; code <= 8; ++code) oem.Zokt(0x11, 0x57, Record({code, 0, 1}, 12), "OEM command done");
    Seed(t, "oem", oem.bytes);

    Bytes info = Record({1, 3}, 18);
    Put32(info, 6, 0x4000);
    Put32(info, 10, 0x4000);
    Put32(info, 14, 0xC000);
    Answers me(10, 0x210);
    me.Zokt(1, 0x55, Record({1, 0x0B}, 24)).Zokt(1, 0x55, info).Zokt(1, 0x55, info).Zokt(1, 0x55, info);
    me.Zokt(1, 0x55, Record({1, 4}, 30)).Zokt(1, 0x55, Record({1, 6}, 30)).Times(2, 1, 0x55, Record({1, 7}, 30));
    Seed(t, "me", me.Zokt(1, 0x55, Record({1, 8}, 30)).Zokt(1, 0x55, Record({1, 5}, 30)).bytes);

    Bytes table = Record({1, 9, 3}, 4);
    const uint32_t regions[3][3] = {{0, 0x1000, 3}, {0x1000, 0x1000, 2}, {0x2000, 0xE000, 5}};
    for (const auto& r : regions) {
        Bytes entry(78, 0);
        Bytes cmd = Text(r[2] == 5 ? "BIOS" : "ME");
        std::copy(cmd.begin(), cmd.end(), entry.begin());
        Bytes help = Text("region");
        std::copy(help.begin(), help.end(), entry.begin() + 4);
        Put32(entry, 68, r[0]);
        Put32(entry, 72, r[1]);
        entry[76] = static_cast<uint8_t>(r[2]);
        Append(table, entry);
    }
    Bytes done = Record({1, 0x0A}, 30);
    Bytes again = done;
    again[0x0C] = 2;
    Answers mer(11, 0x210);
    mer.Zokt(1, 0x55, info).Zokt(1, 0x55, table).Times(3, 1, 0x55, done).Zokt(1, 0x55, again).Times(2, 1, 0x55, done);
    Seed(t, "me-regions", mer.Times(8, 1, 0x55, done).bytes);

    // Opened; the 16-byte head form with four 4 KiB blocks (main, EC, boot)
    // and the EC version word at 0x10; the EC area and blocks read; layout taken.
    Bytes head(0x10 + 4 * 9, 0);
    Put32(head, 0, 0x11000);
    head[5] = 0x0C;
    Put16(head, 6, 4);
    Put32(head, 8, 0x10);
    Put32(head, 0x0C, 0xFFFF);
    for (uint32_t i = 0; i < 4; ++i) {
        Put32(head, 0x10 + i * 9, i * 0x1000);
        Put32(head, 0x14 + i * 9, 0x1000);
        head[0x18 + i * 9] = static_cast<uint8_t>(i == 3 ? 0 : i == 2 ? 3 : 1);
    }
    Bytes read = Pattern(0x1001, 34);
    read[0] = 0;
    Answers flash(12, 0);
    flash.At(0x10, {0}).At(0, head);
    for (int i = 0; i < 4; ++i) flash.At(0x10, read);
    Seed(t, "flash", flash.At(4, {0}).bytes);
}

static void SmbiosSeeds() {
    // Types to keep, then the system's and the image's DMI file bodies.
    auto input = [](const Bytes& types, const Bytes& system, const Bytes& image) {
        Bytes in = {static_cast<uint8_t>(types.size())};
        Append(in, types);
        AppendSized(in, system);
        Append(in, image);
        return in;
    };
    std::vector<SmbiosStruct> system = {{1, Pattern(16, 1)}, {2, Pattern(32, 2)}, {1, Pattern(8, 3)}, {17, Pattern(12, 4)}};
    std::vector<SmbiosStruct> image = {{1, Pattern(48, 5)}, {2, Pattern(32, 6)}, {4, Pattern(36, 7)}};
    Seed("FuzzSmbios", "short-headers", input({2, 17, 1}, BsaArea(system), BsaArea(image)));
    Seed("FuzzSmbios", "long-headers", input({17, 2}, BsaArea(system, true), BsaArea(image, true)));
    Seed("FuzzSmbios", "image-shorter", input({1}, BsaArea(image), BsaArea(system)));
}

static void CommandLineSeeds() {
    const char* lines[] = {
        "new.rom /P /B /N /K /X",
        "new.rom /CMD:\"0x55 12\" /OEMCMD:7F /SMIDelay:20 /R2 /R17 /SP",
        "/ME /MEUF new.rom /PW:pw.txt /A:key.bin /OAD /CAF /NOCKRID /Q",
        "new.rom /CAPSULE /RECOVERY:esp /REBOOT /SHUTDOWN /RETRY:3 /ECUF /E",
        "/O save.rom /? /HELP /SAVEME:me.bin /DISPLAYROMID /DISPLAYSYSID",
        "new.rom /CLNEVNLOG /DPC /JBC /NOCHECK /MFG /PATTERN /L /ROMLAYOUT",
    };
    int n = 0;
    for (const char* line : lines) Seed("FuzzCommandLine", "line" + std::to_string(n++), std::string(line));
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: yoz_fuzz_seeds DIR\n");
        return 2;
    }
    g_dir = argv[1];
    mkdir(g_dir.c_str(), 0755);
    DecompressSeeds();
    TrailerSeeds();
    RomInfoSeeds();
    ImageSeeds();
    MeSeeds();
    FirmwareAnswerSeeds();
    SmbiosSeeds();
    CommandLineSeeds();
    return 0;
}
