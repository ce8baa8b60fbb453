// The firmware's EC/battery status block "$ECB" in E0000h-EFFFFh, laid out
// from the `ecb` settings (an init step of "yozemu init").
#pragma once
#include <string>

bool EmuEcb_Layout(std::string& error);
