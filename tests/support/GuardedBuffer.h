// A buffer with an inaccessible page on each side, so that a read or write
// outside it faults at once instead of passing unnoticed.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

class GuardedBuffer {
public:
    // size bytes; at the end of its pages (atEnd) or at their start.
    GuardedBuffer(size_t size, bool atEnd = true);
    GuardedBuffer(const std::string& contents, bool atEnd = true);
    ~GuardedBuffer();
    GuardedBuffer(const GuardedBuffer&) = delete;
    GuardedBuffer& operator=(const GuardedBuffer&) = delete;

    uint8_t* data() { return data_; }
    size_t size() const { return size_; }
    std::string str() const { return std::string(reinterpret_cast<const char*>(data_), size_); }

private:
    uint8_t* base_ = nullptr;
    size_t mapped_ = 0;
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
};
