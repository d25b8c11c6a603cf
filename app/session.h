// The bootloader session: what the next reply answers, the target record, and
// the senders of every frame the program puts on the line.
#pragma once

#include <atomic>

namespace isp {
struct DeviceInfo;
}

// ISP_mode: the command whose reply is awaited (0 = idle, replies only echoed).
extern int ISP_mode;
// What the next synchronisation ACK starts: 1 chip erase, 2 page erase, 5 read, else Get Version.
extern int sub_handshake_mode;
extern int ISP_sys_ready;
extern int fail_count;

extern int sub_erase_mode;
extern int sub_erase_base_page;
extern int sub_erase_page_number;
extern int sub_erase_finish_mode;

extern int sub_read_mode;
extern int sub_read_base_addr;
// The blank-check worker zeroes it from its own thread to stop further blocks.
extern std::atomic<int> sub_read_byte_number;
extern int sub_read_finish_mode;

extern int sub_go_mode;

extern int sub_write_mode;
extern int sub_write_base_addr;
extern int sub_write_byte_number;
extern int sub_write_byte_iterator;

typedef struct {
    unsigned char reserved0;
    char product_id[128];
    char bootloader_version[16];
    char reserved_text[128];
    unsigned short flash_size_kb;
    unsigned short ram_size_kb;
    // Product ID number from Get ID; 0 before the identification.
    unsigned short product_number;
} STM32_INFO;

extern STM32_INFO STM32_info;

enum {
    ISP_ACK = 0x79,
    ISP_SYNC = 0x7F,
    FLASH_BASE_ADDR = 0x08000000,
    ID_BLOCK_ADDR = 0x1FFFF7E0,
    ID_BLOCK_LEN = 22,
    ISP_MAX_BLOCK = 256,
    // The reply of most frames: the ACK or a refusal.
    ISP_ACK_REPLY_LEN = 1,
};

// Sets ISP_mode for the command and sends code, code^0xFF; 0 and nothing sent for an unknown code.
int ISPCmdSend(int code);
// out[0..3] = value, most significant byte first.
void int2str(char* out, int value);
int Handshake(void);
void BoardReset(void);
void BootloaderModeSelect(void);
void BootloaderModeDeSelect(void);
void ISP_fail(void);

// Frame builders: each fills out and returns the number of bytes (0 for a
// count outside its range). Callers send the result with TideComm_OutputBuffer.
int BuildAddressFrame(char* out, int address);   // 5 bytes
int BuildReadLengthFrame(char* out, int count);  // 2 bytes, count 1..256
int BuildDataBlockFrame(char* out, const unsigned char* data,
                        int count);                               // count + 2, count 1..256
int BuildPageListFrame(char* out, int firstPage, int pageCount);  // pageCount + 2, 1..256

// Sends a frame of the session on port and starts the wait for its reply;
// `workSeconds` is what the chip needs before it answers (0 but for an erase).
// The port's reads end as soon as `replyLength` bytes are in (0: unknown).
void SendIspFrame(int port, const char* frame, int length, double workSeconds = 0.0,
                  int replyLength = ISP_ACK_REPLY_LEN);
// Frames the session has sent: a reply gathered in pieces answers the last
// one, whatever the terminal has sent or counted meanwhile.
unsigned int SessionFrameCount(void);
// True while a reply of the bootloader is awaited.
int IspExchangeInFlight(void);

// Flash geometry of the identified target. Before the identification the
// operator may address the 128 pages of 1 KiB a medium-density part has.
int FlashPageSize(void);
int FlashLastPage(void);
// 0 before the identification.
long FlashBytes(void);
// Flash offset of erase unit `unit` (a page, or a sector on sector families)
// and the bytes of `count` units from it.
long EraseUnitOffset(int unit);
long EraseUnitsBytes(int firstUnit, int count);

// The table's row of the identified part; null before the identification
// and for a product ID the table does not know.
const isp::DeviceInfo* TargetDevice(void);
// The part keeps the F1's identification block, pages and Erase command
// (also before the identification, as the window always assumed).
int TargetUsesF1Layout(void);
// Connected to a part whose product ID the table does not know: there is no
// geometry to work with.
int TargetUnknown(void);
// What the Get reply listed (code 0x43 or 0x44, or 0 for neither). Parts
// other than the F1 are asked at every connect; the F1 keeps Erase.
void RecordOfferedEraseCommand(int code);
// Forgets the last part's Get reply: a new identification begins.
void ForgetOfferedEraseCommand(void);
// Erase (0x43) or Extended Erase (0x44), as the part's bootloader offers;
// 0 when its Get reply listed neither.
int EraseCommandCode(void);
// ISPCmdSend of that erase command: both await their reply in one mode.
// 0 and nothing sent when the bootloader offers none.
int EraseCmdSend(void);
// What erased flash reads on the identified part (0x00 on the L0 and L1).
unsigned char TargetErasedByte(void);
// Bytes each data block is padded to: a whole number of flash write units.
int WriteUnitBytes(void);
// Bytes a loaded image may hold: 128 KiB, or the identified part's flash.
long ImageCapacity(void);

// Every session variable and STM32_info back to its initial value.
void ResetSessionState(void);

// The response timer's callback (runs on the timer thread).
int NACK_process(int reserved, int timer, int event, void* callbackData, void* eventData1,
                 void* eventData2);
