// Finds and indexes the configuration container appended to the program's
// own file. The file's bytes stay in the file hub; the list points into them.
#include <cstring>
#include "TKXDecompress.h"
#include "TKXFile.h"
#include "TKXPhysMem.h"
#include "TKXPortIo.h"
#include "TKXString.h"
#include "TKXUaf.h"

TKXList<_TKX_UAF_DATA*> TKXUafDataList;

static UINT32 ReadLE32(const UINT8* p) {
    UINT32 v;
    memcpy(&v, p, sizeof(v));
    return v;
}

char* GetCurrentFilePath(int, char*) {
    const char* full = TKX_GetExecFileFullName();
    UINT32 length = static_cast<UINT32>(strnlen(full, 4095));
    char* path = reinterpret_cast<char*>(AllocMem(length + 1));
    if (path == nullptr) return nullptr;
    TKX_BoundedCopy(path, full, length);
    return path;
}

UINT8 FindUaf(UINT8* data, UINT32 size) {
    if (data == nullptr || size < 4 + 16) return 0;
    // A 16-aligned "@UAF" can occur inside the program's code too: only one
    // whose length ends exactly at the end of the file is the container.
    const UINT32 kSignature = ReadLE32(reinterpret_cast<const UINT8*>("@UAF"));
    for (UINT64 offset = (static_cast<UINT64>(size) - 4) & ~15ULL; offset >= 16; offset -= 16) {
        if (ReadLE32(data + offset) != kSignature) continue;
        if (size - offset < 8) continue;
        UINT64 length = ReadLE32(data + offset + 4);
        if (length < UAF_HEADER_SIZE || offset + length != size) continue;
        TKXUafDataList.push_back(reinterpret_cast<_TKX_UAF_DATA*>(data + offset));
        return 1;
    }
    return 0;
}

// The bytes a record needs: its head, and its stored bytes counted from 0x18
// (plain) or from 0x10 (compressed, whose stored size counts the stream's
// 8-byte header).
static UINT64 RecordExtent(const UINT8* record) {
    UINT64 stored = ReadLE32(record + 0x10);
    UINT64 unpacked = ReadLE32(record + 0x14);
    UINT64 extent = stored == unpacked ? UAF_RECORD_HEAD_SIZE + stored : UAF_STREAM_OFFSET + stored;
    return extent < UAF_RECORD_HEAD_SIZE ? UAF_RECORD_HEAD_SIZE : extent;
}

void EnumAllUafData(UINT8* data, _TKX_UAF_DATA* first, UINT32 size) {
    if (data == nullptr || first == nullptr) return;
    UINT8* start = reinterpret_cast<UINT8*>(first);
    if (start < data) return;
    UINT64 offset = static_cast<UINT64>(start - data);
    while (offset < size) {
        UINT64 left = size - offset;
        if (left < UAF_RECORD_HEAD_SIZE || RecordExtent(data + offset) > left) return;
        TKXUafDataList.push_back(reinterpret_cast<_TKX_UAF_DATA*>(data + offset));
        UINT64 length = ReadLE32(data + offset + 4);
        if (length < UAF_RECORD_HEAD_SIZE) return;
        offset += length;
    }
}

ENUM_ERR_ID LoadUaf(int argc, char** argv) {
    TKXUafDataList.clear();
    char* path = GetCurrentFilePath(argc, argc > 0 && argv != nullptr ? argv[0] : nullptr);
    if (path == nullptr) return eEID_MEM_ALLOC;
    UINT8* data = nullptr;
    UINT32 size = 0;
    ENUM_ERR_ID status = QueryFileHub(path, &data, size);
    FreeMem(path);
    if (status != eEID_NO_ERROR) return status;
    IndexUaf(data, size);
    return eEID_NO_ERROR;
}

void IndexUaf(UINT8* data, UINT32 size) {
    if (FindUaf(data, size) == 0) return;
    UINT8* header = reinterpret_cast<UINT8*>(TKXUafDataList[0]);
    if (header + UAF_HEADER_SIZE < data + size) {
        EnumAllUafData(data, reinterpret_cast<_TKX_UAF_DATA*>(header + UAF_HEADER_SIZE), size);
    }
}

UINT8* GetUafDataBySign(const char* signature, _TKX_UAF_DATA** record) {
    if (record != nullptr) *record = nullptr;
    if (signature == nullptr) return nullptr;
    char wanted[4] = {0, 0, 0, 0};
    memcpy(wanted, signature, strnlen(signature, 4));
    for (unsigned long i = 0; i < TKXUafDataList.size(); ++i) {
        _TKX_UAF_DATA* element = TKXUafDataList[i];
        if (memcmp(element->Signature, wanted, 4) != 0) continue;
        if (record != nullptr) *record = element;
        return reinterpret_cast<UINT8*>(element) + UAF_RECORD_HEAD_SIZE;
    }
    return nullptr;
}

UINT32 DecompressUafData(UINT8* destination, UINT32 capacity, const UINT8* source, UINT32 sourceLength) {
    return rom_uncompress(destination, capacity, source, sourceLength);
}
