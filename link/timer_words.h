#pragma once

#include <cstddef>

namespace fieldkit::link {

// What each LinkTimers word holds. Words 6, 7 and 9 are reserved and must stay 0.
inline constexpr std::size_t TIMER_INTER_BYTE_GAP_MS = 0; // longest silence inside one answer
inline constexpr std::size_t TIMER_ANSWER_TIMEOUT_MS = 1; // longest wait for an answer's first byte
inline constexpr std::size_t TIMER_BAUD_RATE = 2;         // line speed, fixed by the radio's profile
inline constexpr std::size_t TIMER_PING_TIMEOUT_MS = 3;   // longest wait for a ping answer's first byte
inline constexpr std::size_t TIMER_QUIET_TIME_MS = 4;     // silence that counts as a quiet line
inline constexpr std::size_t TIMER_QUIET_LIMIT_MS = 5;    // longest wait for a quiet line
inline constexpr std::size_t TIMER_TRIES = 8;             // transmissions of one request, the first included
inline constexpr std::size_t kReservedTimerWords[] = {6, 7, 9};

} // namespace fieldkit::link
