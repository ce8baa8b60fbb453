// The firmware's answers to every request the program reads back, through
// the real request code: the seam (AnswerSeam.h) writes the input's next
// answer over the request in the interface buffer after each SMI. The input:
//   u8 reader (below, taken modulo their count), u16 ZOKT version to start
//   with (0: the first request that needs it asks the firmware), then the
//   answers.
// Each reader runs the requests of one family as the program's callers do
// and checks that what it keeps is bounded (texts terminated in their
// buffers); the sanitizers see every read of the answer.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>
#include "AnswerSeam.h"
#include "FlashBlock.h"
#include "FuzzKit.h"
#include "HuxCore.h"
#include "RomInfo.h"
#include "RomImageBuilder.h"
#include "SecureFlash.h"
#include "SmiTransport.h"
#include "TKXPhysMem.h"
#include "TKXPortIo.h"
#include "YozEcProc.h"
#include "YozHoleProc.h"
#include "YozSysRom.h"
#include "ZoktCfgCmd.h"
#include "ZoktEc.h"
#include "ZoktEventLog.h"
#include "ZoktFormat.h"
#include "ZoktMe.h"
#include "ZoktMfg.h"
#include "ZoktOaKey.h"
#include "ZoktOemCmd.h"
#include "ZoktPassword.h"
#include "ZoktPattern.h"
#include "ZoktRomId.h"
#include "ZoktVarPreserve.h"

namespace {

// What the program hands the firmware: a ROM file, EC, ME and image data.
const romimg::Bytes kRomFile = romimg::Pattern(0x4000, 31);
const romimg::Bytes kData = romimg::Pattern(0x9000, 32);
UINT8* g_interface = nullptr;

// A text kept from an answer ends inside its buffer.
void CheckText(const char* text, size_t room) {
    if (text != nullptr && strnlen(text, room) == room) abort();
}

void Handshake() {
    g_ZoktVer = 0;
    Zokt_VersionCheck();
    CheckText(Zokt_GetOEMString(), 256);
    Zokt_GetVer();
}

void Manufacturing() {
    ZOKT_YOZMFG_Support();
    // A word keeps all its 16 characters, then its terminator.
    for (UINT32 id = 0; id < 256; ++id)
        CheckText(ZOKT_YOZMFG_GetCmdString(static_cast<UINT8>(id)), ZOKT_YOZMFG_WORD_SIZE + 1);
    ZOKT_YOZMFG_Release();
}

void RomId() {
    Zokt_GetVer();
    UINT16 status = 0;
    ZOKT_RomID_Check(kRomFile.data(), static_cast<UINT32>(kRomFile.size()), status);
    CheckText(ZOKT_RomID_Check_ReString(), 256);
}

void Password() {
    UINT16 length = 0;
    UINT8 status = 0;
    char text[256];
    if (CheckPasswdPresent(length, status, text)) {
        CheckText(text, sizeof(text));
        static const UINT8 typed[] = "secret";
        CheckBIOSPWD(typed, status);
        CheckText(CheckBIOSPWDReString(), 256);
    }
    // The pre-flash dialogue with a password file.
    static UINT8 file[] = "secret\n";
    YOZ_SysRom_PassWord(file, sizeof(file) - 1);
    YOZ_SysRom_CheckPW();
    YOZ_SysRom_PassWord(nullptr, 0);
}

void Pattern() {
    ZOKT_GetPatternSupport();
    CheckText(ZOKT_GetPattern_ReString(), 256);
    romimg::Bytes file = kRomFile;
    ZOKT_SearchPattern(file.data(), static_cast<UINT32>(file.size()));
    CheckText(ZOKT_GetPattern_ReString(), 256);
}

// Configuration words with K and L numbers; the answer switches modules
// and may change the K and L selections.
void Configuration() {
    static char words[][12] = {"yoz", "/P", "/K3", "/L12", "/-B", "~REBOOT", "/X"};
    TKXArgvList args;
    for (char* w : words) args.push_back(new TKX_ARGV_ITEM{w, 0, 0});
    ZOKT_CfgCmd_Release();
    ZOKT_InitCfgCmd(args);
    static TKX_QUEUE_ITEM modules[106];
    TKXQueueItemList items;
    for (UINT32 id = 0; id < 106; ++id) {
        modules[id] = TKX_QUEUE_ITEM{};
        modules[id].ModuleId = static_cast<ENUM_MODULE_ID>(id);
        items.push_back(&modules[id]);
    }
    ZOKT_GetDefsetCfgCmd(items);
    const ZOKT_DC_EXT_ENTRY* k = GetKnEx_HDRData();
    const ZOKT_DC_EXT_ENTRY* l = GetLnEx_HDRData();
    if ((k != nullptr && k->Type != ZOKT_TC_CFG_KN) || (l != nullptr && l->Type != ZOKT_TC_CFG_LN)) abort();
    UINT8 holes[YOZ_MAX_ROMHOLE];
    RHNF_BitDataToLnValue(holes);
    CheckText(ZOKT_CfgCmd_GetOEMString(), 256);
    ZOKT_CfgCmd_Release();
    for (unsigned long i = 0; i < args.size(); ++i) delete args[i];
}

void Ec() {
    std::vector<UINT8> data(kData.begin(), kData.end());
    UINT32 size = 0x2800;
    if (EC_EnterFlashMode(0x8225) == eEID_NO_ERROR) {
        EC_WriteBlk(0x8225, size, data.data(), nullptr);
        EC_ReTryBlk(0x8225, data.data());
        EC_LeaveFlashMode(0x8225);
    }
    if (ECX_EnterFlashMode() == eEID_NO_ERROR) {
        UINT32 romSize = size;
        ECX_GetSize(&romSize, nullptr);
        // The erase takes the firmware's size; write and verify send the file.
        ECX_EraseBlk(romSize < 0x100000 ? romSize : 0x100000, nullptr);
        ECX_WriteBlk(size, data.data(), nullptr);
        ECX_VerifyBlk(size, data.data(), nullptr);
        ECX_LeaveFlashMode();
    }
    ZOKT_ECB_Check();
}

void SecureFlash() {
    FLASH_ResetSecureFlashState();
    FLASH_SetSecureFlashSupported(FLASH_InitialSecureFlashPolicy());
    FLASH_POLICY_INFO_BLOCK policy;
    FLASH_GetSupportedPolicy(&policy);
    std::vector<UINT8> image(kData.begin(), kData.end());
    FLASH_ConfigFlashSessionBlock(FLASH_OP_RUNTIME, FLASH_BLOCK_MAIN, nullptr, static_cast<UINT32>(image.size()));
    FLASH_LoadFwImage(image.data(), static_cast<UINT32>(image.size()), 0, LoadProgress);
    FLASH_SetFlashMethod();
}

void Preservation() {
    ZOKT_VarPreserve_Support();
    ZOKT_VarPreserve_SetupVarStore();
    ZOKT_VarPreserve_DMIVarStore();
    ZOKT_VarPreserve_SetupVarReStore();
    ZOKT_VarPreserve_DMIVarReStore();
    ZOKT_CleanEventLog();
    std::vector<UINT8> key(kData.begin(), kData.begin() + 0x31);
    ZOKT_OAKeyCheck(key.data(), 0x9000, static_cast<UINT32>(key.size()));
}

void OemCommands() {
    ZOKT_OEMCMD_BeginFlash(0x55);
    ZOKT_OEMCMD_StartFlash();
    ZOKT_OEMCMD_AfterFlash();
    ZOKT_OEMCMD_BeginEnd();
    ZOKT_CMD_BeginFlash("0x55 12");
    ZOKT_CMD_StartFlash();
    ZOKT_CMD_AfterFlash();
    ZOKT_CMD_BeginEnd();
}

void MeWhole() {
    ZOKT_ME_VersionCheck();
    ZOKT_ME_CheckSupport();
    ZOKT_ME_Ignition_CheckSupport();
    ZOKT_ME_CheckSupport_debug();
    ZOKT_TC_55_MEUD_STRUCT* info = nullptr;
    ZOKT_ME_GetMEInfo(&info);
    std::vector<UINT8> data(kData.begin(), kData.end());
    if (ZOKT_ME_Full_FlashStart()) {
        ZOKT_ME_Erase(0x1000, 0x2000, nullptr);
        ZOKT_ME_Write(0x1000, 0x1800, data.data(), nullptr);
        ZOKT_ME_Verify(0x1000, 0x1800, data.data(), nullptr);
        ZOKT_MER_ME_DUMP(data.data(), 0x1000, 0x1000, nullptr);
        ZOKT_ME_Full_FlashEnd();
    }
    ZOKT_ME_Release();
}

void MeRegions() {
    ZOKT_ME_CheckSupport();
    ZOKT_MER_Load_debug();
    for (UINT32 i = 0; i < ZOKT_MER_GetTotalCmdNum(); ++i) {
        CheckText(ZOKT_MER_GetCmdString(i), 5);
        CheckText(ZOKT_MER_GetCmdHelp(i), 64);
        CheckText(ZOKT_MER_GetRegionName(ZOKT_MER_GetCmdID(i)), 16);
    }
    // The ME data holds what the session takes, as the region module checks.
    std::vector<UINT8> data(kData.begin(), kData.end());
    if (ZOKT_MER_Init() && ZOKT_MER_PushSize() <= data.size()) {
        ZOKT_MER_PushData(data.data(), nullptr);
        ZOKT_MER_Update(3);
    }
    ZOKT_MER_Release();
    if (ZOKT_MEUL_Init(0x2800)) {
        ZOKT_MEUL_PushData(data.data(), 0x2800, nullptr);
        ZOKT_MEUL_Update();
        ZOKT_MEUL_OnlyME_Use_Capsule_Update(1);
        ZOKT_MEUL_BIOS_ME_Use_Capsule_Update(2);
    }
    ZOKT_ME_Release();
    FreeMem(g_MER_BlkDataInfo);
    g_MER_BlkDataInfo = nullptr;
}

// The flash interface, the ROM information of both requests, the EC version
// compare at the offset it gives, and block reads.
void Flash() {
    EnableFlashIfc();
    sROMInfo* answer = nullptr;
    if (GetFlashInfo(&answer) == eEID_NO_ERROR && TakeFlashInfoAnswer(answer) == eEID_NO_ERROR) {
        romimg::Bytes image = kRomFile;
        UINT8 newer = 0;
        SECUF_EC_CheckBIOSVer(image.data(), static_cast<UINT32>(image.size()), nullptr, newer);
    }
    std::vector<UINT8> data(0x2000);
    ReadBlk(0, 0x2000, data.data(), nullptr);
    FLASH_ReadBlockEx(0x1000, 0x1000, data.data(), nullptr);
    RomLayoutChangeIfc(data.data(), 0x100);
    CleanFlashIfc();
    FreeMem(gpFlashInfo);
    gpFlashInfo = nullptr;
}

void (*const kReaders[])() = {Handshake,    Manufacturing, RomId,       Password, Pattern,   Configuration, Ec,
                              SecureFlash, Preservation,  OemCommands, MeWhole,  MeRegions, Flash};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzkit::QuietOutput();
    g_interface = new UINT8[INTERFACE_BUFFER_SIZE];
    gpIntrBuf = g_interface;
    gpFuncBlock = reinterpret_cast<FunctionBlock*>(gpIntrBuf);
    gIntrBufPhyAddr = 0x7F000000;
    gSmiPort = 0xB2;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3 || size > 0x40000) return 0;
    memset(g_interface, 0, INTERFACE_BUFFER_SIZE);
    g_ZoktVer = static_cast<UINT16>(data[1] | data[2] << 8);
    g_ME_NewInterface = 0;
    answerseam::Begin(g_interface, INTERFACE_BUFFER_SIZE, data + 3, size - 3);
    kReaders[data[0] % (sizeof(kReaders) / sizeof(kReaders[0]))]();
    return 0;
}
