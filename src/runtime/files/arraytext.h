// The text of array files, without any file I/O: the reader's parser and the
// writer's formatter. Plain functions of their inputs, free of the toolkit, so
// any runtime (and a fuzzer) can use them as they are.
//
// Text read: numbers in order, separated by any run of blanks, tabs, line ends
// or commas, however they are split over lines; an optional UTF-8 byte-order
// mark before the first. Exactly the requested count is taken and anything
// after it is ignored. Unsigned numbers take no sign; signed ones may carry a
// leading '-' or '+'. A number out of the element type's range, or anything
// else, is a format error. A token longer than kArrayTokenMax characters (a
// number is at most 11, leading zeros are allowed up to the limit) fails as
// soon as it is that long, without waiting for its end.
//
// Text written: each group on one line, its values separated by a tab and each
// right-aligned in the field width (a wider value is written whole).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/rtcore.h"

namespace orv_rt {

constexpr std::size_t kArrayTokenMax = 32;

// Arguments both directions accept: a non-null array of TYPE_INT or
// TYPE_UINT, a positive count that the groups divide, each group contiguous
// (order 0), ASCII.
bool ArrayShapeValid(const void* array, int dataType, int numberOfElements, int numberOfGroups,
                     int arrayDataOrder, int fileType);

// Returned by ArrayTextFeed while more numbers are wanted.
constexpr int ARRAY_TEXT_MORE = 1;

// A parse in progress. The text may arrive in pieces of any size: a number,
// or the byte-order mark, cut between two pieces reads as if it were whole.
struct ArrayTextParser {
    int dataType = TYPE_INT;
    std::uint32_t* values = nullptr;  // receives the numbers (bit patterns for TYPE_INT)
    int wanted = 0;
    int found = 0;                 // numbers stored so far
    int result = ARRAY_TEXT_MORE;  // ARRAY_TEXT_MORE, 0 or a FILE_ERR_* code
    int errorIndex = 0;
    std::size_t markSeen = 0;  // bytes of the byte-order mark matched so far
    bool started = false;      // past the place where a byte-order mark may stand
    std::array<char, kArrayTokenMax> token{};
    std::size_t tokenLength = 0;
};

// Starts a parse of `count` numbers of `dataType` into `values` (room for
// `count`). The values written before a failure are not meaningful.
void ArrayTextBegin(ArrayTextParser& p, int dataType, std::uint32_t* values, int count);
// Takes the next piece of text. Returns ARRAY_TEXT_MORE while numbers are
// still wanted, 0 once all of them were read (the rest of the piece is not
// looked at), or FILE_ERR_FORMAT. Once decided, the result stays.
int ArrayTextFeed(ArrayTextParser& p, const char* data, std::size_t size);
// The text has ended: 0, FILE_ERR_SHORT (fewer numbers than wanted) or
// FILE_ERR_FORMAT.
int ArrayTextEnd(ArrayTextParser& p);
// After a result: the 0-based index of the bad element (FILE_ERR_FORMAT), the
// count of numbers found (FILE_ERR_SHORT), or the count read (0).
inline int ArrayTextErrorIndex(const ArrayTextParser& p) {
    return p.errorIndex;
}

// The whole text at once: 0 or a FILE_ERR_* code; *errorIndex as above.
int ParseArrayText(const char* text, std::size_t size, int dataType, std::uint32_t* values, int count,
                   int* errorIndex);

// Appends the text of `numberOfElements` values of `dataType` (each group of
// numberOfElements / numberOfGroups values on one line) to `text`. `fieldWidth`
// is 0..64. False, with nothing appended, for arguments ArrayShapeValid
// refuses or a field width out of range.
bool FormatArrayText(const void* array, int dataType, int numberOfElements, int numberOfGroups,
                     int fieldWidth, std::string& text);

}  // namespace orv_rt
