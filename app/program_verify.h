// Reading back what a programming run wrote and comparing it with the image,
// when the operator leaves TABOPS_VERIFY on. A difference on a part whose
// option bytes the table decodes is looked up in its write protection,
// which the bootloader skips without a refusal.
#pragma once

// The whole image is written: starts the read-back and returns 1, or
// returns 0 when verifying is off.
int StartVerify(void);
// One block of the read-back: `count` bytes from sub_read_base_addr.
void VerifyBlockArrived(const unsigned char* bytes, int count);
// The option bytes read after a difference (`count` bytes).
void OptionBytesArrived(const unsigned char* bytes, int count);
