#include "file_loading.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "ChipLoad.h"
#include "TideComm.h"
#include "operator_messages.h"
#include "panel_handles.h"
#include "program_image.h"
#include "rte.h"
#include "session.h"

unsigned char* f_temp = nullptr;
int binLength = 0;
int HEXFileHandle = -1;

namespace {

enum { LINE_BUFFER_SIZE = 256, MESSAGE_SIZE = 512, RECORD_DATA = 0x00, RECORD_EOF = 0x01 };

// Shortest line that can hold a record: ':', count, address, type, checksum.
constexpr int kMinRecordLength = 11;

void CloseHexFile(int* fileHandle) {
    if (*fileHandle > 0) {
        RTE_CloseFile(*fileHandle);
    }
    *fileHandle = -1;
}

void ReportLoadFailure(const char* text) {
    SetStatus(text);
    LogLine(text);
}

void ReportLineFailure(int lineNumber, const char* reason) {
    char text[MESSAGE_SIZE];
    Fmt(text, "%s<%s%d%s", "HEX文件第", lineNumber, reason);
    ReportLoadFailure(text);
}

int PairValue(const char* text) {
    return TideComm_HexToInt(text, 2) & 0xFF;
}

bool AllHexDigits(const char* text, int length) {
    for (int i = 0; i < length; i++) {
        if (std::isxdigit(static_cast<unsigned char>(text[i])) == 0) {
            return false;
        }
    }
    return true;
}

// Line ends and trailing blanks are not part of the record, whichever tool wrote it.
int TrimLineEnd(char* line, int length) {
    while (length > 0 &&
           (line[length - 1] == '\r' || line[length - 1] == ' ' || line[length - 1] == '\t')) {
        line[--length] = '\0';
    }
    return length;
}

bool OpenChosenFile(const char* path) {
    CloseHexFile(&HEXFileHandle);
    HEXFileHandle = RTE_OpenFile(path, RTE_FILE_READ, RTE_FILE_OPEN_AS_IS, RTE_FILE_BINARY);
    if (HEXFileHandle <= 0) {
        HEXFileHandle = -1;
        return false;
    }
    return true;
}

void PopupWithPath(const char* before, const char* path, const char* after) {
    char text[MESSAGE_SIZE];
    Fmt(text, "%s<%s%s%s", before, path, after);
    MessagePopup("系统提示", text);
}

// A fresh zero-filled image; false (and the operator told) when memory is short.
bool ReplaceImage() {
    ReleaseProgramImage();
    f_temp = static_cast<unsigned char*>(std::calloc(IMAGE_SIZE, 1));
    if (f_temp == nullptr) {
        binLength = 0;
        sub_write_byte_number = 0;
        ReportLoadFailure("内存不足，无法分配程序缓冲区！！！");
        return false;
    }
    return true;
}

// Reads the whole open file into the image; false when it is larger than the
// image or cannot be read.
bool ReadRawFile(const char* path, int* length) {
    long size = 0;
    if (GetFileInfo(path, &size) != 1) {
        ReportLoadFailure("文件读取失败！！！");
        return false;
    }
    if (size > IMAGE_SIZE) {
        ReportLoadFailure("文件大小超过128KB（131072字节），无法加载！！！");
        return false;
    }
    const int read =
        RTE_ReadFile(HEXFileHandle, reinterpret_cast<char*>(f_temp), static_cast<int>(size));
    if (read < 0) {
        ReportLoadFailure("文件读取失败！！！");
        return false;
    }
    *length = read;
    return true;
}

}  // namespace

void ReleaseProgramImage(void) {
    std::free(f_temp);
    f_temp = nullptr;
}

void ResetProgramImage(void) {
    ReleaseProgramImage();
    binLength = 0;
    CloseHexFile(&HEXFileHandle);
}

int hex2bin(int* fileHandle, unsigned char* image, int* byteCount) {
    LogLine("开始转换HEX文件至BIN文件：");
    char line[LINE_BUFFER_SIZE];
    int lineCounter = 0;
    int offset = 0;
    for (;;) {
        const int read = ReadLine(*fileHandle, line, LINE_BUFFER_SIZE - 1);
        if (read > LINE_BUFFER_SIZE - 1) {
            ReportLineFailure(lineCounter + 1, "行过长（超过255个字符），退出转换！！");
            CloseHexFile(fileHandle);
            return 0;
        }
        const int length = read < 0 ? read : TrimLineEnd(line, read);
        if (length < kMinRecordLength) {
            return 1;
        }
        StringUpperCase(line);
        if (line[0] != ':') {
            SetStatus("HEX文件数据格式错误，无法定位!!!");
            CloseHexFile(fileHandle);
            return 0;
        }
        const int count = PairValue(line + 1);
        if (length != kMinRecordLength + 2 * count || !AllHexDigits(line + 1, length - 1)) {
            ReportLineFailure(lineCounter + 1, "行记录格式错误，退出转换！！");
            CloseHexFile(fileHandle);
            return 0;
        }
        int sum = 0;
        for (int position = 1; position < length; position += 2) {
            sum += PairValue(line + position);
        }
        if ((sum & 0xFF) != 0) {
            char text[MESSAGE_SIZE];
            Fmt(text, "%s<%s%d%s", "HEX文件第", lineCounter + 1, "行校验和错误，退出转换！！");
            LogLine(text);
            CloseHexFile(fileHandle);
            return 0;
        }
        lineCounter++;
        const int type = PairValue(line + 7);
        if (type == RECORD_DATA) {
            if (offset + count > IMAGE_SIZE) {
                ReportLoadFailure("HEX文件数据超过128KB（131072字节），退出转换！！");
                CloseHexFile(fileHandle);
                return 0;
            }
            *byteCount += count;
            for (int i = 0; i < count; i++) {
                image[offset++] = static_cast<unsigned char>(PairValue(line + 9 + 2 * i));
            }
        } else if (type == RECORD_EOF) {
            LogLine("转换完毕！！");
            return 1;
        }
    }
}

int loadFile(int /*panel*/, int /*control*/, int event, void* /*callbackData*/, int /*eventData1*/,
             int /*eventData2*/) {
    if (event != EVENT_COMMIT) {
        return 0;
    }
    char path[RTE_MAX_PATHNAME_LEN];
    if (FileSelectPopup("", "*.hex", "*.hex", "选择HEX文件", 2, 0, 0, 1, 0, path, sizeof path) <=
        0) {
        return 0;
    }
    if (!OpenChosenFile(path)) {
        RTE_Beep();
        PopupWithPath("HEX数据文件", path, "不能打开！！！");
        return 0;
    }
    SetCtrlVal(ispTabPanel, TABISP_HEXPATH, path);
    SetStatus("文件读取中。。。");
    LogLine("文件读取中。。。");
    int fileType = 0;
    GetCtrlVal(ispTabPanel, TABISP_FILETYPE, &fileType);
    binLength = 0;
    bool loaded = ReplaceImage();
    if (loaded && fileType == 0) {
        loaded = hex2bin(&HEXFileHandle, f_temp, &binLength) == 1;
    } else if (loaded && fileType == 1) {
        loaded = ReadRawFile(path, &binLength);
    }
    if (!loaded) {
        sub_write_byte_number = 0;
        CloseHexFile(&HEXFileHandle);
        return 0;
    }
    sub_write_byte_number = binLength;
    char size[32];
    Fmt(size, "%s<%i%s", binLength / 1024, "KB");
    SetCtrlVal(ispTabPanel, TABISP_FILESIZE, size);
    SetStatus("文件读取完成");
    LogLine("文件读取完成");
    PopupWithPath("HEX数据文件", path, "读出成功！！！");
    CloseHexFile(&HEXFileHandle);
    RTE_Beep();
    return 0;
}

int saveFile(int /*panel*/, int /*control*/, int /*event*/, void* /*callbackData*/,
             int /*eventData1*/, int /*eventData2*/) {
    return 0;
}
