// The program's face: banner texts, the build suffix and the usage-head
// help printers.
#pragma once
#include "HuxTypes.h"

// Application-name text of the build (at most 10 characters of it stand in
// the banner title); empty in a plain build.
extern const char* gAppName;

// Fixed texts of the banner box.
extern const char kYozBannerTitle[];   // 39 characters
extern const char kYozBannerNotice[];  // 75 characters
extern const char kYozVersion[];       // "5.09.04.1503"

// The plain banner box (title, notice), counted as one line for the pager.
void YOZ_PrintPlainBanner();

// The usage head's help functions (pass 1: usage lines; CommandOEMHelp also
// prints an "| Options:" line in pass 0).
void YOZ_UsageHead_CommandHelp(UINT8 pass);
void YOZ_UsageHead_CommandOEMHelp(UINT8 pass);
