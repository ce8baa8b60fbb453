// Parser of the firmware-request fault script and its check with the
// occurrence counters.
#include "EmuZoktFaults.h"
#include "EmuFlashSettings.h"
#include "EmuMachine.h"

static const UINT8 kMeType = 0x55;
static const UINT8 kMeWrite = 7, kMeReadBack = 8, kMeRegionRequest = 0x0A;
static const char kRegionStatus[] = "status=";

static bool Byte(const std::string& text, UINT8& value) {
    UINT64 v = 0;
    if (!EmuParseNum(text, v) || v > 0xFF) return false;
    value = static_cast<UINT8>(v);
    return true;
}

static bool ParseRule(const std::string& text, EmuZoktFaultRule& rule) {
    std::string head;
    if (!EmuFaults_SplitRule(text, head, rule.ActionText, rule.From, rule.To)) return false;
    UINT64 v = 0;
    if (rule.ActionText == "none") rule.Action = kEmuZoktFaultSilent;
    else if (rule.ActionText == "lost") rule.Action = kEmuZoktFaultLost;
    else if (rule.ActionText == "corrupt") rule.Action = kEmuZoktFaultCorrupt;
    else if (rule.ActionText.compare(0, sizeof(kRegionStatus) - 1, kRegionStatus) == 0) {
        if (!EmuParseNum(rule.ActionText.substr(sizeof(kRegionStatus) - 1), v) || v > 0xFFFF) return false;
        rule.Action = kEmuZoktFaultRegionStatus;
        rule.Status = static_cast<UINT16>(v);
    } else if (EmuParseNum(rule.ActionText, v) && v <= 0xFFFF) {
        rule.Action = kEmuZoktFaultStatus;
        rule.Status = static_cast<UINT16>(v);
    } else return false;

    size_t slash = head.find('/');
    if (slash != std::string::npos) {
        if (!Byte(head.substr(slash + 1), rule.Sub)) return false;
        rule.AnySub = false;
        head = head.substr(0, slash);
    }
    if (!Byte(head, rule.Type)) return false;
    // Only the ME write and read back carry data the firmware could corrupt.
    if (rule.Action == kEmuZoktFaultCorrupt)
        return rule.Type == kMeType && !rule.AnySub && (rule.Sub == kMeWrite || rule.Sub == kMeReadBack);
    // Only the ME region requests carry a region status.
    if (rule.Action == kEmuZoktFaultRegionStatus) return rule.Type == kMeType && !rule.AnySub && rule.Sub == kMeRegionRequest;
    return true;
}

bool EmuZoktFaults_Parse(const std::string& script, std::vector<EmuZoktFaultRule>& rules, std::string& error) {
    rules.clear();
    for (const std::string& text : EmuFaults_Split(script, ';')) {
        EmuZoktFaultRule rule;
        if (!ParseRule(text, rule)) {
            error = "bad firmware-request fault rule \"" + text +
                    "\" (expected TYPE[/SUB][#N|#N+|#N-M]:none|lost|STATUS, 0x55/7 and 0x55/8 :corrupt, or 0x55/0x0a :status=N)";
            return false;
        }
        rules.push_back(rule);
    }
    return true;
}

EmuZoktFault EmuZoktFaults_Check(UINT8 type, UINT8 sub) {
    EmuZoktFault fault;
    std::vector<EmuZoktFaultRule> rules;
    std::string error;
    if (!EmuZoktFaults_Parse(EmuMachine_Get("zokt_faults", ""), rules, error)) return fault;
    for (size_t i = 0; i < rules.size(); ++i) {
        const EmuZoktFaultRule& rule = rules[i];
        if (rule.Type != type || (!rule.AnySub && rule.Sub != sub)) continue;
        std::string counter = "zfault" + std::to_string(i);
        UINT64 seen = EmuState_GetNum(counter.c_str(), 0) + 1;
        EmuState_SetNum(counter.c_str(), seen);
        if (fault.Action != kEmuZoktFaultNone || seen < rule.From || seen > rule.To) continue;
        fault.Action = rule.Action;
        fault.Status = rule.Status;
        fault.Text = " fault=" + rule.ActionText;
    }
    return fault;
}

bool EmuZoktFaults_CheckSetting(std::string& error) {
    std::vector<EmuZoktFaultRule> rules;
    return EmuZoktFaults_Parse(EmuMachine_Get("zokt_faults", ""), rules, error);
}
