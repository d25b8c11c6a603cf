// The ways the application speaks to the operator besides pop-ups, and the
// failure texts that more than one part of the engine shows.
#pragma once

// Status line PANEL_STATUS.
void SetStatus(const char* text);
// Appends to TABOPS_LOG after scrolling it to its last line.
void LogLine(const char* text);
// Appends to TABOPS_LOG without scrolling.
void LogLineNoScroll(const char* text);

inline constexpr char kWarningTitle[] = "告警";
inline constexpr char kConnectFailedText[] = "与目标板连接失败，请检查电路并重新复位目标板！！！";
inline constexpr char kReadCommandFailedText[] =
    "读Flash操作失败，请检查boot0引脚并手动复位电路！！！";
// Get ID answered but reading the identification block was refused: read
// protection, not the wiring.
inline constexpr char kReadProtectedText[] =
    "芯片处于读保护状态：电路连接正常；解除读保护将擦除整个Flash"
    "（命令行：chipload unprotect --read --yes）！！！";
// An unprotect that got no answer: the option bytes may or may not have changed.
inline constexpr char kUnprotectFailedText[] =
    "解除保护操作无应答，请重新连接设备查看芯片状态！！！";
inline constexpr char kReadFailedText[] = "读取操作失败，请检查boot0引脚并手动复位电路！！！";
inline constexpr char kEraseFailedText[] = "擦除操作失败，请检查boot0引脚并手动复位电路！！！";
inline constexpr char kWriteFailedText[] = "程序烧写操作失败，请检查boot0引脚并手动复位电路！！！";
inline constexpr char kBlockFailedText[] = "烧写操作失败，请检查boot0引脚并手动复位电路！！！";
inline constexpr char kGoFailedText[] = "运行（GO）操作失败，请检查boot0引脚并手动复位电路！！！";
// The Get reply listed neither erase command: nothing can be erased.
inline constexpr char kNoEraseCommandText[] =
    "Bootloader既不提供Erase（0x43）也不提供Extended Erase（0x44）命令，无法擦除！！！";
inline constexpr char kNotBlankText[] = "芯片不空，请重新擦除！";
// Terminal sends wait while the bootloader answers: a byte of the terminal
// would join a command frame and the rest of the reply would be lost.
inline constexpr char kTerminalBusyText[] = "ISP操作进行中，终端暂不发送，请稍后再试！";
