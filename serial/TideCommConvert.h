// Hexadecimal text, UU groups and the SMBus packet error code. Pure functions:
// no port, no state. Hex digits written are upper case; digits read may be
// either case. A null pointer never gets dereferenced: the call writes nothing
// (and HexToInt gives 0, PEC gives -1).
#ifndef TIDECOMM_CONVERT_H
#define TIDECOMM_CONVERT_H

#ifdef __cplusplus
extern "C" {
#endif

// Reads `length` characters as hex digits, most significant first. Characters
// that are not hex letters contribute their code minus '0' (nothing is
// rejected); digits past the eighth shift the first ones out.
int TideComm_HexToInt(const char* text, unsigned int length);

// Writes `digits` hex digits of the little-endian value at `data`, most
// significant first, and a terminating 0 at text[digits]. An odd count shows
// the low nibble of the next byte as its leading digit (the value cut to that
// many digits); a count of 0 or less writes only the terminating 0.
void TideComm_IntToHex(const void* data, char* text, int digits);

// Two digits per byte with `blanks` spaces between bytes, then a terminating 0.
// The text needs 2*count + blanks*(count-1) + 1 characters.
void TideComm_BinToHex(const void* data, char* text, int count, int blanks);

// One UU group: 3 bytes <-> 4 characters (value 0 written as '`').
// Each returns 1 and writes nothing when a pointer is null, else 0.
int TideComm_BinToUUEnCode(const void* bytes, char* text);  // 4 chars + 0
int TideComm_UUToBinDecode(const char* text, void* bytes);  // 3 bytes only
int TideComm_HexToUUEnCode(const char* hex, char* text);    // 6 digits in; 4 chars + 0
int TideComm_UUToHexDecode(const char* text, char* hex);    // 6 digits, no terminating 0

// One byte of the SMBus PEC (CRC-8, polynomial 0x07, MSB first). Updates
// *code and returns it.
int TideComm_PEC(unsigned char* code, unsigned char byte);

#ifdef __cplusplus
}
#endif

#endif
