// In-process helpers: WriteOut captured into a string, and standard input
// fed from a text for the key-reading code.
#pragma once
#include <string>

namespace unit {

// The printer behind CapturedOut, for fixtures that install WriteOut
// themselves; g_Out is what it printed.
extern std::string g_Out;
int CaptureOut(const char* format, ...);

// Replaces WriteOut with a capture while alive; Text() is what was printed.
class CapturedOut {
public:
    CapturedOut();
    ~CapturedOut();
    CapturedOut(const CapturedOut&) = delete;
    CapturedOut& operator=(const CapturedOut&) = delete;
    const std::string& Text() const;
    void Clear();

private:
    void* saved_;
};

// Standard input reads `keys` and then ends while alive.
class FedStdin {
public:
    explicit FedStdin(const std::string& keys);
    ~FedStdin();
    FedStdin(const FedStdin&) = delete;
    FedStdin& operator=(const FedStdin&) = delete;

private:
    int saved_;
};

}  // namespace unit
