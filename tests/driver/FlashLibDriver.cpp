// Test driver of the flash library: runs the platform start-up and the
// BIOS-information registration of the real program, then the flash library
// calls named on the command line against the emulated machine, and ends
// through the program's shutdown path. One output line per call.
//   exec                         the BIOS-information module's execute function
//   table                        the converted ROM information
//   open | close                 EnableFlashIfc | CleanFlashIfc
//   erase:A,S  write:A,S,P  read:A,S  verify:A,S,P        retrying family
//   erasex:A,S writex:A,S,P readx:A,S verifyx:A,S,P       single requests
//   readblock:A,S  retry  layout:S,P  oem:C  blocksize:N
// P is the first byte of the data pattern: byte i = (P + i) & 0xFF. A read
// prints the sum of the bytes read.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include "FlashBlock.h"
#include "DriverLoop.h"
#include "HuxCore.h"
#include "HuxPlatform.h"
#include "OsSeam.h"
#include "RomInfo.h"

static void Progress(UINT32 a, UINT32 b, UINT32 c) { printf("  cb 0x%x 0x%x 0x%x\n", a, b, c); }

static std::vector<UINT8> Pattern(UINT32 size, UINT32 first) {
    std::vector<UINT8> data(size);
    for (UINT32 i = 0; i < size; ++i) data[i] = static_cast<UINT8>(first + i);
    return data;
}

static UINT32 Sum(const std::vector<UINT8>& data) {
    UINT32 sum = 0;
    for (UINT8 b : data) sum += b;
    return sum;
}

static void PrintTable() {
    if (gpFlashInfo == nullptr) {
        printf("table none\n");
        return;
    }
    printf("table rom=0x%x block=0x%x count=%u form=0x%02x large=%u idlen=0x%02x v=%u ec=0x%x/0x%x chip=\"%s\"\n",
           gRomSize, gFlashBlockSize, gpFlashInfo->BlockCount, gpFlashInfo->Version, GetRomIsLarge(),
           g_OnBoardROMProjectIDLength, g_OnBoardRomIsOrvexV, gpFlashInfo->EcVersionOffset,
           gpFlashInfo->EcVersionMask, m_FlashChipName);
    for (UINT32 i = 0; i < gpFlashInfo->BlockCount; ++i) {
        sBlockInfo e;
        memcpy(&e, &gpFlashInfo->Blocks[i], sizeof(e));
        printf("  0x%08x 0x%08x 0x%02x\n", e.StartAddress, e.BlockSize, e.Type);
    }
}

// Runs one call; false ends the run (a failed execute, as in the execute pass).
static bool Run(const std::string& word) {
    size_t colon = word.find(':');
    std::string name = word.substr(0, colon);
    UINT32 n[3] = {0, 0, 0};
    if (colon != std::string::npos) {
        const char* p = word.c_str() + colon + 1;
        for (int i = 0; i < 3 && *p != '\0'; ++i) {
            char* end = nullptr;
            n[i] = static_cast<UINT32>(strtoul(p, &end, 0));
            p = *end == ',' ? end + 1 : end;
        }
    }
    // The library keeps the data pointer of the last single request for
    // FLASH_RetryLastAction: the data stays alive until the next call.
    static std::vector<UINT8> data;
    if (name == "retry") {
        printf("retry=0x%x\n", FLASH_RetryLastAction(Progress));
        return true;
    }
    data = Pattern(n[1], n[2]);
    if (name == "exec") {
        g_LastErrorCode = QueueItemList[0]->ExecutionActionFunction(QueueItemList);
        printf("exec=0x%x\n", g_LastErrorCode);
        return g_LastErrorCode == 0;
    }
    if (name == "table") PrintTable();
    else if (name == "open") printf("open=0x%x\n", EnableFlashIfc());
    else if (name == "close") {
        CleanFlashIfc();
        printf("close\n");
    } else if (name == "blocksize") {
        gFlashBlockSize = n[0];
        printf("blocksize=0x%x\n", n[0]);
    } else if (name == "erase") printf("erase=%u\n", EraseBlk(n[0], n[1], Progress));
    else if (name == "write") printf("write=%u\n", WriteBlk(n[0], n[1], data.data(), Progress));
    else if (name == "verify") printf("verify=%u\n", VerifyBlk(n[0], n[1], data.data(), Progress));
    else if (name == "read") {
        UINT8 ok = ReadBlk(n[0], n[1], data.data(), Progress);
        printf("read=%u sum=0x%x\n", ok, Sum(data));
    } else if (name == "erasex") printf("erasex=0x%x\n", FLASH_EraseBlockEx(n[0], n[1], Progress));
    else if (name == "writex") printf("writex=0x%x\n", FLASH_WriteBlockEx(n[0], n[1], data.data(), Progress));
    else if (name == "verifyx") printf("verifyx=0x%x\n", FLASH_VerifyBlockEx(n[0], n[1], data.data(), Progress));
    else if (name == "readx" || name == "readblock") {
        // The data stays alive for a later "retry".
        static std::vector<UINT8> kept;
        kept.assign(n[1], 0);
        ENUM_ERR_ID r = name == "readx" ? FLASH_ReadBlockEx(n[0], n[1], kept.data(), Progress)
                                        : FLASH_ReadBlock(n[0], n[1], kept.data(), Progress);
        printf("%s=0x%x sum=0x%x\n", name.c_str(), r, Sum(kept));
    } else if (name == "layout") {
        std::vector<UINT8> layout = Pattern(n[0], n[1]);
        printf("layout=0x%x\n", RomLayoutChangeIfc(layout.data(), n[0]));
    } else if (name == "oem") printf("oem=%u\n", CallOemSmi(static_cast<UINT8>(n[0])));
    else {
        printf("unknown call %s\n", word.c_str());
        g_LastErrorCode = eEID_COMMAND_LINE;
        return false;
    }
    return true;
}

int main(int argc, char** argv) {
    const DriverRegisterFn registers[] = {RegisterInitBiosInfoQueueItem};
    DriverLoop(argc, argv, registers, 1, Run);
}
