// The configuration container appended to the program's own file: "@UAF",
// a 16-byte header at a 16-aligned offset, then typed records of a 24-byte
// head and a payload, plain or compressed (see TKXDecompress.h).
#pragma once
#include <cstddef>
#include "HuxErrorId.h"
#include "TKXList.h"

#pragma pack(push, 1)
// Head of a record (and, for element 0 of the list, of the container: its
// first 16 bytes are signature, length and 8 unread bytes).
struct _TKX_UAF_DATA {
    char Signature[4];   // four ASCII characters beginning with '@'
    UINT32 Length;       // whole record with this head, rounded up to 16
    UINT8 Reserved[8];   // not read
    UINT32 StoredSize;   // plain: payload bytes; compressed: stream length from offset 0x10
    UINT32 UnpackedSize; // payload size after unpacking
};
#pragma pack(pop)
static_assert(sizeof(_TKX_UAF_DATA) == 0x18, "record head is 24 bytes");
static_assert(offsetof(_TKX_UAF_DATA, Length) == 4, "length at 4");
static_assert(offsetof(_TKX_UAF_DATA, StoredSize) == 0x10, "stored size at 0x10");
static_assert(offsetof(_TKX_UAF_DATA, UnpackedSize) == 0x14, "unpacked size at 0x14");

const UINT32 UAF_HEADER_SIZE = 16;
const UINT32 UAF_RECORD_HEAD_SIZE = 0x18;
// Offset of a compressed record's stream (its two size fields are the
// stream's 8-byte header).
const UINT32 UAF_STREAM_OFFSET = 0x10;

// Element 0 is the container header, then every record in file order; the
// pointers lead into the file hub's copy of the program's file. Every record
// in the list lies inside that copy: its head, and its stored bytes (from
// 0x18 when plain, from 0x10 when compressed).
extern TKXList<_TKX_UAF_DATA*> TKXUafDataList;

// Reads the program's own file through the file hub and indexes its
// container. No container is no error (empty list).
ENUM_ERR_ID LoadUaf(int argc, char** argv);
// Appends the container of the data (the program's file) and its records
// to the list.
void IndexUaf(UINT8* data, UINT32 size);
// A new buffer (FreeMem) with the full path of the running program, from
// "/proc/self/exe"; null when memory runs out.
char* GetCurrentFilePath(int argc, char* argv0);
// Finds the last container of the data and appends its header to the list:
// a 16-aligned offset above 0 that holds "@UAF" and a length of at least 16
// that ends exactly at the end of the data. 1 when found.
UINT8 FindUaf(UINT8* data, UINT32 size);
// Appends the records from `first` on, while each lies inside the data; a
// record whose length is below its 24-byte head ends the walk after it.
void EnumAllUafData(UINT8* data, _TKX_UAF_DATA* first, UINT32 size);
// Payload (element + 0x18) of the first list element with the signature,
// and *record set to that element; null and *record null when none.
UINT8* GetUafDataBySign(const char* signature, _TKX_UAF_DATA** record);
// Unpacks a compressed record: source is the record + 0x10 and sourceLength
// the bytes readable there (the record's StoredSize for a listed record);
// destination holds capacity bytes. The unpacked size, or 0 when malformed.
UINT32 DecompressUafData(UINT8* destination, UINT32 capacity, const UINT8* source, UINT32 sourceLength);
