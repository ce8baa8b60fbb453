// The small one-record ZOKT requests, for callers that use several of them.
#pragma once
#include "ZoktEventLog.h"
#include "ZoktMfg.h"
#include "ZoktOaKey.h"
#include "ZoktPassword.h"
#include "ZoktPattern.h"
#include "ZoktRomId.h"
#include "ZoktVarPreserve.h"
