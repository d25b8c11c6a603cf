// Bytes done, rate and time left of a long flash operation, in the status line.
#pragma once

#include <string>

// "已烧写 12288/65536 字节，24.0 KB/s，剩余 2 秒": `verb` names the operation;
// the rate and time left show as "--" until some time has passed.
std::string FormatProgress(const char* verb, long done, long total, double elapsedSeconds);

// Starts timing an operation of `total` bytes.
void ProgressBegin(const char* verb, long total);
// Shows how far it got, at most a few times a second but always at the end.
// Any thread may call it.
void ProgressReport(long done);
