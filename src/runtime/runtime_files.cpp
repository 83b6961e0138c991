// Array files: integer arrays as ASCII text.
//
// Writing puts each group on one line, its values separated by a tab and each
// right-aligned in the field width (a wider value is written whole). The file
// is replaced through a temporary file beside it that is renamed over the old
// one, so a failed write never leaves a truncated or half-written file.
//
// Reading takes the numbers in order, whatever whitespace or commas separate
// them and however they are split over lines, so files laid out in rows or in
// columns by other tools load too. Exactly the requested count is read and
// anything after it is ignored. The caller's array is written only when every
// number was read and valid.
#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QString>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

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

    // QSaveFile (Qt 6.4) commits even after a failed buffered write, so the
    // file is written unbuffered and every result is checked before commit.
    QSaveFile file(QFile::decodeName(fileName));
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
        fileLayout != 0) {
        return FILE_ERR_ARGS;
    }

    const QString path = QFile::decodeName(fileName);
    if (QFileInfo(path).isDir()) {
        return FILE_ERR_OPEN;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return FILE_ERR_OPEN;
    }
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        return FILE_ERR_OPEN;
    }

    const char* p = content.constData();
    const char* const end = p + content.size();
    // A byte-order mark written by some editors is not part of the first number.
    if (end - p >= 3 && std::memcmp(p, "\xEF\xBB\xBF", 3) == 0) {
        p += 3;
    }

    std::vector<uint32_t> values(static_cast<std::size_t>(numberOfElements));
    int found = 0;
    while (found < numberOfElements) {
        while (p != end && IsSeparator(*p)) {
            ++p;
        }
        if (p == end) {
            lastErrorIndex = found;
            return FILE_ERR_SHORT;
        }
        const char* tokenEnd = p;
        while (tokenEnd != end && !IsSeparator(*tokenEnd)) {
            ++tokenEnd;
        }
        if (!ParseToken(p, tokenEnd, dataType, &values[static_cast<std::size_t>(found)])) {
            lastErrorIndex = found;
            return FILE_ERR_FORMAT;
        }
        ++found;
        p = tokenEnd;
    }

    // Both element types are 32 bits wide; the bit patterns copy unchanged.
    std::memcpy(array, values.data(), values.size() * sizeof(uint32_t));
    lastErrorIndex = found;
    return 0;
}

int ArrayFileErrorIndex() {
    return lastErrorIndex;
}
