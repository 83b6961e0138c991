// Array-file text without files: the parser (whole or in pieces) and the
// formatter.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>
#include <string>

#include "runtime/files/arraytext.h"

namespace {

using orv_rt::FormatArrayText;
using orv_rt::ParseArrayText;

// Parses `text` as `N` numbers; the result code, the error index and the
// numbers (only meaningful on success).
template <std::size_t N>
struct Parsed {
    int code = 1;
    int index = -1;
    std::array<uint32_t, N> values{};
};

template <std::size_t N>
Parsed<N> Parse(const std::string& text, int type) {
    Parsed<N> p;
    p.code = ParseArrayText(text.data(), text.size(), type, p.values.data(), static_cast<int>(N), &p.index);
    return p;
}

std::array<uint32_t, 6> Bits(const std::array<int32_t, 6>& a) {
    std::array<uint32_t, 6> out{};
    for (std::size_t i = 0; i < a.size(); ++i)
        out[i] = static_cast<uint32_t>(a[i]);
    return out;
}

TEST(ArrayText, FormatsEachGroupAsOneTabSeparatedRowRightAligned) {
    const std::array<int32_t, 6> a{1, -2, 300, 4, 123456789, -99999};
    std::string text;
    ASSERT_TRUE(FormatArrayText(a.data(), TYPE_INT, 6, 2, 4, text));
    // A value wider than the field is written whole.
    EXPECT_EQ("   1\t  -2\t 300\n   4\t123456789\t-99999\n", text);

    const std::array<uint32_t, 3> u{0, 65535, 4294967295u};
    text.clear();
    ASSERT_TRUE(FormatArrayText(u.data(), TYPE_UINT, 3, 1, 6, text));
    EXPECT_EQ("     0\t 65535\t4294967295\n", text);

    text = "kept";
    EXPECT_FALSE(FormatArrayText(a.data(), TYPE_INT, 6, 4, 4, text));  // groups do not divide
    EXPECT_FALSE(FormatArrayText(a.data(), TYPE_DOUBLE, 6, 1, 4, text));
    EXPECT_FALSE(FormatArrayText(a.data(), TYPE_INT, 6, 1, 65, text));
    EXPECT_FALSE(FormatArrayText(nullptr, TYPE_INT, 6, 1, 4, text));
    EXPECT_EQ("kept", text);
}

TEST(ArrayText, RoundTripsExtremesOfBothTypes) {
    const std::array<int32_t, 4> s{std::numeric_limits<int32_t>::min(), -1, 0,
                                   std::numeric_limits<int32_t>::max()};
    std::string text;
    ASSERT_TRUE(FormatArrayText(s.data(), TYPE_INT, 4, 2, 1, text));
    const auto back = Parse<4>(text, TYPE_INT);
    ASSERT_EQ(0, back.code);
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_EQ(s[i], static_cast<int32_t>(back.values[i]));

    const std::array<uint32_t, 2> u{0, 4294967295u};
    text.clear();
    ASSERT_TRUE(FormatArrayText(u.data(), TYPE_UINT, 2, 1, 0, text));
    const auto ub = Parse<2>(text, TYPE_UINT);
    ASSERT_EQ(0, ub.code);
    EXPECT_EQ(u, ub.values);
}

TEST(ArrayText, ReaderAcceptsAnySeparationAndLayout) {
    // Commas, CRLF, mixed blanks, a byte-order mark, and three groups written
    // as columns (one line per element) instead of rows.
    const auto want = Bits({1, 2, 3, -4, 5, 6});
    for (const char* text : {"1,2,3,-4,5,6", "1, 2 ,3\r\n-4\t\t5   6\r\n", "\xEF\xBB\xBF 1 2\n3 -4\n\n5 6",
                             "+1\n2\n3\n-4\n5\n6\n"}) {
        const auto got = Parse<6>(text, TYPE_INT);
        EXPECT_EQ(0, got.code) << text;
        EXPECT_EQ(want, got.values) << text;
    }
    // Columns of a two-group file are read in text order: 10 20 / 11 21.
    const auto cols = Parse<4>("10\t20\n11\t21\n", TYPE_INT);
    ASSERT_EQ(0, cols.code);
    EXPECT_EQ((std::array<uint32_t, 4>{10, 20, 11, 21}), cols.values);
}

TEST(ArrayText, ReadsExactlyTheCountAndIgnoresTheRest) {
    std::array<uint32_t, 4> got{0, 0, 0, 42};
    int index = -1;
    const std::string text = "7 8 9 trailing words, 10\n";
    ASSERT_EQ(0, ParseArrayText(text.data(), text.size(), TYPE_UINT, got.data(), 3, &index));
    EXPECT_EQ(3, index);
    EXPECT_EQ((std::array<uint32_t, 4>{7, 8, 9, 42}), got);
}

TEST(ArrayText, FailuresTellWhere) {
    const std::string zeros32(32, '0'), zeros33(33, '0');
    struct Case {
        std::string text;
        int type;
        int code;
        int index;
    };
    const Case cases[] = {
        {"1 2 3", TYPE_UINT, FILE_ERR_SHORT, 3},
        {"", TYPE_UINT, FILE_ERR_SHORT, 0},
        {" \n,\n", TYPE_INT, FILE_ERR_SHORT, 0},
        {"\xEF\xBB\xBF", TYPE_INT, FILE_ERR_SHORT, 0},
        {"\xEF\xBB", TYPE_INT, FILE_ERR_FORMAT, 0},  // half a byte-order mark is no number
        {"1 2 x3 4", TYPE_UINT, FILE_ERR_FORMAT, 2},
        {"1 -2 3 4", TYPE_UINT, FILE_ERR_FORMAT, 1},  // no sign on unsigned
        {"1 +2 3 4", TYPE_UINT, FILE_ERR_FORMAT, 1},
        {"1 2 3 4294967296", TYPE_UINT, FILE_ERR_FORMAT, 3},  // above 32 bits
        {"2147483648 0 0 0", TYPE_INT, FILE_ERR_FORMAT, 0},   // above int32
        {"0 -2147483649 0 0", TYPE_INT, FILE_ERR_FORMAT, 1},
        {"0 1.5 0 0", TYPE_INT, FILE_ERR_FORMAT, 1},
        {"0 0 - 0", TYPE_INT, FILE_ERR_FORMAT, 2},
        {"0 0 0 12abc", TYPE_INT, FILE_ERR_FORMAT, 3},
        {"0 " + zeros32 + " 0", TYPE_INT, FILE_ERR_SHORT, 3},  // the longest token allowed
        {"0 " + zeros33, TYPE_INT, FILE_ERR_FORMAT, 1},
    };
    for (const Case& c : cases) {
        const auto got = Parse<4>(c.text, c.type);
        EXPECT_EQ(c.code, got.code) << c.text;
        EXPECT_EQ(c.index, got.index) << c.text;
    }
}

TEST(ArrayText, TextInPiecesReadsAsAWhole) {
    // Every way of cutting the text in two, and byte by byte: the byte-order
    // mark and the numbers may be cut anywhere. Feeding stops at the result.
    const std::string text = "\xEF\xBB\xBF-2147483648,\n+17 4294967295x 99";
    const std::array<uint32_t, 3> want{0x80000000u, 17, 4294967295u};
    for (std::size_t cut = 0; cut <= text.size(); ++cut) {
        std::array<uint32_t, 3> got{};
        orv_rt::ArrayTextParser p;
        orv_rt::ArrayTextBegin(p, TYPE_INT, got.data(), 2);
        int rc = orv_rt::ArrayTextFeed(p, text.data(), cut);
        if (rc == orv_rt::ARRAY_TEXT_MORE)
            rc = orv_rt::ArrayTextFeed(p, text.data() + cut, text.size() - cut);
        ASSERT_EQ(0, rc) << cut;
        EXPECT_EQ(want[0], got[0]) << cut;
        EXPECT_EQ(want[1], got[1]) << cut;
    }
    std::array<uint32_t, 3> got{};
    orv_rt::ArrayTextParser p;
    orv_rt::ArrayTextBegin(p, TYPE_UINT, got.data(), 3);
    int rc = orv_rt::ARRAY_TEXT_MORE;
    std::size_t fed = 0;
    for (; fed < text.size() && rc == orv_rt::ARRAY_TEXT_MORE; ++fed)
        rc = orv_rt::ArrayTextFeed(p, text.data() + fed, 1);
    // As unsigned numbers the first is already wrong; nothing after it is read.
    EXPECT_EQ(FILE_ERR_FORMAT, rc);
    EXPECT_EQ(0, orv_rt::ArrayTextErrorIndex(p));
    EXPECT_EQ(text.find(','), fed - 1);
    EXPECT_EQ(FILE_ERR_FORMAT, orv_rt::ArrayTextEnd(p));
}

}  // namespace
