#pragma once
// The packet clock of the serial driver's packet mode: when the partial packet being collected
// began to arrive, on the 32-bit millisecond tick count. Pure arithmetic, so that it is tested
// without a port; the tick count wraps after about 49.7 days, and every comparison survives that.

#include <cstdint>

// Whether a partial packet first seen at Start has waited longer than Timeout milliseconds (a
// positive time-out) at Now. The start may lie ahead of now: whole packets taken before their
// line time had passed advance it by that time. Such a packet has not waited at all.
inline bool PacketTimedOut(std::uint32_t Start, std::int32_t Timeout, std::uint32_t Now) {
    const auto Waited = static_cast<std::int32_t>(Now - Start);
    return Timeout > 0 && Waited > Timeout;
}
