// The staging buffers: where reads of the driver's three FIFOs land before
// the scans are laid out for the caller. This is their one home: what the
// driver may write into them, their allocation, the room of every read, and
// their release.
//
// The driver fills a buffer at the width of the list that it holds, and that
// list can differ from the library's own: opening a card again empties the
// library's lists but not the module's, a clear that the driver refuses
// leaves the module's lists in place, and entries added after FinalInit
// widen the lists beyond what the buffers were sized for. So the library
// notes the width of every list it hands the driver (StagingBook), and sizes
// every buffer, and bounds every read, by the larger of the two.
//
// Locking: the book's lock guards the buffers, their capacities and the
// driver's widths. It is held across every driver call that may widen what
// the driver writes (the list calls and the start below) and across every
// use of a buffer (a FIFO read and the layout that follows), so that no read
// can be bounded by a width that changes before the driver writes. Where a
// card's AdMutex is held too, it is taken first.
#pragma once

#include <cstdint>

#include "frame/card_state.h"

namespace qvx {

// Largest width, in elements per scan, that a buffer is allocated for; wider
// lists get fewer scans per read.
constexpr std::int32_t kMaxStagingWidth = 1024;

// ---- The driver's input lists (application thread) ----

// ZQ7_AD_AddChannellist(card, channel, range, 0); returns its result.
std::int32_t DriverAddAnalogEntry(std::int32_t card, std::int32_t channel, std::int32_t range);
// ZQ7_CT_AddChannelList(card, counter); returns its result.
std::int32_t DriverAddCounterEntry(std::int32_t card, std::int32_t counter);
// ZQ7_TTL_AddChannelList(card, line); its result is not read.
void DriverAddLine(std::int32_t card, std::int32_t line);
// ZQ7_AD_ClearChannelList(card), which empties all three of the driver's
// input lists; returns its result (1: cleared).
std::int32_t DriverClearInputLists(std::int32_t card);
// ZQ7_AD_Start(card), which starts the FIFOs at the widths of the lists as
// they stand; returns its result.
std::int32_t DriverStartCapture(std::int32_t card);

// ---- Widths and room ----

// Elements per scan at which `fifo` may fill its buffer: the largest of the
// library's list, the driver's list and the list the FIFOs were started with.
std::int32_t FifoWidth(const CardState& card, Fifo fifo);
// Scans that one read of `fifo` may move into its buffer: at most
// kStagingScans, never more than the buffer holds at FifoWidth, and 0 when
// the buffer is missing (before FinalInit, after a stop).
std::int32_t FifoRoom(const CardState& card, Fifo fifo);
// Scans that one read of the card's lists as they stand may move: the
// analog room, and for a mixed list the counter and digital rooms as well.
std::int32_t StagingScans(const CardState& card);

// ---- Allocation and release ----
// REQUIRES: the caller owns the card's AdMutex, or the card has no worker.

// Replaces the buffers with fresh ones of kStagingScans scans at the widths
// as they stand (an empty list gets one element: a missing buffer means
// "released by a stop").
void AllocateStaging(CardState& card);
// Frees the buffers; reads deliver nothing until the next AllocateStaging.
void FreeStaging(CardState& card);

}  // namespace qvx
