#include "file_loading.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "ChipLoad.h"
#include "hex_reader.h"
#include "operator_messages.h"
#include "panel_handles.h"
#include "program_image.h"
#include "rte.h"
#include "session.h"

unsigned char* f_temp = nullptr;
long imageBufferBytes = IMAGE_SIZE;
int binLength = 0;
int HEXFileHandle = -1;

namespace {

enum { LINE_BUFFER_SIZE = 256, MESSAGE_SIZE = 512 };

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

// A fresh zero-filled image at the flash base (a HEX file moves it); false
// (and the operator told) when memory is short.
bool ReplaceImage() {
    ReleaseProgramImage();
    imageBaseAddress = FLASH_BASE_ADDR;
    imageBufferBytes = ImageCapacity();
    f_temp =
        static_cast<unsigned char*>(std::calloc(static_cast<std::size_t>(imageBufferBytes), 1));
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
    if (size > imageBufferBytes) {
        if (imageBufferBytes == IMAGE_SIZE) {
            ReportLoadFailure("文件大小超过128KB（131072字节），无法加载！！！");
        } else {
            char text[MESSAGE_SIZE];
            std::snprintf(text, sizeof text, "文件大小超过芯片FLASH容量（%ld字节），无法加载！！！",
                          imageBufferBytes);
            ReportLoadFailure(text);
        }
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

// Where a HEX file may place data: the identified chip's flash, else the
// first 128 KiB; never more than the image holds.
isp::FlashLimits ImageLimits() {
    const auto imageBytes = static_cast<std::uint32_t>(imageBufferBytes);
    const std::uint32_t flash = STM32_info.flash_size_kb * 1024u;
    const std::uint32_t size = flash > 0 && flash < imageBytes ? flash : imageBytes;
    return isp::FlashLimits{FLASH_BASE_ADDR, size};
}

void ReportHexSyntax(const isp::HexSyntaxError& error) {
    const int lineNumber = static_cast<int>(error.line);
    if (error.kind == isp::HexErrorKind::kNoStartCode) {
        SetStatus("HEX文件数据格式错误，无法定位!!!");
    } else if (error.kind == isp::HexErrorKind::kBadChecksum) {
        char text[MESSAGE_SIZE];
        Fmt(text, "%s<%s%d%s", "HEX文件第", lineNumber, "行校验和错误，退出转换！！");
        LogLine(text);
    } else {
        ReportLineFailure(lineNumber, "行记录格式错误，退出转换！！");
    }
}

void ReportImageRefusal(const isp::ImageError& error, const isp::FlashLimits& limits) {
    char text[MESSAGE_SIZE];
    const unsigned address = error.address.value_or(0);
    if (error.kind == isp::ImageErrorKind::kOutsideFlash) {
        Fmt(text, "%s<HEX文件第%d行数据地址0x%08X超出FLASH范围（0x%08X～0x%08X），退出转换！！",
            static_cast<int>(error.line), address, static_cast<unsigned>(limits.base),
            static_cast<unsigned>(limits.base + limits.size - 1));
    } else if (error.kind == isp::ImageErrorKind::kOverlap) {
        Fmt(text, "%s<HEX文件第%d行数据地址0x%08X与前面的数据重叠，退出转换！！",
            static_cast<int>(error.line), address);
    } else {
        Fmt(text, "%s<%s", "HEX文件中没有数据记录，退出转换！！");
    }
    ReportLoadFailure(text);
}

}  // namespace

int imageBaseAddress = FLASH_BASE_ADDR;

void ReleaseProgramImage(void) {
    std::free(f_temp);
    f_temp = nullptr;
}

void ResetProgramImage(void) {
    ReleaseProgramImage();
    binLength = 0;
    imageBaseAddress = FLASH_BASE_ADDR;
    CloseHexFile(&HEXFileHandle);
}

int hex2bin(int* fileHandle, unsigned char* image, int* byteCount) {
    LogLine("开始转换HEX文件至BIN文件：");
    std::vector<isp::HexRecord> records;
    bool ended = false;
    char line[LINE_BUFFER_SIZE];
    for (int lineNumber = 1; !ended; lineNumber++) {
        const int read = ReadLine(*fileHandle, line, LINE_BUFFER_SIZE - 1);
        if (read > LINE_BUFFER_SIZE - 1) {
            ReportLineFailure(lineNumber, "行过长（超过255个字符），退出转换！！");
            CloseHexFile(fileHandle);
            return 0;
        }
        if (read == -1) {
            ReportLoadFailure("文件读取失败！！！");
            CloseHexFile(fileHandle);
            return 0;
        }
        // A line too short for a record ends the file, as it always has.
        const int length = read < 0 ? read : TrimLineEnd(line, read);
        if (length < kMinRecordLength) {
            break;
        }
        auto parsed =
            isp::parseHexRecords(std::string_view(line, static_cast<std::size_t>(length)));
        if (const auto* error = std::get_if<isp::HexSyntaxError>(&parsed)) {
            ReportHexSyntax({error->kind, static_cast<std::size_t>(lineNumber)});
            CloseHexFile(fileHandle);
            return 0;
        }
        for (isp::HexRecord& record : std::get<std::vector<isp::HexRecord>>(parsed)) {
            record.line = static_cast<std::size_t>(lineNumber);
            ended = record.type == isp::HexRecordType::kEndOfFile;
            records.push_back(std::move(record));
        }
    }
    const isp::FlashLimits limits = ImageLimits();
    const isp::ImageResult built = isp::buildHexImage(records, limits);
    if (const auto* error = std::get_if<isp::ImageError>(&built)) {
        ReportImageRefusal(*error, limits);
        CloseHexFile(fileHandle);
        return 0;
    }
    const isp::Image& loaded = std::get<isp::Image>(built);
    std::memcpy(image, loaded.bytes.data(), loaded.bytes.size());
    *byteCount = static_cast<int>(loaded.bytes.size());
    imageBaseAddress = static_cast<int>(loaded.base);
    if (ended) {
        LogLine("转换完毕！！");
    }
    return 1;
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
    if (loaded && binLength <= 0) {
        ReportLoadFailure("文件中没有程序数据，未加载！！！");
        loaded = false;
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
