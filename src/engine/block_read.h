// Pieces shared by the block reads of captured data (analog, digital-input,
// counter and memory-measurement reads).
#pragma once

#include <cstdint>

namespace qvx {

// Decides how many scans a block read delivers from the `available` scans
// waiting, the `*count` wanted and the mode (0: what is there up to the
// count; 1: exactly the count, and only while more than that waits). Caps
// the result at `room`, the scans the staging buffers hold. Updates *count
// to the scans that will be delivered and returns that number; 0 means none
// (the count is then 0). A negative `available` (the FIFO could not be
// asked) gives 0.
std::int32_t DecideScans(std::int32_t available, std::int32_t* count, std::int32_t mode,
                         std::int32_t room);

// The opening of the digital-input and counter block reads: asks `status`
// (the FIFO's count of waiting scans) under AdMutex with `status_label`,
// drains the automatic analog input with `drain_label`, and decides the
// scans to read as DecideScans does.
std::int32_t ScansOfSideFifo(std::int32_t card, std::int32_t (*status)(std::int32_t),
                             const char* status_label, const char* drain_label, std::int32_t* count,
                             std::int32_t mode, std::int32_t room);

// Reads and discards the analog input that FinalInit added by itself, so
// that its FIFO does not fill while only digital or counter data is read.
// At most one staging buffer (10000 scans) per call.
void DrainAutoAnalog(std::int32_t card, const char* label);

}  // namespace qvx
