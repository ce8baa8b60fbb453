// Decoder of the EFI 1.1 compression format (LZ77 over an 8 KiB dictionary,
// static Huffman codes sent per block; the bit stream of the "-lh5-" method),
// under this program's stream header:
//   u32 stream length in bytes, counting these 8 header bytes
//   u32 unpacked size
//   the bit stream, read most significant bit first; zero bits are supplied
//   once its (stream length - 8) bytes are used up.
#pragma once
#include "HuxTypes.h"

// Largest unpacked size the decoder accepts.
const UINT32 ROM_UNCOMPRESS_MAX_SIZE = 256u << 20;

// Decodes the stream at source (sourceLength bytes readable there) into
// destination (capacity bytes writable there). Returns the unpacked size, or
// 0 when the stream is malformed: a header that does not fit the source, an
// unpacked size above the capacity or ROM_UNCOMPRESS_MAX_SIZE, a table that
// is not a complete prefix code or leaves its alphabet, or a symbol outside
// its alphabet. Never reads or writes outside the two buffers. Matches that
// reach before the start of the output copy zeros.
UINT32 rom_uncompress(UINT8* destination, UINT32 capacity, const UINT8* source, UINT32 sourceLength);
