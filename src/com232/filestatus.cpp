// Status-line reports about the files the operator picks.
#include "com232/filestatus.h"

#include "com232/report.h"
#include "runtime/rtcore.h"

namespace orv {

const char* FileBaseName(const char* path) {
    const char* name = path;
    for (const char* p = path; *p != '\0'; ++p) {
#ifdef _WIN32
        if (*p == '\\')
            name = p + 1;
#endif
        if (*p == '/')
            name = p + 1;
    }
    return name;
}

void ReportReadFailure(const char* path, int code, int expected, const char* notANumber) {
    const char* name = FileBaseName(path);
    switch (code) {
        case FILE_ERR_SHORT:
            ShowStatusF("%s: only %d of %d numbers", name, ArrayFileErrorIndex(), expected);
            break;
        case FILE_ERR_FORMAT:
            ShowStatusF("%s: element %d %s", name, ArrayFileErrorIndex(), notANumber);
            break;
        case FILE_ERR_NOT_FILE:
            ShowStatusF("%s is not a regular file", name);
            break;
        default:
            ShowStatusF("Cannot open %s", name);
            break;
    }
}

}  // namespace orv
