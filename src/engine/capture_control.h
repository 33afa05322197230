// The card's one acquisition, shared by the analog, digital-input, counter
// and memory-measurement calls: start, stop and the rate.
#pragma once

#include <cstdint>

#include "engine/worker.h"
#include "frame/card_state.h"

namespace qvx {

// Starts the module's acquisition: ZQ7_AD_Start, then AdRunState = 1. Returns
// the status of the start call (0, or 1 with the card latched).
std::int32_t StartAcquisition(std::int32_t card);
// ZQ7_Start_Extern with the three flags, then StartAcquisition.
std::int32_t StartAcquisitionExtern(std::int32_t card, std::int32_t flag1, std::int32_t flag2,
                                    std::int32_t flag3);

// The start with external start flags of the analog and digital sides,
// after their trace line: latch, flags 0 or 1 (else refused), nothing to do
// while running, then StartAcquisitionExtern.
std::int32_t StartWithStartFlags(std::int32_t card, std::int32_t flag1, std::int32_t flag2,
                                 std::int32_t flag3);

// Stops a running acquisition: under AdMutex (label "AdStop") switch the
// worker's acquisition half off and wait for its acknowledgement (the
// capture, digital and counter stops end that wait on a latch too; the
// memory-measurement stops do not), stop the module, then release the
// staging buffers.
void StopAcquisition(std::int32_t card, StopWait wait = StopWait::kAcknowledgementOrLatch);

// The rate checks and setting shared by the three rate calls, after their
// trace line and latch check: `rate` in Hz. `product_in_double` selects
// double arithmetic for the aggregate check (digital and counter setters)
// instead of 32-bit integer arithmetic (the analog setter).
std::int32_t SetAcquisitionRate(std::int32_t card, double rate, bool product_in_double);

// Derives ValuesPerPoll from SampleRate (1/50 s of data up to 2000 Hz, 1/20 s
// above, 1..10000 values per channel).
void UpdateValuesPerPoll();

}  // namespace qvx
