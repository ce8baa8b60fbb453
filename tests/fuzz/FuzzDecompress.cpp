// The stream decoder: given the capacity its header asks for, it writes
// nothing past that capacity and returns either 0 or exactly the declared
// size; given one byte less room it refuses the stream.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>
#include "TKXDecompress.h"

// Largest unpacked size tried here: the decoder's cost grows with it, not
// its reach into the code.
static const UINT32 kMaxTried = 1u << 18;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 0x100000) return 0;
    // The source in a buffer of its own length, so that a read past it is seen.
    std::vector<UINT8> source(data, data + size);
    UINT32 declared = 0;
    if (size >= 8) memcpy(&declared, data + 4, 4);
    UINT32 capacity = declared < kMaxTried ? declared : kMaxTried;
    // Output buffers of exactly the room given, left uninitialised.
    std::unique_ptr<UINT8[]> out(new UINT8[capacity]);
    UINT32 n = rom_uncompress(out.get(), capacity, source.data(), static_cast<UINT32>(size));
    if (n != 0 && (n != declared || declared > capacity)) abort();
    if (n != 0 && capacity > 0) {
        // One byte short of the declared size: refused, nothing written past.
        std::unique_ptr<UINT8[]> shortOut(new UINT8[capacity - 1]);
        if (rom_uncompress(shortOut.get(), capacity - 1, source.data(), static_cast<UINT32>(size)) != 0) abort();
    }
    return 0;
}
