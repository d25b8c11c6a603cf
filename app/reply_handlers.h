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
void HandleWriteUnprotectReply(int port, const unsigned char* reply, int length);
void HandleReadoutUnprotectReply(int port, const unsigned char* reply, int length);

// sub_read_finish_mode: what a read is for. The identification reads end
// the connect; the rest of the flash reads are shown or blank-checked.
enum {
    READ_FOR_DISPLAY = 0,
    READ_ID_F1_BLOCK = 1,
    READ_ID_FLASH_SIZE = 2,
    READ_ID_UID = 3,
    READ_OPTION_BYTES = 4,  // write protection checked before programming
    READ_VERIFY = 5,        // programmed bytes compared with the image
};

// The most ID bytes a Get ID reply may carry: two characters each, and a
// terminating zero, fit the 128-character product ID.
enum { MAX_PRODUCT_ID_BYTES = 63 };
// The most command codes a Get reply may list; AN3155 names fewer than 20.
enum { MAX_GET_COMMANDS = 64 };

// Bytes of the Read Memory reply now awaited: the ACK and the block.
int ReadMemoryReplyLength(void);

// The image is written (and verified, when asked for): the completion
// messages of a programming run.
void ProgrammingSucceeded(void);

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
// Counts `count` bytes of a read as done and asks for the next block; false
// when none is left.
bool RequestNextReadBlock(int count);
