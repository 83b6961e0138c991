#include "gui/filestatus.h"

#include <cstring>

#include "OrvanscopeV10/OrvanscopeV10.h"
#include "runtime/runtime.h"

namespace orv {

const char* FileBaseName(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash != nullptr ? slash + 1 : path;
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
