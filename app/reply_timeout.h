// Every exchange after the connect's first synchronisation is timed: a
// bootloader that stops answering, or a link that goes away, ends the
// operation with its own failure text instead of leaving it waiting for good.
#pragma once

// The frame just sent awaits a reply: within the time the longest reply takes
// at the line's rate plus a margin, and `workSeconds` more for what the chip
// does before it answers (an erase).
void AwaitReply(double workSeconds);
// Nothing is awaited that this watch should report: the connect's own
// response timer covers its first synchronisation.
void StopAwaitingReply(void);
// Releases the timer that watches the waits; the quit calls it.
void DiscardReplyTimer(void);
// The longest time an erase of `pages` pages may take before the chip answers.
double EraseSeconds(int pages);
