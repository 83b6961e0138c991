// Reading the panel file (Qt Designer XML) with Qt Core's stream reader, and
// the answer of a file dialog. (ReplaceFile, without the toolkit, is in
// replacefile.cpp.)
#include "runtime/files/panelfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>

#include <algorithm>
#include <iterator>

#include "runtime/files/files_qt.h"
#include "runtime/runtime.h"

namespace orv_rt {

namespace {

bool Is(const QXmlStreamReader& x, const char* name) {
    return x.name() == QLatin1String(name);
}

PanelProperty ReadProperty(QXmlStreamReader& x) {
    static const QLatin1String kSimple[] = {
        QLatin1String("number"), QLatin1String("string"), QLatin1String("bool"),  QLatin1String("cstring"),
        QLatin1String("enum"),   QLatin1String("set"),    QLatin1String("double")};
    PanelProperty p;
    p.name = x.attributes().value(QLatin1String("name")).toString().toStdString();
    while (x.readNextStartElement()) {
        if (p.type.empty()) {
            p.type = x.name().toString().toStdString();
            if (std::find(std::begin(kSimple), std::end(kSimple), x.name()) != std::end(kSimple)) {
                p.text = x.readElementText(QXmlStreamReader::IncludeChildElements).trimmed().toStdString();
                continue;
            }
        }
        x.skipCurrentElement();
    }
    return p;
}

void ReadWidget(QXmlStreamReader& x, PanelContents& contents, bool root);

void ReadLayout(QXmlStreamReader& x, PanelContents& contents) {
    while (x.readNextStartElement()) {
        if (!Is(x, "item")) {
            x.skipCurrentElement();
            continue;
        }
        while (x.readNextStartElement()) {
            if (Is(x, "widget"))
                ReadWidget(x, contents, false);
            else if (Is(x, "layout"))
                ReadLayout(x, contents);
            else
                x.skipCurrentElement();
        }
    }
}

// A combo box entry: its text.
std::string ReadItem(QXmlStreamReader& x) {
    std::string text;
    while (x.readNextStartElement()) {
        if (Is(x, "property")) {
            PanelProperty p = ReadProperty(x);
            if (p.name == "text")
                text = std::move(p.text);
        } else {
            x.skipCurrentElement();
        }
    }
    return text;
}

void ReadWidget(QXmlStreamReader& x, PanelContents& contents, bool root) {
    const std::size_t index = contents.widgets.size();
    if (!root)
        contents.widgets.push_back(
            {x.attributes().value(QLatin1String("class")).toString().toStdString(), {}, {}});
    while (x.readNextStartElement()) {
        if (Is(x, "property"))
            (root ? contents.rootProperties : contents.widgets[index].properties).push_back(ReadProperty(x));
        else if (Is(x, "widget"))
            ReadWidget(x, contents, false);
        else if (Is(x, "layout"))
            ReadLayout(x, contents);
        else if (Is(x, "item") && !root)
            contents.widgets[index].items.push_back(ReadItem(x));
        else
            x.skipCurrentElement();
    }
}

}  // namespace

const PanelProperty* FindProperty(const std::vector<PanelProperty>& properties, const char* name) {
    for (const PanelProperty& p : properties)
        if (p.name == name)
            return &p;
    return nullptr;
}

std::string ResolvePanelFile(const char* file) {
    const QString name = QFile::decodeName(file);
    if (name.contains('/') || name.contains('\\'))
        return file;
    const QDir exeDir(QCoreApplication::applicationDirPath());
    const QString beside = exeDir.filePath(name);
    QStringList candidates{beside};
#ifdef ORV_DATA_DIR_FROM_BIN
    candidates << QDir(exeDir.filePath(QStringLiteral(ORV_DATA_DIR_FROM_BIN))).filePath(name);
#endif
#ifdef ORV_DATA_DIR
    candidates << QDir(QStringLiteral(ORV_DATA_DIR)).filePath(name);
#endif
    for (const QString& path : candidates)
        if (QFileInfo(path).isFile())
            return QFile::encodeName(path).toStdString();
    return QFile::encodeName(beside).toStdString();
}

bool ReadPanelFile(const std::string& path, PanelContents& contents) {
    const QString name = QFile::decodeName(path.c_str());
    QFile f(name);
    if (!QFileInfo(name).isFile() || !f.open(QIODevice::ReadOnly))
        return false;
    QXmlStreamReader x(&f);
    if (!x.readNextStartElement() || !Is(x, "ui"))
        return false;
    bool haveRoot = false;
    while (x.readNextStartElement()) {
        if (Is(x, "widget") && !haveRoot) {
            ReadWidget(x, contents, true);
            haveRoot = true;
        } else {
            x.skipCurrentElement();
        }
    }
    return haveRoot && !x.hasError();
}

int TakeChosenFile(const QString& chosen, const QString& directory, bool restrictDirectory, char* pathName) {
    if (chosen.isEmpty() ||
        (restrictDirectory && !directory.isEmpty() && QFileInfo(chosen).absoluteDir() != QDir(directory))) {
        pathName[0] = '\0';
        return FILESEL_NONE;
    }
    const bool existed = QFileInfo(chosen).isFile();
    if (CopyPath(QFile::encodeName(QDir::toNativeSeparators(chosen)).toStdString(), pathName, false) < 0)
        return FILESEL_ERR_TOO_LONG;
    return existed ? FILESEL_EXISTING : FILESEL_NEW;
}

}  // namespace orv_rt
