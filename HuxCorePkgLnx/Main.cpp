// Entry point of the shipped program and of its emulator build.
#include "HuxCore.h"

int main(int argc, char** argv) { HuxRunRoad(argc, argv, nullptr); }
