// The OS seam of the firmware-answer fuzz target: no machine behind the
// program, and every software SMI answered from the fuzz input by writing
// the next answer over the request in the interface buffer, as firmware
// answers in place.
#pragma once
#include <cstddef>
#include <cstdint>

namespace answerseam {

// Answers for the coming SMIs. Each is a u16 offset, a u16 length and that
// many bytes, written at that offset of the interface buffer (cut at its
// end). Once they run out an SMI leaves the request as it was: the firmware
// did not answer.
void Begin(uint8_t* interfaceBuffer, size_t bufferSize, const uint8_t* answers, size_t size);
// SMIs raised since Begin.
uint32_t Requests();

}  // namespace answerseam
