// Status-line reports about the files the operator picks.
#pragma once

namespace orv {

// The file name of a path, without its directories.
const char* FileBaseName(const char* path);

// Says on the status line why reading `path` with FileToArray failed with
// `code`: too few numbers (of `expected`), an element that is not a number
// (`notANumber` says what it is not), something that is not a regular file,
// or a file that cannot be opened.
void ReportReadFailure(const char* path, int code, int expected, const char* notANumber);

}  // namespace orv
