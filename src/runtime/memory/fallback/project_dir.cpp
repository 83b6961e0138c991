// The project directory and FileInDirectory for the memory runtime, as the
// real runtime does them today inside its panel half. Compiled only while the
// files part of the runtime is no library of its own (see CMakeLists.txt):
// once it is, the memory runtime links that and this file goes.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <cstring>
#include <filesystem>
#include <system_error>

#include "runtime/memory/memory_internal.h"
#include "runtime/rtcore.h"

namespace {

QString Dir() {
    const std::string& dir = orv_mem::ProjectDir();
    return dir.empty() ? QDir::currentPath() : QString::fromStdString(dir);
}

// A path that does not fit MAX_PATHNAME_LEN is refused with an empty buffer.
int CopyPath(const QString& path, char* out) {
    const QByteArray bytes = QFile::encodeName(path);
    if (bytes.size() + 1 > MAX_PATHNAME_LEN) {
        out[0] = '\0';
        return orv_mem::ERR_TOO_LONG;
    }
    std::memcpy(out, bytes.constData(), static_cast<std::size_t>(bytes.size()));
    out[bytes.size()] = '\0';
    return 0;
}

std::filesystem::path FsPath(const QString& path) {
#ifdef _WIN32
    return std::filesystem::path(path.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

}  // namespace

int GetProjectDir(char* directoryPath) {
    if (!directoryPath)
        return orv_mem::ERR_BAD_VALUE;
    return CopyPath(QDir::toNativeSeparators(Dir()), directoryPath);
}

int GetFullPathFromProject(const char* fileName, char* fullPathName) {
    if (!fullPathName)
        return orv_mem::ERR_BAD_VALUE;
    if (!fileName) {
        fullPathName[0] = '\0';
        return orv_mem::ERR_BAD_VALUE;
    }
    const QString full = QDir::cleanPath(QDir(Dir()).absoluteFilePath(QFile::decodeName(fileName)));
    return CopyPath(QDir::toNativeSeparators(full), fullPathName);
}

int FileInDirectory(const char* filePath, const char* directory) {
    if (!filePath || !directory)
        return orv_mem::ERR_BAD_VALUE;
    const QString fileDir = QFileInfo(QFile::decodeName(filePath)).absolutePath();
    const QString dir = QFile::decodeName(directory);
    if (fileDir.isEmpty() || dir.isEmpty())
        return 0;
    std::error_code ec;
    const bool same = std::filesystem::equivalent(FsPath(fileDir), FsPath(dir), ec);
    return !ec && same ? 1 : 0;
}
