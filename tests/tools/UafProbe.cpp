// Record probe: the program's own trailer reader run on its own file. Loads
// the container through /proc/self/exe exactly as the program does at
// start-up and prints what the list holds, each payload unpacked when it is
// compressed; then looks up each signature given on the command line.
#include <cstdio>
#include <cstring>
#include "TKXDecompress.h"
#include "TKXFile.h"
#include "TKXPhysMem.h"
#include "TKXUaf.h"

static UINT32 Fnv1a(const UINT8* p, UINT32 n) {
    UINT32 h = 2166136261u;
    for (UINT32 i = 0; i < n; ++i) {
        h ^= p[i];
        h *= 16777619u;
    }
    return h;
}

static void PrintPayload(const char* how, const UINT8* p, UINT32 n) {
    printf(" %s bytes=0x%x fnv=%08x head=", how, n, Fnv1a(p, n));
    for (UINT32 i = 0; i < n && i < 16; ++i) printf("%02x", p[i]);
    printf("\n");
}

int main(int argc, char** argv) {
    InitializeFileHub();
    ENUM_ERR_ID status = LoadUaf(argc, argv);
    printf("status %x\n", status);
    printf("elements %lu\n", TKXUafDataList.size());
    for (unsigned long i = 0; i < TKXUafDataList.size(); ++i) {
        _TKX_UAF_DATA* r = TKXUafDataList[i];
        char sig[5] = {0};
        for (int k = 0; k < 4; ++k) sig[k] = (r->Signature[k] >= 0x20 && r->Signature[k] < 0x7F) ? r->Signature[k] : '.';
        printf("%lu %s length=0x%x", i, sig, r->Length);
        if (i == 0) {
            printf("\n");
            continue;
        }
        printf(" stored=0x%x unpacked=0x%x", r->StoredSize, r->UnpackedSize);
        UINT8* payload = reinterpret_cast<UINT8*>(r) + UAF_RECORD_HEAD_SIZE;
        if (r->StoredSize == r->UnpackedSize) {
            PrintPayload("plain", payload, r->StoredSize);
            continue;
        }
        // Room as the record reader allocates it: unpacked size + 0x8000, in 64 bits.
        UINT64 room = static_cast<UINT64>(r->UnpackedSize) + 0x8000;
        UINT8* out = room <= ROM_UNCOMPRESS_MAX_SIZE + 0x8000ULL ? AllocMem(static_cast<UINT32>(room)) : nullptr;
        UINT32 n = out == nullptr ? 0
                                  : DecompressUafData(out, static_cast<UINT32>(room),
                                                      reinterpret_cast<UINT8*>(r) + UAF_STREAM_OFFSET, r->StoredSize);
        if (n == 0) {
            printf(" unpacked-failed\n");
        } else {
            PrintPayload("unpacked", out, n);
        }
        FreeMem(out);
    }
    for (int a = 1; a < argc; ++a) {
        _TKX_UAF_DATA* r = nullptr;
        UINT8* payload = GetUafDataBySign(argv[a], &r);
        if (payload == nullptr) {
            printf("find %s none\n", argv[a]);
            continue;
        }
        unsigned long index = 0;
        while (TKXUafDataList[index] != r) ++index;
        printf("find %s element %lu\n", argv[a], index);
    }
    CleanUpFileHub();
    return static_cast<int>(status);
}
