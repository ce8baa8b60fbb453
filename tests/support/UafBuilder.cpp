// Configuration containers for tests.
#include "UafBuilder.h"
#include <cstdio>
#include <sys/stat.h>
#include "RomCompressor.h"

namespace uaf {

std::string RawRecord(const std::string& signature, uint32_t length, uint32_t stored, uint32_t unpacked,
                      const std::string& body) {
    std::string r = signature.substr(0, 4);
    r.resize(4, ' ');
    romz::PutLE32(r, 4, length);
    r += std::string(8, '\xFF');
    romz::PutLE32(r, 0x10, stored);
    romz::PutLE32(r, 0x14, unpacked);
    return r + body;
}

std::string Record(const std::string& signature, const std::string& payload, bool compress) {
    std::string r;
    std::string stream = compress ? romz::Compress(payload) : "";
    // Equal sizes mean a plain record: such a stream is stored plain instead.
    if (compress && romz::GetLE32(stream, 0) != payload.size()) {
        r = RawRecord(signature, 0, 0, 0, "").substr(0, 0x10) + stream;
    } else {
        r = RawRecord(signature, 0, static_cast<uint32_t>(payload.size()), static_cast<uint32_t>(payload.size()),
                      payload);
    }
    r.resize((r.size() + 15) / 16 * 16, '\0');
    romz::PutLE32(r, 4, static_cast<uint32_t>(r.size()));
    return r;
}

std::string Container(const std::vector<std::string>& records) {
    std::string c = "@UAF";
    c += std::string(4, '\0');
    c += std::string("\x01\x64\x10\x00\xFF\xFF\xFF\xFF", 8);
    for (const auto& r : records) c += r;
    romz::PutLE32(c, 4, static_cast<uint32_t>(c.size()));
    return c;
}

std::string Append(const std::string& program, const std::string& container) {
    std::string out = program;
    out.resize((out.size() + 15) / 16 * 16, '\0');
    return out + container;
}

bool WriteProgramCopy(const std::string& from, const std::string& to, const std::string& container) {
    FILE* in = fopen(from.c_str(), "rb");
    if (in == nullptr) return false;
    std::string program;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), in)) > 0) program.append(buf, n);
    fclose(in);
    std::string image = Append(program, container);
    FILE* out = fopen(to.c_str(), "wb");
    if (out == nullptr) return false;
    bool ok = fwrite(image.data(), 1, image.size(), out) == image.size();
    ok = fclose(out) == 0 && ok;
    return ok && chmod(to.c_str(), 0755) == 0;
}

std::string DisEntry(const std::string& name, uint8_t shown, uint8_t attributes) {
    std::string e(290, '\0');
    e[0] = static_cast<char>(shown);
    e[1] = static_cast<char>(attributes);
    e.replace(2, name.size() < 16 ? name.size() : 16, name, 0, 16);
    for (size_t i = 18; i < e.size(); ++i) e[i] = '\xEE';
    return e;
}

std::string DisTable(const std::vector<std::string>& entries, uint16_t count) {
    std::string t(16, '\0');
    t[2] = static_cast<char>(count & 0xFF);
    t[3] = static_cast<char>(count >> 8);
    for (const auto& e : entries) t += e;
    return t;
}

uint32_t Fnv1a(const std::string& data) {
    uint32_t h = 2166136261u;
    for (unsigned char c : data) {
        h ^= c;
        h *= 16777619u;
    }
    return h;
}

}  // namespace uaf
