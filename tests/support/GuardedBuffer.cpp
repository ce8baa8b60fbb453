// Buffers fenced by inaccessible pages.
#include "GuardedBuffer.h"
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

GuardedBuffer::GuardedBuffer(size_t size, bool atEnd) : size_(size) {
    size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    size_t body = (size + page - 1) / page * page;
    if (body == 0) body = page;
    mapped_ = body + 2 * page;
    void* p = mmap(nullptr, mapped_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) abort();
    base_ = static_cast<uint8_t*>(p);
    if (mprotect(base_ + page, body, PROT_READ | PROT_WRITE) != 0) abort();
    data_ = atEnd ? base_ + page + body - size : base_ + page;
}

GuardedBuffer::GuardedBuffer(const std::string& contents, bool atEnd) : GuardedBuffer(contents.size(), atEnd) {
    if (!contents.empty()) memcpy(data_, contents.data(), contents.size());
}

GuardedBuffer::~GuardedBuffer() { munmap(base_, mapped_); }
