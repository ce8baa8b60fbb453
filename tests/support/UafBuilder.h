// Builds configuration containers ("@UAF" trailers) from records, plain or
// compressed, and appends them to a copy of an executable.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace uaf {

// One record: 24-byte head and payload, padded to 16 bytes. Compressed
// records hold the stream from offset 0x10 (its header is the size pair).
std::string Record(const std::string& signature, const std::string& payload, bool compress = false);
// A record with every field given (for damaged trailers); `body` follows the head.
std::string RawRecord(const std::string& signature, uint32_t length, uint32_t stored, uint32_t unpacked,
                      const std::string& body);
// The container: 16-byte header ("@UAF", total length, 01 64 10 00 FF FF FF FF), then the records.
std::string Container(const std::vector<std::string>& records);
// The program padded with zeros to a multiple of 16, then the container.
std::string Append(const std::string& program, const std::string& container);
// Copies the executable `from` to `to` with the container appended (mode
// 0755). False when either file cannot be handled.
bool WriteProgramCopy(const std::string& from, const std::string& to, const std::string& container);

// One entry of the "@DIS" command enable table (290 bytes): shown byte,
// attribute byte, the name (16 bytes, NUL-padded), filler.
std::string DisEntry(const std::string& name, uint8_t shown, uint8_t attributes);
// "@DIS" payload: the entry count at offset 2, the entries from 16.
std::string DisTable(const std::vector<std::string>& entries, uint16_t count);

// FNV-1a, as the record probe prints it.
uint32_t Fnv1a(const std::string& data);

}  // namespace uaf
