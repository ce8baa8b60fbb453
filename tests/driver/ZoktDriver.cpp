// Test driver of the ZOKT requests: runs the platform start-up and the
// registration of the BIOS-information and secure-flash modules of the real
// program, then the calls named on the command line against the emulated
// machine, and ends through the program's shutdown path. One output line per
// call; a call whose result the calling module would report ends the run
// with it, so the shutdown path prints its error line.
//   exec                  the execute functions of the registered modules, in order
//   ver                   Zokt_GetVer with the handshake's flags and text
//   check                 Zokt_VersionCheck
//   oembegin:V oemstart oemafter oemend      the value family
//   cmdbegin:TEXT cmdstart cmdafter cmdend   the text family
//   policy                FLASH_GetSupportedPolicy
//   config:OP,AREA,SIZE   FLASH_ConfigFlashSessionBlock without name
//   name:OP,AREA,TEXT     the same with a file name, size 0
//   upload:SIZE[,1]       FLASH_LoadFwImage of a SIZE-byte pattern with LoadProgress (0x1D on failure);
//                         with 1 the pattern starts with the signed capsule header's GUID
//   session               FLASH_SetFlashMethod (0x18 on a refusal)
//   sfmdt:BEFORE,AFTER    the set-method delays
//   ec:CHIP,SIZE          EC form: enter, write a SIZE-byte pattern, leave
//   ecx:SIZE              ECX form: size, enter, erase, write, verify, leave
//   battery               ZOKT_ECB_Check with its last error
//   meversion  meinfo     ZOKT_ME_VersionCheck; ZOKT_ME_CheckSupport with the information
//   mestart  meend        ZOKT_ME_Full_FlashStart; ZOKT_ME_Full_FlashEnd
//   mewrite:ADDR,SIZE     ZOKT_ME_Erase of the 64 KB around ADDR, ZOKT_ME_Write of the pattern
//   meread:ADDR,SIZE      ZOKT_MER_ME_DUMP, printing the sum of the bytes read
// Image byte i is (i * 7 + (i >> 9)) & 0xFF.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include "DriverLoop.h"
#include "HuxCore.h"
#include "HuxPlatform.h"
#include "OsSeam.h"
#include "RomInfo.h"
#include "RomScan.h"
#include "SecureFlash.h"
#include "ZoktFormat.h"
#include "ZoktEc.h"
#include "ZoktMe.h"
#include "ZoktOemCmd.h"

static std::vector<UINT32> Numbers(const std::string& args) {
    std::vector<UINT32> n;
    const char* p = args.c_str();
    while (*p != '\0') {
        char* end = nullptr;
        n.push_back(static_cast<UINT32>(strtoul(p, &end, 0)));
        if (end == p) break;
        p = *end == ',' ? end + 1 : end;
    }
    n.resize(3, 0);
    return n;
}

// Prints the result through the program's printer, which then knows that the
// line is ended; a non-zero result of a module's step ends the run with it.
static bool Result(const char* name, UINT32 result) {
    WriteOut("%s=0x%x\n", name, result);
    g_LastErrorCode = result;
    return result == 0;
}

static bool Run(const std::string& word) {
    size_t colon = word.find(':');
    std::string name = word.substr(0, colon);
    std::string args = colon == std::string::npos ? "" : word.substr(colon + 1);
    std::vector<UINT32> n = Numbers(args);
    if (name == "exec") {
        for (unsigned long i = 0; i < QueueItemList.size(); ++i) {
            g_LastErrorCode = QueueItemList[i]->ExecutionActionFunction(QueueItemList);
            if (g_LastErrorCode != 0) break;
        }
        printf("exec=0x%x secure=%u\n", g_LastErrorCode, FLASH_IsSecureFlashSupported());
        return g_LastErrorCode == 0;
    }
    if (name == "ver") {
        UINT16 ver = Zokt_GetVer();
        printf("ver=0x%04x errout=%u dis=%u text=\"%s\"\n", ver, Zokt_GetRS_ERR_OUT(), Zokt_RS_DIS_OEMSTR(),
               Zokt_GetOEMString());
        return true;
    }
    if (name == "check") {
        printf("check=0x%x ver=0x%04x\n", Zokt_VersionCheck(), g_ZoktVer);
        return true;
    }
    if (name == "oembegin") return Result("oembegin", ZOKT_OEMCMD_BeginFlash(n[0]));
    if (name == "oemstart") return Result("oemstart", ZOKT_OEMCMD_StartFlash());
    if (name == "oemafter") return Result("oemafter", ZOKT_OEMCMD_AfterFlash());
    if (name == "oemend") return Result("oemend", ZOKT_OEMCMD_BeginEnd());
    if (name == "cmdbegin") return Result("cmdbegin", ZOKT_CMD_BeginFlash(args.c_str()));
    if (name == "cmdstart") return Result("cmdstart", ZOKT_CMD_StartFlash());
    if (name == "cmdafter") return Result("cmdafter", ZOKT_CMD_AfterFlash());
    if (name == "cmdend") return Result("cmdend", ZOKT_CMD_BeginEnd());
    if (name == "policy") {
        FLASH_POLICY_INFO_BLOCK policy;
        if (FLASH_GetSupportedPolicy(&policy) == 0) return Result("policy", eEID_SECURE_FLASH_POLICY_GET);
        printf("policy=0x%02x,0x%02x\n", policy.Policy[0], policy.Policy[1]);
        return true;
    }
    if (name == "config" || name == "name") {
        std::string text = args.substr(args.find(',', args.find(',') + 1) + 1);
        FLASH_ConfigFlashSessionBlock(static_cast<UINT8>(n[0]), static_cast<FLASH_BLOCK_TYPE>(n[1]),
                                      name == "name" ? text.c_str() : nullptr, name == "name" ? 0 : n[2]);
        printf("%s op=0x%02x\n", name.c_str(), FLASH_GetCurrentFlashOpType());
        return true;
    }
    if (name == "upload") {
        std::vector<UINT8> image(n[0]);
        for (UINT32 i = 0; i < n[0]; ++i) image[i] = static_cast<UINT8>(i * 7 + (i >> 9));
        if (n.size() > 1 && n[1] == 1 && n[0] >= sizeof(kGuidCapsuleHeader))
            memcpy(image.data(), kGuidCapsuleHeader, sizeof(kGuidCapsuleHeader));
        fflush(stdout);
        if (FLASH_LoadFwImage(image.data(), n[0], 0, LoadProgress) == 0) {
            return Result("upload", eEID_SECURE_FLASH_LOAD_IMAGE);
        }
        printf("upload=0x0\n");
        return true;
    }
    if (name == "session") {
        return Result("session", FLASH_SetFlashMethod() == 0 ? 0u : static_cast<UINT32>(eEID_SECURE_FLASH_SESSION_START));
    }
    if (name == "sfmdt") {
        ZOKT_SetMethod_BeforeDelayTime(n[0]);
        ZOKT_SetMethod_AfterDelayTime(n[1]);
        printf("sfmdt\n");
        return true;
    }
    if (name == "ec" || name == "ecx") {
        UINT32 size = name == "ec" ? n[1] : n[0];
        std::vector<UINT8> image(size);
        for (UINT32 i = 0; i < size; ++i) image[i] = static_cast<UINT8>(i * 7 + (i >> 9));
        UINT16 chip = static_cast<UINT16>(n[0]);
        ENUM_ERR_ID err;
        if (name == "ec") {
            err = EC_EnterFlashMode(chip);
            if (err == eEID_NO_ERROR) err = EC_WriteBlk(chip, size, image.data(), nullptr);
            if (err == eEID_NO_ERROR) err = EC_LeaveFlashMode(chip);
        } else {
            UINT32 ecSize = size;
            err = ECX_GetSize(&ecSize, nullptr);
            if (err == eEID_NO_ERROR) err = ECX_EnterFlashMode();
            if (err == eEID_NO_ERROR) err = ECX_EraseBlk(ecSize, nullptr);
            if (err == eEID_NO_ERROR) err = ECX_WriteBlk(ecSize, image.data(), nullptr);
            if (err == eEID_NO_ERROR) err = ECX_VerifyBlk(ecSize, image.data(), nullptr);
            if (err == eEID_NO_ERROR) err = ECX_LeaveFlashMode();
        }
        return Result(name.c_str(), err);
    }
    if (name == "battery") {
        printf("battery=%u error=0x%x\n", ZOKT_ECB_Check(), ZOKT_ECB_Check_GetLastErrorID());
        return true;
    }
    if (name == "meversion") {
        printf("meversion=%u error=0x%x\n", ZOKT_ME_VersionCheck(), ZOKT_ME_GetLastError());
        return true;
    }
    if (name == "meinfo") {
        ZOKT_TC_55_MEUD_STRUCT* info = nullptr;
        if (ZOKT_ME_CheckSupport() == 0 || ZOKT_ME_GetMEInfo(&info) == 0) return Result("meinfo", ZOKT_ME_GetLastError());
        printf("meinfo runtime=0x%x,0x%x bios=0x%x,0x%x\n", info->RuntimeBase, info->RuntimeLength,
               info->BiosRegionBase, info->BiosRegionLength);
        return true;
    }
    if (name == "mestart" || name == "meend") {
        printf("%s=%u\n", name.c_str(), name == "mestart" ? ZOKT_ME_Full_FlashStart() : ZOKT_ME_Full_FlashEnd());
        return true;
    }
    if (name == "mewrite") {
        std::vector<UINT8> image(n[1]);
        for (UINT32 i = 0; i < n[1]; ++i) image[i] = static_cast<UINT8>(i * 7 + (i >> 9));
        if (ZOKT_ME_Erase(n[0] & ~0xFFFFu, 0x10000, nullptr) == 0 || ZOKT_ME_Write(n[0], n[1], image.data(), nullptr) == 0)
            return Result("mewrite", ZOKT_ME_GetLastError());
        return Result("mewrite", 0);
    }
    if (name == "meread") {
        std::vector<UINT8> data(n[1]);
        UINT32 got = ZOKT_MER_ME_DUMP(data.data(), n[0], n[1], nullptr);
        UINT32 sum = 0;
        for (UINT32 i = 0; i < got; ++i) sum += data[i];
        printf("meread=0x%x sum=0x%x\n", got, sum);
        return got != 0 || Result("meread", ZOKT_ME_GetLastError());
    }
    printf("unknown call %s\n", word.c_str());
    g_LastErrorCode = eEID_COMMAND_LINE;
    return false;
}

int main(int argc, char** argv) {
    const DriverRegisterFn registers[] = {RegisterInitBiosInfoQueueItem, RegisterSecureFlashQueueItem};
    DriverLoop(argc, argv, registers, 2, Run);
}
