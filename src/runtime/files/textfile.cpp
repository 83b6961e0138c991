// Text files written line by line while they grow. Writes are buffered; the
// caller decides when they reach the operating system (FlushTextFile), so a
// record can be written at the pace of its samples without a system call per
// line and still lose no more than the time between two flushes.
#include <QFile>
#include <QFileInfo>
#include <array>
#include <memory>

#include "runtime/rtcore.h"

namespace {

std::array<std::unique_ptr<QFile>, MAX_TEXT_FILES> textFiles;

QFile* Slot(int handle) {
    if (handle < 0 || handle >= MAX_TEXT_FILES)
        return nullptr;
    return textFiles[static_cast<std::size_t>(handle)].get();
}

}  // namespace

int OpenTextFile(const char* fileName, int fileAction) {
    if (!fileName || !fileName[0] || (fileAction != FILE_TRUNCATE && fileAction != FILE_APPEND))
        return FILE_ERR_ARGS;
    const QString path = QFile::decodeName(fileName);
    const QFileInfo info(path);
    // Only a regular file: opening a FIFO would block until a reader comes,
    // and a device can have effects of its own.
    if (info.exists() && !info.isFile())
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
    auto file = std::make_unique<QFile>(path);
    const QIODevice::OpenMode mode =
        QIODevice::WriteOnly | (fileAction == FILE_APPEND ? QIODevice::Append : QIODevice::Truncate);
    if (!file->open(mode))
        return FILE_ERR_OPEN;
    textFiles[static_cast<std::size_t>(free)] = std::move(file);
    return free;
}

int AppendTextFile(int handle, const char* text, int length) {
    QFile* f = Slot(handle);
    if (!f || !text || length < 0)
        return FILE_ERR_ARGS;
    return f->write(text, length) == length ? 0 : FILE_ERR_WRITE;
}

int FlushTextFile(int handle) {
    QFile* f = Slot(handle);
    if (!f)
        return FILE_ERR_ARGS;
    return f->flush() && f->error() == QFileDevice::NoError ? 0 : FILE_ERR_WRITE;
}

int CloseTextFile(int handle) {
    QFile* f = Slot(handle);
    if (!f)
        return FILE_ERR_ARGS;
    const bool ok = f->flush() && f->error() == QFileDevice::NoError;
    f->close();
    textFiles[static_cast<std::size_t>(handle)].reset();
    return ok ? 0 : FILE_ERR_WRITE;
}
