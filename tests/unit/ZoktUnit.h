// Fixture of the in-process ZOKT request tests: the interface buffer on the
// shared unit machine, settings per test and the ZOKT lines of the trace.
#pragma once
#include <gtest/gtest.h>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include "E2eHarness.h"
#include "UnitMachine.h"
#include "ZoktFormat.h"

namespace unit {

// Progress callback of the EC and ME requests: each call as "a b c" in hex.
inline std::vector<std::string> g_ProgressCalls;
inline void RecordProgress(UINT32 a, UINT32 b, UINT32 c) {
    char line[64];
    snprintf(line, sizeof(line), "%x %x %x", a, b, c);
    g_ProgressCalls.push_back(line);
}

class ZoktRequests : public ::testing::Test {
protected:
    UINT8* buf = nullptr;
    void SetUp() override {
        unitmachine::Reset();
        buf = unitmachine::InstallInterfaceBuffer();
        ASSERT_NE(buf, nullptr);
        g_ZoktVer = 0x210;
    }
    // A blank machine with these settings; the version is taken as known
    // (no handshake in the trace) unless `version` is 0.
    void Machine(const std::vector<std::string>& settings, UINT16 version = 0x210) {
        unitmachine::Reset(settings);
        buf = unitmachine::InstallInterfaceBuffer();  // a reset makes a new memory file
        g_ZoktVer = version;
    }
    // The ZOKT requests of the trace from "zokt=" on.
    static std::vector<std::string> Zokt() {
        std::vector<std::string> out;
        for (const std::string& line : unitmachine::Trace()) {
            if (line.rfind("smi cmd=0x26 ", 0) != 0) continue;
            size_t at = line.find("zokt=");
            out.push_back(at == std::string::npos ? line : line.substr(at));
        }
        return out;
    }
    std::string Bytes(UINT32 offset, UINT32 length) const {
        return std::string(reinterpret_cast<const char*>(buf) + offset, length);
    }
    static std::string State(const std::string& name) { return e2e::ReadFile(unitmachine::File("state/" + name)); }
    UINT16 U16(UINT32 offset) const {
        UINT16 v;
        memcpy(&v, buf + offset, 2);
        return v;
    }
};

}  // namespace unit
