#include "FlashLines.h"
#include <cstdio>

namespace e2e {

// A read of `size` bytes: one line per count from `first` in steps of `step`.
static std::string ReadLines(const char* label, uint32_t first, uint32_t step, uint32_t size) {
    std::string out;
    char line[96];
    for (uint32_t a = first; a < size; a += step) {
        snprintf(line, sizeof(line), "%s0x%08X (%u%%) \r", label, a, static_cast<unsigned>(a * 100ull / size));
        out += line;
    }
    return out + label + "done                \n";
}

std::string FlashRead(uint32_t size) { return ReadLines(" Reading flash ............... ", 0, 0x10000, size); }

std::string MeRead(uint32_t size) { return ReadLines(" Reading ME .................. ", 0x1000, 0x1000, size); }

std::string Pass(const char* label, const std::vector<uint32_t>& addresses) {
    std::string out;
    char line[96];
    uint32_t total = static_cast<uint32_t>(addresses.size()) * 0x10000 / 1000;
    for (size_t i = 0; i < addresses.size(); ++i) {
        snprintf(line, sizeof(line), " %s 0x%08X (%u%%) \r", label, addresses[i],
                 static_cast<unsigned>((i + 1) * (0x10000 / 1000) * 100ull / total));
        out += line;
    }
    return out + " " + label + " done                \n";
}

std::string Pass(const char* label, uint32_t first, uint32_t count) {
    std::vector<uint32_t> addresses;
    for (uint32_t i = 0; i < count; ++i) addresses.push_back(first + i * 0x10000);
    return Pass(label, addresses);
}

// Message texts are padded with dots to 29 columns.
static std::string Label(const std::string& verb, const std::string& region) {
    std::string text = verb + " " + region + " Block ";
    return text + std::string(text.size() < 29 ? 29 - text.size() : 0, '.');
}

std::string Passes(const std::string& region, const std::vector<uint32_t>& addresses) {
    return Pass(Label("Erasing", region).c_str(), addresses) + Pass(Label("Updating", region).c_str(), addresses) +
           Pass(Label("Verifying", region).c_str(), addresses);
}

static uint32_t Units(uint32_t value) { return value > 999 ? value / 1000 : value; }

std::string MePass(const std::string& verb, const std::vector<std::pair<uint32_t, uint32_t>>& requests,
                   uint32_t total) {
    const std::string label = Label(verb, "ME");
    std::string out;
    char line[96];
    uint32_t done = 0;
    for (const auto& r : requests) {
        done += Units(r.second);
        snprintf(line, sizeof(line), " %s 0x%08X (%u%%) \r", label.c_str(), r.first,
                 static_cast<unsigned>(done * 100ull / Units(total)));
        out += line;
    }
    return out + " " + label + " done                \n";
}

std::string Upload(uint32_t size) {
    const std::string text = " Loading capsule to secure memory buffer ... ";
    std::string out;
    char line[64];
    for (uint32_t at = 0; at < size; at += 0x8800) {
        snprintf(line, sizeof(line), "0x%08X (%u%%) \r", at, static_cast<unsigned>(at * 100ull / size));
        out += text + line;
    }
    return out + text + "done                \n";
}

}  // namespace e2e
