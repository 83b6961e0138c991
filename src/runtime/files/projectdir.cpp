// The project directory (the directory the program was started in) and paths
// relative to it, and whether a file lies in a directory.
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstring>
#include <filesystem>
#include <system_error>

#include "runtime/files/files_internal.h"
#include "runtime/rtcore.h"

namespace orv_rt {

namespace {

QString& ProjectDir() {
    static QString dir;
    return dir;
}

QString ProjectDirOrCurrent() {
    return ProjectDir().isEmpty() ? QDir::currentPath() : ProjectDir();
}

// A path in the form the standard library's file system calls take.
std::filesystem::path FsPath(const QString& path) {
#ifdef _WIN32
    return std::filesystem::path(path.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

}  // namespace

int CopyPath(const QString& path, char* out, bool clearOnRefusal) {
    if (!out)
        return ERR_BAD_VALUE;
    const QByteArray bytes = QFile::encodeName(path);
    if (bytes.size() + 1 > MAX_PATHNAME_LEN) {
        if (clearOnRefusal)
            out[0] = '\0';
        return ERR_TOO_LONG;
    }
    std::memcpy(out, bytes.constData(), static_cast<std::size_t>(bytes.size()));
    out[bytes.size()] = '\0';
    return 0;
}

void RememberProjectDir() {
    if (ProjectDir().isEmpty())
        ProjectDir() = QDir::currentPath();
}

}  // namespace orv_rt

using namespace orv_rt;

int GetProjectDir(char* directoryPath) {
    if (!directoryPath)
        return ERR_BAD_VALUE;
    return CopyPath(QDir::toNativeSeparators(ProjectDirOrCurrent()), directoryPath);
}

int GetFullPathFromProject(const char* fileName, char* fullPathName) {
    if (!fullPathName)
        return ERR_BAD_VALUE;
    if (!fileName) {
        fullPathName[0] = '\0';
        return ERR_BAD_VALUE;
    }
    const QString full =
        QDir::cleanPath(QDir(ProjectDirOrCurrent()).absoluteFilePath(QFile::decodeName(fileName)));
    return CopyPath(QDir::toNativeSeparators(full), fullPathName);
}

int FileInDirectory(const char* filePath, const char* directory) {
    if (!filePath || !directory)
        return ERR_BAD_VALUE;
    const QString fileDir = QFileInfo(QFile::decodeName(filePath)).absolutePath();
    const QString dir = QFile::decodeName(directory);
    if (fileDir.isEmpty() || dir.isEmpty())
        return 0;
    // The file system decides: both paths are opened as what they lead to
    // and compared by identity, so a link and its target, or two spellings
    // of one directory on a case-insensitive file system, are the same.
    std::error_code ec;
    const bool same = std::filesystem::equivalent(FsPath(fileDir), FsPath(dir), ec);
    return !ec && same ? 1 : 0;
}
