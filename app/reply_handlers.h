// Reply handlers, one per awaited command. Each gets one whole reply: its
// first byte is the ACK (0x79) or a refusal, and `length` bytes are valid.
#pragma once

void HandleSyncReply(int port, const unsigned char* reply, int length);
void HandleGetReply(int port, const unsigned char* reply, int length);
void HandleGetVersionReply(int port, const unsigned char* reply, int length);
void HandleGetIdReply(int port, const unsigned char* reply, int length);
void HandleReadMemoryReply(int port, const unsigned char* reply, int length);
void HandleGoReply(int port, const unsigned char* reply, int length);
void HandleWriteMemoryReply(int port, const unsigned char* reply, int length);
void HandleEraseReply(int port, const unsigned char* reply, int length);

// The most ID bytes a Get ID reply may carry: two characters each, and a
// terminating zero, fit the 128-character product ID.
enum { MAX_PRODUCT_ID_BYTES = 63 };
// The most command codes a Get reply may list; AN3155 names fewer than 20.
enum { MAX_GET_COMMANDS = 64 };

// Bytes of the Read Memory reply now awaited: the ACK and the block.
int ReadMemoryReplyLength(void);

// A failed or abandoned programming run leaves nothing behind: the next
// erase only erases, and the next programming run starts at the image's start.
void AbandonProgramming(void);

// The blank check found data (user-interface thread). The operator is told
// once the block in flight has arrived, when the bootloader waits for a
// command again; at once when no block is in flight.
void NotBlankVerdict(void);
// A read is over, however it ended: the session is idle and a verdict held
// back by NotBlankVerdict is shown.
void ReadEnded(void);
