// Fuzz target: the array-file reader on arbitrary text, as a parameter file
// (16 unsigned numbers) and as a correction source (3072 signed numbers).
// A failed read must leave the caller's array untouched; a successful one
// must survive a write and a second read unchanged.
//
// The reader takes the file in chunks of a few KiB, so the input is also
// reshaped to cross their edges: the first four bytes pick a requested count
// and element type, a run of leading separators that shifts every token
// across the edges, and a number of copies of the rest that makes the file
// span several chunks. That file is read and compared, result, error index
// and values, with a whole-text reading of the same rules.
#include <unistd.h>

#include <array>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/runtime.h"

namespace {

constexpr std::size_t kMaxToken = 32;  // longer tokens are never numbers

std::string TempPath(const char* tag) {
    return "/tmp/orv-fuzz-" + std::to_string(getpid()) + "-" + tag + ".dat";
}

void WriteFile(const std::string& path, const char* data, std::size_t size) {
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
}

template <typename T, std::size_t N>
void Check(const std::string& path, int type) {
    std::array<T, N> values;
    values.fill(static_cast<T>(0x5A5A5A5A));
    const int rc = FileToArray(path.c_str(), values.data(), type, N, 1, 0, 0, FILE_ASCII);
    if (rc < 0) {
        for (T v : values)
            if (v != static_cast<T>(0x5A5A5A5A))
                std::abort();  // failed read changed the array
        return;
    }
    const std::string copy = TempPath("copy");
    if (ArrayToFile(copy.c_str(), values.data(), type, N, N == 16 ? 1 : 3, 0, 0, 0, 6, FILE_ASCII,
                    FILE_TRUNCATE) < 0)
        std::abort();
    std::array<T, N> again{};
    if (FileToArray(copy.c_str(), again.data(), type, N, N == 16 ? 1 : 3, 0, 0, FILE_ASCII) < 0)
        std::abort();
    if (again != values)
        std::abort();
}

bool IsSeparator(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v' || c == ',';
}

bool ParseNumber(const char* begin, const char* end, int type, uint32_t* out) {
    if (begin == end || static_cast<std::size_t>(end - begin) > kMaxToken)
        return false;
    if (type == TYPE_UINT) {
        auto [ptr, ec] = std::from_chars(begin, end, *out, 10);
        return ec == std::errc() && ptr == end;
    }
    if (*begin == '+' && (++begin == end || *begin == '-'))
        return false;
    int32_t v = 0;
    auto [ptr, ec] = std::from_chars(begin, end, v, 10);
    *out = static_cast<uint32_t>(v);
    return ec == std::errc() && ptr == end;
}

struct Reading {
    int rc;
    int index;
    std::vector<uint32_t> values;
};

// The same rules applied to the whole text at once.
Reading ReadWhole(const std::string& text, int type, int count) {
    Reading r{0, 0, {}};
    std::size_t p = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (static_cast<int>(r.values.size()) < count) {
        while (p < text.size() && IsSeparator(text[p]))
            ++p;
        r.index = static_cast<int>(r.values.size());
        if (p == text.size()) {
            r.rc = FILE_ERR_SHORT;
            return r;
        }
        std::size_t e = p;
        while (e < text.size() && !IsSeparator(text[e]))
            ++e;
        uint32_t v = 0;
        if (!ParseNumber(text.data() + p, text.data() + e, type, &v)) {
            r.rc = FILE_ERR_FORMAT;
            return r;
        }
        r.values.push_back(v);
        p = e;
    }
    r.index = count;
    return r;
}

void CheckAcrossChunks(const uint8_t* data, std::size_t size) {
    const int count = 1 + ((data[0] << 8 | data[1]) % 4096);
    const int type = (data[1] & 1) != 0 ? TYPE_INT : TYPE_UINT;
    std::string text(static_cast<std::size_t>(data[2]) * 37, ' ');
    for (std::size_t i = 0; i < text.size(); i += 5)
        text[i] = '\n';
    const std::string body(reinterpret_cast<const char*>(data + 4), size - 4);
    for (int copies = 1 + data[3] % 8; copies > 0; --copies)
        text += body;
    const std::string path = TempPath("chunks");
    WriteFile(path, text.data(), text.size());

    const Reading want = ReadWhole(text, type, count);
    std::vector<uint32_t> got(static_cast<std::size_t>(count), 0xA5A5A5A5u);
    const int rc = FileToArray(path.c_str(), got.data(), type, count, 1, 0, 0, FILE_ASCII);
    if (rc != want.rc || ArrayFileErrorIndex() != want.index)
        std::abort();
    if (rc == 0 ? got != want.values : got != std::vector<uint32_t>(got.size(), 0xA5A5A5A5u))
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string path = TempPath("in");
    WriteFile(path, reinterpret_cast<const char*>(data), size);
    Check<uint32_t, 16>(path, TYPE_UINT);
    Check<int32_t, 3072>(path, TYPE_INT);
    if (size >= 4)
        CheckAcrossChunks(data, size);
    return 0;
}
