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
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/files/arraytext.h"
#include "runtime/files/panelfile.h"
#include "runtime/platform/platform.h"
#include "runtime/rtcore.h"

namespace {

int lastErrorIndex = 0;

// The reader's bounds: its staging buffer holds at most kMaxReadElements
// numbers (4 MiB); the file is read kChunkSize bytes at a time.
constexpr int kMaxReadElements = 1 << 20;
constexpr std::size_t kChunkSize = 4096;

static_assert(orv_platform::OPEN_FAILED == FILE_ERR_OPEN &&
              orv_platform::OPEN_NOT_REGULAR == FILE_ERR_NOT_FILE);

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

    return orv_rt::ReplaceFile(fileName, text);
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

    orv_platform::FileReader in;
    const int opened = in.Open(fileName);
    if (opened != 0) {
        return opened;
    }
    std::vector<uint32_t> values(static_cast<std::size_t>(numberOfElements));
    orv_rt::ArrayTextParser parser;
    orv_rt::ArrayTextBegin(parser, dataType, values.data(), numberOfElements);
    int rc = orv_rt::ARRAY_TEXT_MORE;
    std::array<char, kChunkSize> chunk{};
    while (rc == orv_rt::ARRAY_TEXT_MORE) {
        const long long got = in.Read(chunk.data(), chunk.size());
        if (got < 0) {
            return FILE_ERR_OPEN;
        }
        rc = got == 0 ? orv_rt::ArrayTextEnd(parser)
                      : orv_rt::ArrayTextFeed(parser, chunk.data(), static_cast<std::size_t>(got));
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
