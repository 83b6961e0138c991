// Text files written line by line while they grow. Writes are buffered; the
// caller decides when they reach the operating system (FlushTextFile), so a
// record can be written at the pace of its samples without a system call per
// line and still lose no more than the time between two flushes.
#include <array>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "runtime/rtcore.h"

namespace {

std::array<std::FILE*, MAX_TEXT_FILES> textFiles{};

std::FILE* Slot(int handle) {
    if (handle < 0 || handle >= MAX_TEXT_FILES)
        return nullptr;
    return textFiles[static_cast<std::size_t>(handle)];
}

bool Flushed(std::FILE* f) {
    return std::fflush(f) == 0 && std::ferror(f) == 0;
}

}  // namespace

int OpenTextFile(const char* fileName, int fileAction) {
    if (!fileName || !fileName[0] || (fileAction != FILE_TRUNCATE && fileAction != FILE_APPEND))
        return FILE_ERR_ARGS;
    // Only a regular file: opening a FIFO would block until a reader comes,
    // and a device can have effects of its own.
    std::error_code ec;
    const std::filesystem::file_status st = std::filesystem::status(fileName, ec);
    if (std::filesystem::exists(st) && !std::filesystem::is_regular_file(st))
        return FILE_ERR_NOT_FILE;
    int free = -1;
    for (int k = 0; k < MAX_TEXT_FILES; ++k) {
        if (!textFiles[static_cast<std::size_t>(k)]) {
            free = k;
            break;
        }
    }
    if (free < 0)
        return FILE_ERR_WRITE;
    std::FILE* file = std::fopen(fileName, fileAction == FILE_APPEND ? "ab" : "wb");
    if (!file)
        return FILE_ERR_OPEN;
    textFiles[static_cast<std::size_t>(free)] = file;
    return free;
}

int AppendTextFile(int handle, const char* text, int length) {
    std::FILE* f = Slot(handle);
    if (!f || !text || length < 0)
        return FILE_ERR_ARGS;
    const auto n = static_cast<std::size_t>(length);
    return std::fwrite(text, 1, n, f) == n ? 0 : FILE_ERR_WRITE;
}

int FlushTextFile(int handle) {
    std::FILE* f = Slot(handle);
    if (!f)
        return FILE_ERR_ARGS;
    return Flushed(f) ? 0 : FILE_ERR_WRITE;
}

int CloseTextFile(int handle) {
    std::FILE* f = Slot(handle);
    if (!f)
        return FILE_ERR_ARGS;
    const bool ok = Flushed(f);
    const bool closed = std::fclose(f) == 0;
    textFiles[static_cast<std::size_t>(handle)] = nullptr;
    return ok && closed ? 0 : FILE_ERR_WRITE;
}
