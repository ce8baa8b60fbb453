// The mode filter's pointer and the question every masked module asks it.
#include "YozModeFilter.h"

YOZ_SwitchModeFuncT YOZ_pFSwitchModeFunc = nullptr;

BOOLEAN YOZ_ModeTakesPart(UINT8 mask) {
    if (YOZ_pFSwitchModeFunc == nullptr) return TRUE;
    return YOZ_pFSwitchModeFunc(static_cast<INT8>(mask));
}
