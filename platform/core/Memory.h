#pragma once

namespace platform {

// Blocks of 1 MB and more get pages of their own, which go back to the
// system as soon as they are freed. The allocator would otherwise raise that
// size each time such a block is freed and serve the next ones from the heap,
// where the copies a long list makes (a megabyte each with 100,000 notes)
// stay with the process after they are freed. Call once, at start.
void returnLargeBlocksWhenFreed();

} // namespace platform
