// Entry points: files by handle, and the line reader.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>

#include "rte.h"

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::shared_ptr<std::FILE>;

class FileTable {
  public:
    int add(std::FILE* f) {
        std::lock_guard lock(mutex_);
        const int handle = next_++;
        files_.emplace(handle, File(f, FileCloser{}));
        return handle;
    }
    File find(int handle) {
        std::lock_guard lock(mutex_);
        const auto it = files_.find(handle);
        return it == files_.end() ? nullptr : it->second;
    }
    bool remove(int handle) {
        std::lock_guard lock(mutex_);
        return files_.erase(handle) == 1;  // closed when the last user lets go
    }

  private:
    std::mutex mutex_;
    std::map<int, File> files_;
    int next_ = 1;
};

FileTable& Files() {
    static FileTable table;
    return table;
}

const char* ModeFor(int action, int writeMode) {
    switch (action) {
        case RTE_FILE_READ:
            return "rb";
        case RTE_FILE_WRITE:
            return writeMode == RTE_FILE_APPEND ? "ab" : "wb";
        case RTE_FILE_READ_WRITE:
            return writeMode == RTE_FILE_APPEND     ? "a+b"
                   : writeMode == RTE_FILE_TRUNCATE ? "w+b"
                                                    : "r+b";
        default:
            return nullptr;
    }
}

}  // namespace

int RTE_OpenFile(const char* path, int action, int writeMode, int /*type*/) {
    const char* mode = ModeFor(action, writeMode);
    if (path == nullptr || *path == '\0' || mode == nullptr) {
        return -1;
    }
    std::FILE* f = std::fopen(path, mode);
    if (f == nullptr && action == RTE_FILE_READ_WRITE && writeMode == RTE_FILE_OPEN_AS_IS &&
        errno == ENOENT) {
        f = std::fopen(path, "w+b");
    }
    if (f == nullptr) {
        return -1;
    }
    struct stat st {};
    if (fstat(fileno(f), &st) != 0 || S_ISDIR(st.st_mode)) {
        std::fclose(f);
        return -1;
    }
    return Files().add(f);
}

int RTE_ReadFile(int handle, char* buffer, int count) {
    const File f = Files().find(handle);
    if (!f || buffer == nullptr || count < 0) {
        return -1;
    }
    const std::size_t n = std::fread(buffer, 1, static_cast<std::size_t>(count), f.get());
    if (n == 0 && std::ferror(f.get()) != 0) {
        return -1;
    }
    return static_cast<int>(n);
}

int ReadLine(int handle, char* buffer, int maximum) {
    const File f = Files().find(handle);
    if (!f || buffer == nullptr || maximum < 0) {
        return -1;
    }
    std::FILE* in = f.get();
    int length = 0;
    int c = std::getc(in);
    if (c == EOF) {
        buffer[0] = '\0';
        return std::ferror(in) != 0 ? -1 : -2;
    }
    while (c != EOF && c != '\n' && c != '\r') {
        if (length < maximum) {
            buffer[length] = static_cast<char>(c);
        }
        if (length < INT32_MAX) {
            ++length;
        }
        c = std::getc(in);
    }
    if (c == '\r') {
        const int next = std::getc(in);
        if (next != '\n' && next != EOF) {
            std::ungetc(next, in);
        }
    }
    buffer[length < maximum ? length : maximum] = '\0';
    if (c == EOF && std::ferror(in) != 0) {
        return -1;
    }
    return length;
}

int RTE_CloseFile(int handle) {
    return Files().remove(handle) ? 0 : -1;
}

int GetFileInfo(const char* path, long* fileSize) {
    if (path == nullptr) {
        return -1;
    }
    struct stat st {};
    if (stat(path, &st) != 0) {
        if (fileSize != nullptr) {
            *fileSize = 0;
        }
        return errno == ENOENT || errno == ENOTDIR ? 0 : -1;
    }
    if (fileSize != nullptr) {
        *fileSize = static_cast<long>(st.st_size);
    }
    return 1;
}
