#ifndef VELMORA_ERRTEXT_H
#define VELMORA_ERRTEXT_H

#include <cstddef>
#include <cstdint>

// One system message text: 511 characters and a terminating zero.
constexpr std::size_t kErrorTextBufferSize = 512;
using ErrorTextBuffer = char[kErrorTextBufferSize];

// Puts the system's text for `errorNumber` into `text`, exactly as the
// system words it, or the empty string when there is none. Longer texts are
// cut at 511 characters. Never fails.
void GetSystemErrorText(std::uint32_t errorNumber, ErrorTextBuffer& text);

#endif
