// Pieces of the card set-up that the capture calls share.
#pragma once

#include "frame/card_state.h"

namespace qvx {

// Releases the card's three staging buffers and clears their pointers. A new
// capture needs FinalInit again. Takes AdMutex, so that a counter read of the
// worker cannot be using a buffer as it goes; when the mutex cannot be had
// the buffers are only detached (their memory is lost, never freed under a
// worker that may still write into it).
void ReleaseStagingBuffers(CardState& card);
// The same, for a caller that knows the worker is out of its acquisition
// half and stays out (it acknowledged a stop, or the caller owns AdMutex
// with the half switched off).
void FreeStagingBuffers(CardState& card);

}  // namespace qvx
