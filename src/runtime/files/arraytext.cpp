#include "runtime/files/arraytext.h"

#include <charconv>
#include <cstdio>

namespace orv_rt {

namespace {

constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";
constexpr std::size_t kByteOrderMarkLength = 3;

bool IsSeparator(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v' || c == ',';
}

// Parses one token as a number of the element type. Unsigned numbers take no
// sign; signed ones may carry a leading '-' or '+'. Out-of-range values fail.
bool ParseToken(const char* begin, const char* end, int dataType, std::uint32_t* out) {
    if (begin == end) {
        return false;
    }
    if (dataType == TYPE_UINT) {
        std::uint32_t v = 0;
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
    std::int32_t v = 0;
    auto [ptr, ec] = std::from_chars(digits, end, v, 10);
    if (ec != std::errc() || ptr != end) {
        return false;
    }
    *out = static_cast<std::uint32_t>(v);
    return true;
}

// Ends the token being collected, if any.
void EndToken(ArrayTextParser& p) {
    if (p.tokenLength == 0) {
        return;
    }
    if (!ParseToken(p.token.data(), p.token.data() + p.tokenLength, p.dataType,
                    &p.values[static_cast<std::size_t>(p.found)])) {
        p.errorIndex = p.found;
        p.result = FILE_ERR_FORMAT;
        return;
    }
    ++p.found;
    p.tokenLength = 0;
    if (p.found == p.wanted) {
        p.errorIndex = p.found;
        p.result = 0;
    }
}

// One byte of the text after the byte-order mark.
void TakeByte(ArrayTextParser& p, char c) {
    if (IsSeparator(c)) {
        EndToken(p);
        return;
    }
    if (p.tokenLength == p.token.size()) {
        p.errorIndex = p.found;  // longer than any number: no need to see its end
        p.result = FILE_ERR_FORMAT;
        return;
    }
    p.token[p.tokenLength++] = c;
}

// The bytes taken for a byte-order mark that did not complete are text.
void GiveBackMark(ArrayTextParser& p) {
    const std::size_t held = p.markSeen;
    p.markSeen = 0;
    p.started = true;
    for (std::size_t i = 0; i < held && p.result == ARRAY_TEXT_MORE; ++i) {
        TakeByte(p, kByteOrderMark[i]);
    }
}

}  // namespace

bool ArrayShapeValid(const void* array, int dataType, int numberOfElements, int numberOfGroups,
                     int arrayDataOrder, int fileType) {
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

void ArrayTextBegin(ArrayTextParser& p, int dataType, std::uint32_t* values, int count) {
    p = ArrayTextParser{};
    p.dataType = dataType;
    p.values = values;
    p.wanted = count;
    if (count <= 0 || values == nullptr) {
        p.result = count == 0 ? 0 : FILE_ERR_ARGS;
    }
}

int ArrayTextFeed(ArrayTextParser& p, const char* data, std::size_t size) {
    for (std::size_t i = 0; i < size && p.result == ARRAY_TEXT_MORE; ++i) {
        const char c = data[i];
        if (!p.started) {
            if (c == kByteOrderMark[p.markSeen]) {
                if (++p.markSeen == kByteOrderMarkLength) {
                    p.markSeen = 0;
                    p.started = true;
                }
                continue;
            }
            GiveBackMark(p);
            if (p.result != ARRAY_TEXT_MORE) {
                break;
            }
        }
        TakeByte(p, c);
    }
    return p.result;
}

int ArrayTextEnd(ArrayTextParser& p) {
    if (p.result != ARRAY_TEXT_MORE) {
        return p.result;
    }
    if (!p.started) {
        GiveBackMark(p);
    }
    if (p.result == ARRAY_TEXT_MORE) {
        EndToken(p);
    }
    if (p.result == ARRAY_TEXT_MORE) {
        p.errorIndex = p.found;
        p.result = FILE_ERR_SHORT;
    }
    return p.result;
}

int ParseArrayText(const char* text, std::size_t size, int dataType, std::uint32_t* values, int count,
                   int* errorIndex) {
    ArrayTextParser p;
    ArrayTextBegin(p, dataType, values, count);
    int rc = ArrayTextFeed(p, text, size);
    if (rc == ARRAY_TEXT_MORE) {
        rc = ArrayTextEnd(p);
    }
    if (errorIndex != nullptr) {
        *errorIndex = p.errorIndex;
    }
    return rc;
}

bool FormatArrayText(const void* array, int dataType, int numberOfElements, int numberOfGroups,
                     int fieldWidth, std::string& text) {
    if (!ArrayShapeValid(array, dataType, numberOfElements, numberOfGroups, 0, FILE_ASCII) ||
        fieldWidth < 0 || fieldWidth > 64) {
        return false;
    }
    const int perGroup = numberOfElements / numberOfGroups;
    text.reserve(text.size() +
                 static_cast<std::size_t>(numberOfElements) * static_cast<std::size_t>(fieldWidth + 2));
    char field[80];
    for (int g = 0; g < numberOfGroups; ++g) {
        for (int j = 0; j < perGroup; ++j) {
            const int idx = g * perGroup + j;
            int n;
            if (dataType == TYPE_UINT) {
                const auto v = static_cast<const std::uint32_t*>(array)[idx];
                n = std::snprintf(field, sizeof field, "%*lu", fieldWidth, static_cast<unsigned long>(v));
            } else {
                const auto v = static_cast<const std::int32_t*>(array)[idx];
                n = std::snprintf(field, sizeof field, "%*ld", fieldWidth, static_cast<long>(v));
            }
            if (j > 0) {
                text.push_back('\t');
            }
            text.append(field, static_cast<std::size_t>(n));
        }
        text.push_back('\n');
    }
    return true;
}

}  // namespace orv_rt
