// Whole files written through a rename (declared in panelfile.h): a reader,
// or a failed write, never sees half a file.
#include <filesystem>
#include <string>
#include <system_error>

#include "runtime/files/panelfile.h"
#include "runtime/platform/platform.h"
#include "runtime/rtcore.h"

namespace orv_rt {

namespace {

namespace fs = std::filesystem;

// The file a path leads to: a symbolic link is written through, to the file
// it names (which need not exist yet), and the link is kept.
fs::path FollowLinks(fs::path path) {
    std::error_code ec;
    for (int hops = 0; hops < 40 && fs::is_symlink(fs::symlink_status(path, ec)); ++hops) {
        const fs::path target = fs::read_symlink(path, ec);
        if (ec)
            break;
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    return path;
}

}  // namespace

int ReplaceFile(const char* path, const std::string& bytes) {
    if (path == nullptr || *path == '\0')
        return FILE_ERR_WRITE;
    const fs::path target = FollowLinks(fs::path(path));
    // Anything but a regular file there (a FIFO, a device, a directory) would
    // be replaced by the rename: it is refused and left alone.
    std::error_code ec;
    const fs::file_status st = fs::status(target, ec);
    if (fs::exists(st) && !fs::is_regular_file(st))
        return FILE_ERR_NOT_FILE;
    return orv_platform::WriteBesideAndRename(target.string(), bytes.data(), bytes.size()) ? 0
                                                                                           : FILE_ERR_WRITE;
}

}  // namespace orv_rt
