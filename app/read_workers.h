// The two workers that consume flash reads for the program's whole life, on
// the engine's default thread pool. Between reads they sleep; both end once
// f_read_iterator exceeds f_read_len (the quit signal).
#pragma once

// Shows a read as lines of 16 bytes in the ISP log.
int read_display(void* data);
// Tests a blank check's bytes for 0xFF.
int check_blank_op(void* data);
