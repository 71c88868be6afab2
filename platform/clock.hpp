#pragma once
// A monotonic millisecond tick count, for progress reports of long computations.

#include <cstdint>

namespace georef::platform {

// Milliseconds of a steady clock since an arbitrary fixed point; wraps like a
// 32-bit tick counter.
std::uint32_t TickCountMs() noexcept;

}  // namespace georef::platform
