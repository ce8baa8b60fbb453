// What became of the last ZOKT request, as the transport reads it around
// the SMI of either path (the hooked SMI 0x26 and the secure-flash one): the
// return status tells whether the firmware answered at all, the record's
// status whether it did what was asked. Every request family reads it from
// here. The requests that may safely go out twice (ends, frees, queries) are
// sent again while they go unanswered, by one helper with one count.
#pragma once
#include "HuxTypes.h"

enum ZOKT_OUTCOME : UINT8 {
    eZOKT_NOT_SENT = 0,    // nothing went to the firmware (being built, or given up before the SMI)
    eZOKT_UNANSWERED = 1,  // no answer came back (no ZOKT_RS_SUPPORT): carried out or not, nobody can tell
    eZOKT_DONE = 2,        // answered, and the record's status says done
    eZOKT_REFUSED = 3,     // answered, and the record's status says not done
};

// A request that goes unanswered goes out this many times in all.
#define ZOKT_UNANSWERED_SENDS 3

// Around the SMI: what is asked (type and sub-function, read before the
// firmware writes over the buffer), then what came back.
void Zokt_OutcomeAsked(const UINT8* request);
void Zokt_OutcomeAnswered(const UINT8* answer);
// A request is being built: the last outcome is no longer its.
void Zokt_ResetOutcome();
ZOKT_OUTCOME Zokt_LastOutcome();
inline bool Zokt_LastUnanswered() { return Zokt_LastOutcome() == eZOKT_UNANSWERED; }

// Sends one request; 1 when the caller has what it asked for.
typedef UINT8 (*ZOKT_SEND_FUNC)(void* context);
// Sends by `send` (context handed through) until it returns 1 or the
// request is not left unanswered, at most ZOKT_UNANSWERED_SENDS times; the
// last result. *sends (when given) counts the requests that went out.
UINT8 Zokt_SendWhileUnanswered(ZOKT_SEND_FUNC send, void* context, UINT32* sends = nullptr);
