// Array files: integer arrays as ASCII text.
//
// Writing puts each group on one line, its values separated by a tab and each
// right-aligned in the field width (a wider value is written whole). The file
// is replaced through a temporary file beside it that is renamed over the old
// one, so a failed write never leaves a truncated or half-written file. A
// symbolic link is written through (its target is replaced, the link kept);
// a name that leads to anything but a regular file (a FIFO, a device, a
// directory) is refused and left alone, since the rename would replace it.
//
// Reading takes the numbers in order, whatever whitespace or commas separate
// them and however they are split over lines, so files laid out in rows or in
// columns by other tools load too. Exactly the requested count is read and
// anything after it is ignored. The caller's array is written only when every
// number was read and valid.
//
// The reader takes the file in fixed-size chunks and stops as soon as it has
// the numbers it needs (reading at most one chunk beyond the last of them), so
// a huge file costs no more memory than a small one. A token longer than any
// number could be written fails at once. Only regular files are read: a FIFO
// or a device could block the reader or feed it without end, so such names are
// refused before anything is read, without waiting for a writer.
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QString>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstdio>
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

#include "runtime/runtime.h"

namespace {

int lastErrorIndex = 0;

bool ValidShape(const void* array, int dataType, int numberOfElements, int numberOfGroups, int arrayDataOrder,
                int fileType) {
    if (array == nullptr) {
        return false;
    }
    if (dataType != TYPE_INT && dataType != TYPE_UINT) {
        return false;
    }
    if (numberOfElements <= 0 || numberOfGroups <= 0 || numberOfElements % numberOfGroups != 0) {
        return false;
    }
    // Only "each group contiguous" and ASCII are provided.
    return arrayDataOrder == 0 && fileType == FILE_ASCII;
}

bool IsSeparator(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v' || c == ',';
}

// Parses one token as a number of the element type. Unsigned numbers take no
// sign; signed ones may carry a leading '-' or '+'. Out-of-range values fail.
bool ParseToken(const char* begin, const char* end, int dataType, uint32_t* out) {
    if (begin == end) {
        return false;
    }
    if (dataType == TYPE_UINT) {
        uint32_t v = 0;
        auto [ptr, ec] = std::from_chars(begin, end, v, 10);
        if (ec != std::errc() || ptr != end) {
            return false;
        }
        *out = v;
        return true;
    }
    const char* digits = begin;
    if (*digits == '+') {
        ++digits;
        if (digits == end || *digits == '-') {
            return false;
        }
    }
    int32_t v = 0;
    auto [ptr, ec] = std::from_chars(digits, end, v, 10);
    if (ec != std::errc() || ptr != end) {
        return false;
    }
    *out = static_cast<uint32_t>(v);
    return true;
}

// The reader's bounds: its staging buffer holds at most kMaxReadElements
// numbers (4 MiB), and a token may be this long (a number is at most 11
// characters; leading zeros are allowed up to the limit).
constexpr int kMaxReadElements = 1 << 20;
constexpr std::size_t kMaxTokenLength = 32;
constexpr std::size_t kChunkSize = 4096;

// A regular file read sequentially in chunks of kChunkSize bytes.
class ChunkReader {
  public:
    static constexpr int kEnd = -1;     // the end of the file
    static constexpr int kFailed = -2;  // a read error

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

    // At the start: reads until at least `count` (at most a chunk) bytes
    // wait or the file ends; false on a read error.
    bool Fill(std::size_t count) {
        while (len_ < count && !ended_) {
            const long long got = ReadSome(buffer_.data() + len_, buffer_.size() - len_);
            if (got < 0) {
                return false;
            }
            ended_ = got == 0;
            len_ += static_cast<std::size_t>(got);
        }
        return true;
    }

    std::size_t Available() const {
        return len_ - pos_;
    }
    const char* Peek() const {
        return buffer_.data() + pos_;
    }
    void Skip(std::size_t n) {
        pos_ += n;
    }

    // The next byte (0..255), kEnd or kFailed.
    int Next() {
        if (pos_ == len_) {
            if (ended_) {
                return kEnd;
            }
            len_ = 0;
            pos_ = 0;
            const long long got = ReadSome(buffer_.data(), buffer_.size());
            if (got < 0) {
                return kFailed;
            }
            if (got == 0) {
                ended_ = true;
                return kEnd;
            }
            len_ = static_cast<std::size_t>(got);
        }
        return static_cast<unsigned char>(buffer_[pos_++]);
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
    std::size_t pos_ = 0;
    std::size_t len_ = 0;
    bool ended_ = false;
};

}  // namespace

int ArrayToFile(const char* fileName, const void* array, int dataType, int numberOfElements,
                int numberOfGroups, int arrayDataOrder, int fileLayout, int columnSeparation, int fieldWidth,
                int fileType, int fileAction) {
    if (fileName == nullptr || fileName[0] == '\0' ||
        !ValidShape(array, dataType, numberOfElements, numberOfGroups, arrayDataOrder, fileType) ||
        fileLayout != 0 || columnSeparation != 0 || fileAction != FILE_TRUNCATE || fieldWidth < 0 ||
        fieldWidth > 64) {
        return FILE_ERR_ARGS;
    }

    const int perGroup = numberOfElements / numberOfGroups;
    std::string text;
    text.reserve(static_cast<std::size_t>(numberOfElements) * static_cast<std::size_t>(fieldWidth + 2));
    char field[80];
    for (int g = 0; g < numberOfGroups; ++g) {
        for (int j = 0; j < perGroup; ++j) {
            const int idx = g * perGroup + j;
            int n;
            if (dataType == TYPE_UINT) {
                const auto v = static_cast<const uint32_t*>(array)[idx];
                n = std::snprintf(field, sizeof field, "%*lu", fieldWidth, static_cast<unsigned long>(v));
            } else {
                const auto v = static_cast<const int32_t*>(array)[idx];
                n = std::snprintf(field, sizeof field, "%*ld", fieldWidth, static_cast<long>(v));
            }
            if (j > 0) {
                text.push_back('\t');
            }
            text.append(field, static_cast<std::size_t>(n));
        }
        text.push_back('\n');
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
        !ValidShape(array, dataType, numberOfElements, numberOfGroups, arrayDataOrder, fileType) ||
        numberOfElements > kMaxReadElements || fileLayout != 0) {
        return FILE_ERR_ARGS;
    }

    ChunkReader in;
    const int opened = in.Open(fileName);
    if (opened != 0) {
        return opened;
    }
    // A byte-order mark written by some editors is not part of the first number.
    if (!in.Fill(3)) {
        return FILE_ERR_OPEN;
    }
    if (in.Available() >= 3 && std::memcmp(in.Peek(), "\xEF\xBB\xBF", 3) == 0) {
        in.Skip(3);
    }

    std::vector<uint32_t> values(static_cast<std::size_t>(numberOfElements));
    std::array<char, kMaxTokenLength> token{};
    std::size_t tokenLength = 0;
    int found = 0;
    while (found < numberOfElements) {
        const int c = in.Next();
        if (c == ChunkReader::kFailed) {
            return FILE_ERR_OPEN;
        }
        const bool atEnd = c == ChunkReader::kEnd;
        if (atEnd || IsSeparator(static_cast<char>(c))) {
            if (tokenLength > 0) {
                if (!ParseToken(token.data(), token.data() + tokenLength, dataType,
                                &values[static_cast<std::size_t>(found)])) {
                    lastErrorIndex = found;
                    return FILE_ERR_FORMAT;
                }
                ++found;
                tokenLength = 0;
            } else if (atEnd) {
                lastErrorIndex = found;
                return FILE_ERR_SHORT;
            }
            continue;
        }
        if (tokenLength == token.size()) {
            lastErrorIndex = found;  // longer than any number: no need to see its end
            return FILE_ERR_FORMAT;
        }
        token[tokenLength++] = static_cast<char>(c);
    }

    // Both element types are 32 bits wide; the bit patterns copy unchanged.
    std::memcpy(array, values.data(), values.size() * sizeof(uint32_t));
    lastErrorIndex = found;
    return 0;
}

int ArrayFileErrorIndex() {
    return lastErrorIndex;
}
