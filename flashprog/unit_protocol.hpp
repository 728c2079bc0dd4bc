// The byte protocol the unit answers. The host sends single bytes; the unit
// answers every byte with exactly one byte, and the host waits for that
// answer before it sends anything else.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace flashprog {

inline constexpr std::size_t kFlashSize = 0x80000;  // 524288 bytes, addresses 0 to 0x7FFFF

inline constexpr std::uint8_t kEraseCommand = 'E';     // answered once the erase is done
inline constexpr std::uint8_t kDownloadCommand = 'P';  // acknowledged; then one byte per address from 0
inline constexpr std::uint8_t kReadBackCommand = 'V';  // answered with the byte at address 0
inline constexpr std::uint8_t kNextAddress = 0x01;     // after 'V': answered with the next address's byte

/// An erase takes about 64 seconds.
inline constexpr std::chrono::milliseconds kEraseTimeout{70000};
/// Every other answer, and each read of the drain before a command.
inline constexpr std::chrono::milliseconds kReplyTimeout{1000};

/// Progress lines appear at every multiple of this address.
inline constexpr std::size_t kProgressStep = 1000;

}  // namespace flashprog
