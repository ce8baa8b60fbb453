// Configuration words: which word sets which bit, and which bit switches
// which option module.
#include "ZoktCfgCmd.h"
#include "TKXString.h"

ZOKT_DC_Ext_Data ZOKT_CfgExtData;
UINT8 ZOKT_CfgExtDataEnable = 0;

void ZOKT_CfgCmd_ValueToBit(int n, UINT16* bits) {
    if (n >= 0 && n <= 15) *bits = static_cast<UINT16>(*bits | (1u << n));
}

static bool Equals(const char* w, const char* keyword) { return CompareString(w, keyword) == 0; }

// The whole name is a leading part of the keyword (the empty name included).
static bool LeadingPart(const char* w, UINT32 n, const char* keyword) {
    return n <= StringLength(keyword) && MemCmp(w, keyword, n) == 1;
}

static bool StartsWith(const char* w, const char* prefix) {
    UINT32 n = StringLength(prefix);
    return StringLength(w) >= n && MemCmp(w, prefix, n) == 1;
}

// A letter followed by decimal digits only: fills the entry and gives true.
static bool NumberWord(const char* w, ZOKT_DC_EXT_ENTRY& entry, UINT32 type) {
    if (w[1] == '\0') return false;
    UINT32 value = 0;
    for (const char* p = w + 1; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') return false;
        if (value < 1000) value = value * 10 + static_cast<UINT32>(*p - '0');  // only 0-15 select anything
    }
    entry.Type = type;
    ZOKT_CfgCmd_ValueToBit(static_cast<int>(value), &entry.Bits);
    ZOKT_CfgExtDataEnable = 1;
    return true;
}

static UINT32 NameToBit(const char* w) {
    UINT32 n = StringLength(w);
    if (LeadingPart(w, n, "P")) return ZOKT_TC_CFG_P;
    if (LeadingPart(w, n, "B")) return ZOKT_TC_CFG_B;
    if (LeadingPart(w, n, "N")) return ZOKT_TC_CFG_N;
    if (Equals(w, "K")) return ZOKT_TC_CFG_K;
    if (LeadingPart(w, n, "E")) return ZOKT_TC_CFG_E;
    if (LeadingPart(w, n, "Q")) return ZOKT_TC_CFG_Q;
    if (n == 6 && Equals(w, "REBOOT")) return ZOKT_TC_CFG_REBOOT;
    if (LeadingPart(w, n, "X")) return ZOKT_TC_CFG_X;
    if (LeadingPart(w, n, "S")) return ZOKT_TC_CFG_S;
    if (n == 4 && Equals(w, "ECUF")) return ZOKT_TC_CFG_ECUF;
    if (LeadingPart(w, n, "SHUTDOWN")) return ZOKT_TC_CFG_SHUTDOWN;
    if (LeadingPart(w, n, "SP")) return ZOKT_TC_CFG_SETUPRESERVE;
    if (StartsWith(w, "HOLE:")) return ZOKT_TC_CFG_ROMHOLE;
    if (StartsWith(w, "CLNEV")) return ZOKT_TC_CFG_CLNEVNLOG;
    if (Equals(w, "R")) return ZOKT_TC_CFG_R;
    if (Equals(w, "GAN")) return ZOKT_TC_CFG_GAN;
    if (w[0] == 'K') return NumberWord(w, ZOKT_CfgExtData.Kn, ZOKT_TC_CFG_KN) ? ZOKT_TC_CFG_KN : 0;
    if (Equals(w, "L")) return ZOKT_TC_CFG_L;
    if (w[0] == 'L') return NumberWord(w, ZOKT_CfgExtData.Ln, ZOKT_TC_CFG_LN) ? ZOKT_TC_CFG_LN : 0;
    if (w[0] == 'A') return ZOKT_TC_CFG_A;
    if (Equals(w, "O")) return ZOKT_TC_CFG_O;
    if (Equals(w, "OAD")) return ZOKT_TC_CFG_OAD;
    if (StartsWith(w, "CAPSU")) return ZOKT_TC_CFG_CAPSULE;
    if (StartsWith(w, "RECOV")) return ZOKT_TC_CFG_RECOVERY;
    if (Equals(w, "CAF")) return ZOKT_TC_CFG_CAF;
    return 0;
}

INT16 ZOKT_CfgCmd_Strcmd2Valuecmd(char* word, UINT32& bit) {
    bit = 0;
    if (word == nullptr) return 0;
    INT16 kind;
    const char* name;
    if (word[0] == '/' && word[1] == '-') {
        kind = -1;
        name = word + 2;
    } else if (word[0] == '/') {
        kind = 1;
        name = word + 1;
    } else if (word[0] == '~') {
        kind = -1;
        name = word + 1;
    } else {
        return 0;
    }
    // Classify an upper-cased copy: the word may carry a file name ("/A<file>").
    char w[64];
    TKX_BoundedCopy(w, name, sizeof(w) - 1);
    StrToUpper(w);
    bit = NameToBit(w);
    return kind;
}

struct CFG_BIT_MODULE {
    UINT32 Bit;
    ENUM_MODULE_ID Id;
};

// The order in which the answer's bits are taken; 0x2000 has no module.
static const CFG_BIT_MODULE kBitModules[] = {
    {ZOKT_TC_CFG_P, eMID_MAINBIOSOPEN},       {ZOKT_TC_CFG_B, eMID_BOOTBLOCKOPEN},
    {ZOKT_TC_CFG_N, eMID_NVRAMOPEN},          {ZOKT_TC_CFG_K, eMID_NCBFULLOPEN},
    {ZOKT_TC_CFG_E, eMID_SECFLASH},           {ZOKT_TC_CFG_Q, eMID_QUIET},
    {ZOKT_TC_CFG_REBOOT, eMID_REBOOT},        {ZOKT_TC_CFG_X, eMID_NOCKRID},
    {ZOKT_TC_CFG_S, eMID_DISPLAYSYSID},       {ZOKT_TC_CFG_ECUF, eMID_SECUFLASH},
    {ZOKT_TC_CFG_SHUTDOWN, eMID_SHUTDOWN},    {ZOKT_TC_CFG_SETUPRESERVE, eMID_SETUPSTORE},
    {ZOKT_TC_CFG_ROMHOLE, eMID_ROMHOLEFLASH}, {ZOKT_TC_CFG_CLNEVNLOG, eMID_CLNEVNLOG},
    {ZOKT_TC_CFG_R, eMID_SMBIOSSTORE},        {ZOKT_TC_CFG_GAN, eMID_FLASHALLROMFLASH},
    {ZOKT_TC_CFG_KN, eMID_NCBKNOPEN},         {ZOKT_TC_CFG_L, eMID_RHFULLFLASH},
    {ZOKT_TC_CFG_LN, eMID_RHLNFLASH},         {ZOKT_TC_CFG_A, eMID_OEMACTKEY},
    {ZOKT_TC_CFG_O, eMID_SAVEROMTOFILE},      {ZOKT_TC_CFG_OAD, eMID_DELETEOEMACTKEY},
    {ZOKT_TC_CFG_CAPSULE, eMID_SECFLASHCAPSULE}, {ZOKT_TC_CFG_RECOVERY, eMID_SECFLASHRECOVERY},
    {ZOKT_TC_CFG_NCB, ZOKT_CFG_NO_MODULE},    {ZOKT_TC_CFG_CAF, eMID_CAF},
};

UINT8 ZOKT_CfgCmd_Valuecmd2ModID(UINT32& bits, ENUM_MODULE_ID& id) {
    for (const CFG_BIT_MODULE& row : kBitModules) {
        if ((bits & row.Bit) == 0) continue;
        bits &= ~row.Bit;
        if (row.Id != ZOKT_CFG_NO_MODULE) id = row.Id;
        break;
    }
    return bits == 0 ? 1 : 0;
}
