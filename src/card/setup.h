// Pieces of the card set-up that the capture calls share.
#pragma once

#include "frame/card_state.h"

namespace qvx {

// Releases the card's three staging buffers and clears their pointers. A new
// capture needs FinalInit again.
void ReleaseStagingBuffers(CardState& card);

}  // namespace qvx
