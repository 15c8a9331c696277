// Layer: platform
// For the tools: a view of a file that another process may cut short while it is mapped. On
// Linux, touching a page past the new end raises SIGBUS, which would end the program; a
// guarded view gets zero-filled pages in its place instead, and viewWasCut() says so, so the
// tool can tell the user and carry on. Windows refuses to shrink a mapped file, so there the
// guard has nothing to do. Never for the effect: its real-time path takes no such check.
#pragma once

#include <cstddef>

namespace vorlund {

// Guards `size` bytes at `view` (the start of a mapping) until unguardView. Up to four views.
// Returns false when no slot or handler is available; the view then stays unguarded.
bool guardView(void* view, std::size_t size) noexcept;
void unguardView(void* view) noexcept;
// True once a fault inside the guarded view at `view` has replaced it with zero pages.
bool viewWasCut(const void* view) noexcept;

}  // namespace vorlund
