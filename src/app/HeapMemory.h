#pragma once
// How the program's own heap gives memory back to the system. The engine's
// processes are separate executables and keep their own allocators.

namespace brevik {

// Called first in main, before any thread exists: large blocks (the panes'
// pixel buffers, a few MB each) are mapped on their own and unmapped when
// freed. By default the allocator raises that threshold after the first such
// block is freed and from then on keeps the pixels of every pane that went
// away in its heap.
void KeepLargeBlocksOutOfTheHeap();

// Hands the free pages of every arena back to the system; for the moment a
// large part of the program (the exam screen) has just been deleted.
void ReturnFreedHeap();

} // namespace brevik
