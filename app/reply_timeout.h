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

// The connect's response timer (TimerID1) ticks on the timer thread while the
// first synchronisation's ACK is handled on the user-interface thread. A tick
// can be under way when the ACK disables the timer: both sides go through
// these two under one lock, so such a tick either reports before the ACK is
// handled or reports nothing.
//
// The ACK came or the connection went: the timer is disabled, and a tick
// already under way reports nothing.
void EndConnectWait(void);
// From the timer's tick: when the connect still waits, ends the wait and
// calls report.
void ReportConnectTimeout(void (*report)(void));
