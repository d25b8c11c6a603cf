#include "file_loading.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "ChipLoad.h"
#include "hex_reader.h"
#include "hex_writer.h"
#include "operator_messages.h"
#include "panel_handles.h"
#include "program_image.h"
#include "read_exchange.h"
#include "rte.h"
#include "rte_language.h"
#include "session.h"
#include "whole_file.h"

unsigned char* f_temp = nullptr;
long imageBufferBytes = IMAGE_SIZE;
int binLength = 0;
int HEXFileHandle = -1;

namespace {

// Stretches of the image no file gave bytes for; they take the erased value
// of the part that is programmed.
std::vector<isp::AddressRange> imageFiller;

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
    Fmt(text, "%s<%s%d%s", RTE_Translate("HEX文件第"), lineNumber, RTE_Translate(reason));
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
    Fmt(text, "%s<%s%s%s", RTE_Translate(before), path, RTE_Translate(after));
    MessagePopup("系统提示", text);
}

// A fresh zero-filled image at the flash base (a HEX file moves it); false
// (and the operator told) when memory is short.
bool ReplaceImage() {
    ReleaseProgramImage();
    imageFiller.clear();
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
            std::snprintf(text, sizeof text,
                          RTE_Translate("文件大小超过芯片FLASH容量（%ld字节），无法加载！！！"),
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
        Fmt(text, "%s<%s%d%s", RTE_Translate("HEX文件第"), lineNumber,
            RTE_Translate("行校验和错误，退出转换！！"));
        LogLine(text);
    } else {
        ReportLineFailure(lineNumber, "行记录格式错误，退出转换！！");
    }
}

void ReportImageRefusal(const isp::ImageError& error, const isp::FlashLimits& limits) {
    char text[MESSAGE_SIZE];
    const unsigned address = error.address.value_or(0);
    if (error.kind == isp::ImageErrorKind::kOutsideFlash) {
        Fmt(text,
            RTE_Translate(
                "%s<HEX文件第%d行数据地址0x%08X超出FLASH范围（0x%08X～0x%08X），退出转换！！"),
            static_cast<int>(error.line), address, static_cast<unsigned>(limits.base),
            static_cast<unsigned>(limits.base + limits.size - 1));
    } else if (error.kind == isp::ImageErrorKind::kOverlap) {
        Fmt(text, RTE_Translate("%s<HEX文件第%d行数据地址0x%08X与前面的数据重叠，退出转换！！"),
            static_cast<int>(error.line), address);
    } else {
        Fmt(text, "%s<%s", "HEX文件中没有数据记录，退出转换！！");
    }
    ReportLoadFailure(text);
}

bool NamesHexFile(std::string_view path) {
    const std::size_t dot = path.rfind('.');
    if (dot == std::string_view::npos || path.find('/', dot) != std::string_view::npos) {
        return false;
    }
    std::string extension(path.substr(dot + 1));
    for (char& c : extension) {
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    return extension == "hex" || extension == "ihx";
}

// The file behind the loaded image, so that the next board can be programmed
// from it without loading it again, and a change on disk is noticed.
struct LoadedFile {
    std::string path;
    int fileType = 0;
    std::filesystem::file_time_type modified{};
    std::uintmax_t size = 0;
};
LoadedFile loadedFile;

// Where the operator last chose a file: the next dialog opens there.
std::string lastFolder;

void RememberFolder(const char* path) {
    lastFolder = std::filesystem::path(path).parent_path().string();
}

bool StatFile(const std::string& path, std::filesystem::file_time_type* modified,
              std::uintmax_t* size) {
    std::error_code error;
    *modified = std::filesystem::last_write_time(path, error);
    if (error) {
        return false;
    }
    *size = std::filesystem::file_size(path, error);
    return !error;
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
    imageFiller.clear();
    CloseHexFile(&HEXFileHandle);
    loadedFile = LoadedFile{};
    lastFolder.clear();
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
    imageFiller = loaded.filler;
    if (ended) {
        LogLine("转换完毕！！");
    }
    return 1;
}

namespace {

// Loads path as fileType (0 HEX, 1 raw binary) into a fresh image; the pop-up
// of success only when the operator chose the file.
bool LoadImageFile(const char* path, int fileType, bool announce) {
    if (!OpenChosenFile(path)) {
        RTE_Beep();
        PopupWithPath("HEX数据文件", path, "不能打开！！！");
        return false;
    }
    LoadedFile found{path, fileType, {}, 0};
    const bool stated = StatFile(found.path, &found.modified, &found.size);
    SetCtrlVal(ispTabPanel, TABISP_HEXPATH, path);
    SetStatus("文件读取中。。。");
    LogLine("文件读取中。。。");
    binLength = 0;
    loadedFile = LoadedFile{};
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
        return false;
    }
    if (stated) {
        loadedFile = found;
    }
    sub_write_byte_number = binLength;
    char size[32];
    Fmt(size, "%s<%i%s", binLength / 1024, "KB");
    SetCtrlVal(ispTabPanel, TABISP_FILESIZE, size);
    SetStatus("文件读取完成");
    LogLine("文件读取完成");
    if (announce) {
        PopupWithPath("HEX数据文件", path, "读出成功！！！");
    }
    CloseHexFile(&HEXFileHandle);
    RTE_Beep();
    return true;
}

}  // namespace

bool ProgramImageCurrent(void) {
    if (loadedFile.path.empty()) {
        return true;
    }
    std::filesystem::file_time_type modified{};
    std::uintmax_t size = 0;
    if (StatFile(loadedFile.path, &modified, &size) && modified == loadedFile.modified &&
        size == loadedFile.size) {
        return true;
    }
    const std::string path = loadedFile.path;
    char text[MESSAGE_SIZE];
    Fmt(text, "%s<%s%s%s", RTE_Translate("文件"), path.c_str(),
        RTE_Translate("已在磁盘上改变，重新加载"));
    LogLine(text);
    return LoadImageFile(path.c_str(), loadedFile.fileType, false);
}

bool FitProgramImageToTarget(void) {
    if (f_temp == nullptr || binLength <= 0) {
        return true;
    }
    isp::Image image;
    image.base = static_cast<std::uint32_t>(imageBaseAddress);
    image.bytes.assign(f_temp, f_temp + binLength);
    image.filler = imageFiller;
    const isp::PartFit part{static_cast<std::uint32_t>(WriteUnitBytes()), TargetErasedByte()};
    auto fitted = isp::fitImageToPart(std::move(image), part, {FLASH_BASE_ADDR, 0});
    if (std::holds_alternative<isp::ImageError>(fitted)) {
        char text[MESSAGE_SIZE];
        std::snprintf(
            text, sizeof text,
            RTE_Translate("程序起始地址0x%08X不在%u字节写入单元的边界上，且在前面补齐会超出"
                          "FLASH范围，无法烧写！！！"),
            static_cast<unsigned>(imageBaseAddress), part.writeUnit);
        MessagePopup("告警", text);
        return false;
    }
    isp::Image& ready = std::get<isp::Image>(fitted);
    const auto length = static_cast<long>(ready.bytes.size());
    if (length > imageBufferBytes) {
        auto* larger =
            static_cast<unsigned char*>(std::calloc(static_cast<std::size_t>(length), 1));
        if (larger == nullptr) {
            MessagePopup("告警", "内存不足，无法分配程序缓冲区！！！");
            return false;
        }
        ReleaseProgramImage();
        f_temp = larger;
        imageBufferBytes = length;
    }
    std::memcpy(f_temp, ready.bytes.data(), ready.bytes.size());
    binLength = static_cast<int>(length);
    imageBaseAddress = static_cast<int>(ready.base);
    imageFiller = std::move(ready.filler);
    return true;
}

int loadFile(int /*panel*/, int /*control*/, int event, void* /*callbackData*/, int /*eventData1*/,
             int /*eventData2*/) {
    if (event != EVENT_COMMIT) {
        return 0;
    }
    int fileType = 0;
    GetCtrlVal(ispTabPanel, TABISP_FILETYPE, &fileType);
    const bool binary = fileType == 1;
    const char* pattern = binary ? "*.bin" : "*.hex *.ihx";
    char path[RTE_MAX_PATHNAME_LEN];
    if (FileSelectPopup(lastFolder.c_str(), pattern, pattern,
                        binary ? "选择BIN文件（二进制）" : "选择HEX文件", 2, 0, 0, 1, 0, path,
                        sizeof path) <= 0) {
        return 0;
    }
    RememberFolder(path);
    LoadImageFile(path, fileType, true);
    return 0;
}

int saveFile(int /*panel*/, int /*control*/, int event, void* /*callbackData*/, int /*eventData1*/,
             int /*eventData2*/) {
    if (event != EVENT_COMMIT) {
        return 0;
    }
    std::vector<unsigned char> bytes;
    std::uint32_t base = 0;
    if (!CopyLastReadBack(&bytes, &base)) {
        MessagePopup("系统提示", "还没有读取FLASH，没有可保存的数据！！！");
        return 0;
    }
    char path[RTE_MAX_PATHNAME_LEN];
    if (FileSelectPopup(lastFolder.c_str(), "*.bin", "*.bin;*.hex *.ihx", "保存读出的FLASH数据", 1,
                        0, 0, 1, 1, path, sizeof path) <= 0) {
        return 0;
    }
    RememberFolder(path);
    const std::string content =
        NamesHexFile(path) ? isp::toIntelHex(base, bytes) : std::string(bytes.begin(), bytes.end());
    if (!isp::writeWholeFile(path, content)) {
        RTE_Beep();
        PopupWithPath("文件", path, "不能写入！！！");
        return 0;
    }
    char text[MESSAGE_SIZE];
    Fmt(text, "%s<%s%s%s%d%s%08X", RTE_Translate("已保存至"), path, RTE_Translate("："),
        static_cast<int>(bytes.size()), RTE_Translate("字节，起始地址0x"),
        static_cast<unsigned>(base));
    SetStatus("文件保存完成");
    LogLine(text);
    return 0;
}
