// Parsers of the flash part's fault script and answer patches, and the
// fault check with its occurrence counters.
#include "EmuFlashSettings.h"
#include "EmuMachine.h"

static const char* const kFaultKinds[] = {"open", "read", "erase", "write", "close", "info"};

std::vector<std::string> EmuFaults_Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find(separator, pos);
        if (end == std::string::npos) end = text.size();
        if (end > pos) parts.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    return parts;
}

bool EmuFaults_ParseWhen(const std::string& text, UINT64& from, UINT64& to) {
    UINT64 a = 0, b = 0;
    size_t dash = text.find('-');
    if (!text.empty() && text.back() == '+') {
        if (!EmuParseNum(text.substr(0, text.size() - 1), a) || a == 0) return false;
        from = a;
        to = ~0ull;
        return true;
    }
    if (dash != std::string::npos) {
        if (!EmuParseNum(text.substr(0, dash), a) || !EmuParseNum(text.substr(dash + 1), b) || a == 0 || b < a)
            return false;
        from = a;
        to = b;
        return true;
    }
    if (!EmuParseNum(text, a) || a == 0) return false;
    from = to = a;
    return true;
}

bool EmuFaults_SplitRule(const std::string& text, std::string& head, std::string& action, UINT64& from, UINT64& to) {
    size_t colon = text.rfind(':');
    if (colon == std::string::npos) return false;
    head = text.substr(0, colon);
    action = text.substr(colon + 1);
    size_t hash = head.find('#');
    if (hash == std::string::npos) return true;
    if (!EmuFaults_ParseWhen(head.substr(hash + 1), from, to)) return false;
    head = head.substr(0, hash);
    return true;
}

static bool ParseRule(const std::string& text, EmuFaultRule& rule) {
    std::string head;
    if (!EmuFaults_SplitRule(text, head, rule.ActionText, rule.From, rule.To)) return false;
    UINT64 v = 0;
    if (rule.ActionText == "keep") rule.Action = kEmuFaultKeep;
    else if (rule.ActionText == "corrupt") rule.Action = kEmuFaultCorrupt;
    else if (EmuParseNum(rule.ActionText, v) && v <= 0xFF) {
        rule.Action = kEmuFaultStatus;
        rule.Status = static_cast<UINT8>(v);
    } else return false;

    size_t at = head.find('@');
    if (at != std::string::npos) {
        if (!EmuParseNum(head.substr(at + 1), v) || v > 0xFFFFFFFFull) return false;
        rule.AnyAddress = false;
        rule.Address = static_cast<UINT32>(v);
        head = head.substr(0, at);
    }
    rule.Kind = head;
    for (const char* kind : kFaultKinds) {
        if (rule.Kind == kind) return true;
    }
    return false;
}

bool EmuFlashFaults_Parse(const std::string& script, std::vector<EmuFaultRule>& rules, std::string& error) {
    rules.clear();
    for (const std::string& text : EmuFaults_Split(script, ';')) {
        EmuFaultRule rule;
        if (!ParseRule(text, rule)) {
            error = "bad fault rule \"" + text + "\" (expected KIND[@ADDRESS][#N|#N+|#N-M]:keep|corrupt|STATUS)";
            return false;
        }
        rules.push_back(rule);
    }
    return true;
}

static bool RuleHolds(const EmuFaultRule& rule, UINT32 address, UINT32 size) {
    if (rule.AnyAddress) return true;
    if (size == 0) return rule.Address == address;
    return rule.Address >= address && static_cast<UINT64>(rule.Address) < static_cast<UINT64>(address) + size;
}

EmuFault EmuFlashFaults_Check(const char* kind, UINT32 address, UINT32 size) {
    EmuFault fault;
    std::vector<EmuFaultRule> rules;
    std::string error;
    if (!EmuFlashFaults_Parse(EmuMachine_Get("flash_faults", ""), rules, error)) return fault;
    for (size_t i = 0; i < rules.size(); ++i) {
        const EmuFaultRule& rule = rules[i];
        if (rule.Kind != kind || !RuleHolds(rule, address, size)) continue;
        std::string counter = "fault" + std::to_string(i);
        UINT64 seen = EmuState_GetNum(counter.c_str(), 0) + 1;
        EmuState_SetNum(counter.c_str(), seen);
        if (fault.Action != kEmuFaultNone || seen < rule.From || seen > rule.To) continue;
        fault.Action = rule.Action;
        fault.Status = rule.Status;
        fault.CorruptAddress = rule.AnyAddress ? address : rule.Address;
        fault.Text = " fault=" + rule.ActionText;
    }
    return fault;
}

static int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool EmuInfoPatch_Parse(const std::string& text, std::vector<EmuInfoPatch>& patches, std::string& error) {
    patches.clear();
    for (const std::string& item : EmuFaults_Split(text, ',')) {
        EmuInfoPatch patch;
        size_t colon = item.find(':');
        UINT64 offset = 0;
        bool ok = colon != std::string::npos && EmuParseNum(item.substr(0, colon), offset);
        std::string hex = ok ? item.substr(colon + 1) : "";
        ok = ok && !hex.empty() && hex.size() % 2 == 0;
        for (size_t i = 0; ok && i < hex.size(); i += 2) {
            int hi = HexDigit(hex[i]), lo = HexDigit(hex[i + 1]);
            ok = hi >= 0 && lo >= 0;
            patch.Bytes.push_back(static_cast<UINT8>(hi * 16 + lo));
        }
        ok = ok && offset + patch.Bytes.size() <= 0x11000;
        if (!ok) {
            error = "bad ROM information patch \"" + item + "\" (expected OFFSET:HEXBYTES inside 0x11000 bytes)";
            return false;
        }
        patch.Offset = static_cast<UINT32>(offset);
        patches.push_back(patch);
    }
    return true;
}

bool EmuFlashSettings_Check(std::string& error) {
    std::vector<EmuFaultRule> rules;
    if (!EmuFlashFaults_Parse(EmuMachine_Get("flash_faults", ""), rules, error)) return false;
    std::vector<EmuInfoPatch> patches;
    if (!EmuInfoPatch_Parse(EmuMachine_Get("flash_info_patch", ""), patches, error)) return false;
    std::string form = EmuMachine_Get("flash_info_form", "head16");
    if (form != "short" && form != "head16" && form != "large") {
        error = "bad flash_info_form \"" + form + "\" (expected short, head16 or large)";
        return false;
    }
    return true;
}
