// Closes the region sse2/begin.hpp opened (nothing to undo).
