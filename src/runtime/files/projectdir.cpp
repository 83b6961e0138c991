// The project directory (the directory the program was started in) and paths
// relative to it, and whether a file lies in a directory.
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "runtime/files/files_internal.h"
#include "runtime/rtcore.h"

namespace orv_rt {

namespace {

namespace fs = std::filesystem;

std::string& ProjectDir() {
    static std::string dir;
    return dir;
}

std::string CurrentDir() {
    std::error_code ec;
    const fs::path here = fs::current_path(ec);
    return ec ? std::string() : here.string();
}

fs::path ProjectDirOrCurrent() {
    return ProjectDir().empty() ? fs::path(CurrentDir()) : fs::path(ProjectDir());
}

// The path as the system writes it (backslashes on Windows), without "." and
// ".." and doubled or trailing separators.
std::string Clean(const fs::path& path) {
    fs::path p = path.lexically_normal();
    if (!p.has_filename() && p.has_relative_path())
        p = p.parent_path();
    return p.make_preferred().string();
}

}  // namespace

int CopyPath(const std::string& path, char* out, bool clearOnRefusal) {
    if (!out)
        return ERR_BAD_VALUE;
    if (path.size() + 1 > static_cast<std::size_t>(MAX_PATHNAME_LEN)) {
        if (clearOnRefusal)
            out[0] = '\0';
        return ERR_TOO_LONG;
    }
    std::memcpy(out, path.data(), path.size());
    out[path.size()] = '\0';
    return 0;
}

void RememberProjectDir() {
    if (ProjectDir().empty())
        ProjectDir() = CurrentDir();
}

}  // namespace orv_rt

using namespace orv_rt;

int GetProjectDir(char* directoryPath) {
    if (!directoryPath)
        return ERR_BAD_VALUE;
    return CopyPath(Clean(ProjectDirOrCurrent()), directoryPath);
}

int GetFullPathFromProject(const char* fileName, char* fullPathName) {
    if (!fullPathName)
        return ERR_BAD_VALUE;
    if (!fileName) {
        fullPathName[0] = '\0';
        return ERR_BAD_VALUE;
    }
    return CopyPath(Clean(ProjectDirOrCurrent() / fs::path(fileName)), fullPathName);
}

int FileInDirectory(const char* filePath, const char* directory) {
    if (!filePath || !directory)
        return ERR_BAD_VALUE;
    if (!*filePath || !*directory)
        return 0;
    std::error_code ec;
    const fs::path fileDir = fs::absolute(fs::path(filePath), ec).parent_path();
    if (ec || fileDir.empty())
        return 0;
    // The file system decides: both paths are opened as what they lead to
    // and compared by identity, so a link and its target, or two spellings
    // of one directory on a case-insensitive file system, are the same.
    const bool same = fs::equivalent(fileDir, fs::path(directory), ec);
    return !ec && same ? 1 : 0;
}
