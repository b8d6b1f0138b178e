#pragma once

#include <cstdint>

namespace rqv5 {

// What the decoders make of a reply from the radio.
using ReplyCode = std::int16_t;
constexpr ReplyCode ReplyOK = 0;
constexpr ReplyCode ReplyNG = 1;
constexpr ReplyCode ReplyED = 2;
constexpr ReplyCode ReplyCT = 3;
constexpr ReplyCode ReplyBE = 4;
constexpr ReplyCode ReplyPG = 5;
constexpr ReplyCode ReplyRA = 6;
constexpr ReplyCode ReplyEE = 7;
constexpr ReplyCode ReplyUnknown = 8; // anything else; also time-out and port failure
constexpr ReplyCode ReplyPinOutLow = 9;
constexpr ReplyCode ReplyPinOutHigh = 10;
constexpr ReplyCode ReplyPinInLow = 11;
constexpr ReplyCode ReplyPinInHigh = 12;
constexpr ReplyCode ReplyRE = 13; // identify refused: the radio is for another region

// The radio's loading modes: two old row-by-row protocols and the flash packets.
using ProtocolMode = std::int16_t;
constexpr ProtocolMode ModeE = 0;
constexpr ProtocolMode ModeFL = 1;
constexpr ProtocolMode ModeFlash = 2;

} // namespace rqv5
