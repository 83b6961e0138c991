// Array files: the file I/O around the array text (see arraytext.h).
//
// Writing replaces the file through a temporary file beside it that is
// renamed over the old one, so a failed write never leaves a truncated or
// half-written file. A symbolic link is written through (its target is
// replaced, the link kept); a name that leads to anything but a regular file
// (a FIFO, a device, a directory) is refused and left alone, since the rename
// would replace it.
//
// Reading hands the file to the parser in fixed-size chunks and stops as soon
// as the parser has the numbers it needs (reading at most one chunk beyond the
// last of them), so a huge file costs no more memory than a small one. The
// caller's array is written only when every number was read and valid. Only
// regular files are read: a FIFO or a device could block the reader or feed it
// without end, so such names are refused before anything is read, without
// waiting for a writer.
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QString>
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#if !defined(Q_OS_WIN) && !defined(_WIN32)
#define ORV_POSIX_FILES 1
#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "runtime/files/arraytext.h"
#include "runtime/rtcore.h"

namespace {

int lastErrorIndex = 0;

// The reader's bounds: its staging buffer holds at most kMaxReadElements
// numbers (4 MiB); the file is read kChunkSize bytes at a time.
constexpr int kMaxReadElements = 1 << 20;
constexpr std::size_t kChunkSize = 4096;

// A regular file read sequentially in chunks of kChunkSize bytes.
class ChunkReader {
  public:
    ChunkReader() = default;
    ChunkReader(const ChunkReader&) = delete;
    ChunkReader& operator=(const ChunkReader&) = delete;
    ~ChunkReader() {
#ifdef ORV_POSIX_FILES
        if (fd_ >= 0) {
            ::close(fd_);
        }
#endif
    }

    // Opens a regular file: 0, FILE_ERR_OPEN or FILE_ERR_NOT_FILE.
    int Open(const char* fileName) {
#ifdef ORV_POSIX_FILES
        // Look before opening: opening a device can have effects of its own
        // (a terminal, a tape). The descriptor is looked at again after the
        // open in case the name was replaced in between. O_NONBLOCK keeps the
        // open from waiting for a FIFO's writer; it stays set, so a file that
        // only claims to be regular (some /proc entries) cannot block a read.
        struct stat st {};
        if (::stat(fileName, &st) == 0 && !S_ISREG(st.st_mode)) {
            return FILE_ERR_NOT_FILE;
        }
        fd_ = ::open(fileName, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd_ < 0) {
            return FILE_ERR_OPEN;
        }
        if (::fstat(fd_, &st) != 0) {
            return FILE_ERR_OPEN;
        }
        return S_ISREG(st.st_mode) ? 0 : FILE_ERR_NOT_FILE;
#else
        const QString path = QFile::decodeName(fileName);
        const QFileInfo info(path);
        if (info.exists() && !info.isFile()) {
            return FILE_ERR_NOT_FILE;
        }
        file_.setFileName(path);
        return file_.open(QIODevice::ReadOnly) ? 0 : FILE_ERR_OPEN;
#endif
    }

    // The next chunk: its size, 0 at the end of the file, -1 on a read error.
    long long Read() {
        return ReadSome(buffer_.data(), buffer_.size());
    }
    const char* Data() const {
        return buffer_.data();
    }

  private:
    // One read of at most `size` bytes: the count, 0 at the end, -1 on error.
    long long ReadSome(char* to, std::size_t size) {
#ifdef ORV_POSIX_FILES
        for (;;) {
            const ssize_t got = ::read(fd_, to, size);
            if (got >= 0 || errno != EINTR) {
                return got;
            }
        }
#else
        return file_.read(to, static_cast<qint64>(size));
#endif
    }

#ifdef ORV_POSIX_FILES
    int fd_ = -1;
#else
    QFile file_;
#endif
    std::array<char, kChunkSize> buffer_{};
};

}  // namespace

int ArrayToFile(const char* fileName, const void* array, int dataType, int numberOfElements,
                int numberOfGroups, int arrayDataOrder, int fileLayout, int columnSeparation, int fieldWidth,
                int fileType, int fileAction) {
    std::string text;
    if (fileName == nullptr || fileName[0] == '\0' ||
        !orv_rt::ArrayShapeValid(array, dataType, numberOfElements, numberOfGroups, arrayDataOrder,
                                 fileType) ||
        fileLayout != 0 || columnSeparation != 0 || fileAction != FILE_TRUNCATE ||
        !orv_rt::FormatArrayText(array, dataType, numberOfElements, numberOfGroups, fieldWidth, text)) {
        return FILE_ERR_ARGS;
    }

    // QSaveFile follows symbolic links to the file they name and renames its
    // temporary file over that; anything but a regular file there (a FIFO, a
    // device, a directory) would be replaced by the rename, so it is refused.
    const QString path = QFile::decodeName(fileName);
    const QFileInfo target(path);
    if (target.exists() && !target.isFile()) {
        return FILE_ERR_NOT_FILE;
    }

    // QSaveFile (Qt 6.4) commits even after a failed buffered write, so the
    // file is written unbuffered and every result is checked before commit.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        return FILE_ERR_WRITE;
    }
    const auto size = static_cast<qint64>(text.size());
    if (file.write(text.data(), size) != size || !file.flush() || file.error() != QFileDevice::NoError) {
        file.cancelWriting();
        file.commit();  // discards the temporary file
        return FILE_ERR_WRITE;
    }
    if (!file.commit()) {
        return FILE_ERR_WRITE;
    }
    return 0;
}

int FileToArray(const char* fileName, void* array, int dataType, int numberOfElements, int numberOfGroups,
                int arrayDataOrder, int fileLayout, int fileType) {
    lastErrorIndex = 0;
    if (fileName == nullptr || fileName[0] == '\0' ||
        !orv_rt::ArrayShapeValid(array, dataType, numberOfElements, numberOfGroups, arrayDataOrder,
                                 fileType) ||
        numberOfElements > kMaxReadElements || fileLayout != 0) {
        return FILE_ERR_ARGS;
    }

    ChunkReader in;
    const int opened = in.Open(fileName);
    if (opened != 0) {
        return opened;
    }
    std::vector<uint32_t> values(static_cast<std::size_t>(numberOfElements));
    orv_rt::ArrayTextParser parser;
    orv_rt::ArrayTextBegin(parser, dataType, values.data(), numberOfElements);
    int rc = orv_rt::ARRAY_TEXT_MORE;
    while (rc == orv_rt::ARRAY_TEXT_MORE) {
        const long long got = in.Read();
        if (got < 0) {
            return FILE_ERR_OPEN;
        }
        rc = got == 0 ? orv_rt::ArrayTextEnd(parser)
                      : orv_rt::ArrayTextFeed(parser, in.Data(), static_cast<std::size_t>(got));
    }
    lastErrorIndex = orv_rt::ArrayTextErrorIndex(parser);
    if (rc != 0) {
        return rc;
    }
    // Both element types are 32 bits wide; the bit patterns copy unchanged.
    std::memcpy(array, values.data(), values.size() * sizeof(uint32_t));
    return 0;
}

int ArrayFileErrorIndex() {
    return lastErrorIndex;
}
