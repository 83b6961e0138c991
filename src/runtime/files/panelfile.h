// The panel file as read, for the panel model, and the files the panel
// writes. Toolkit-free; the reading uses Qt Core's XML reader inside.
#pragma once

#include <string>
#include <vector>

namespace orv_rt {

// One property of a widget in the panel file: its name, the element that
// holds its value (number, string, bool, enum, ...) and the value as text.
// Only simple values are kept; a compound one (a size, a font) has an empty
// text.
struct PanelProperty {
    std::string name, type, text;
};

struct PanelWidget {
    std::string className;
    std::vector<PanelProperty> properties;  // in file order
    std::vector<std::string> items;         // the entries of a combo box
};

// A panel file (Qt Designer XML): the properties of its top widget, and every
// widget below it in file order, however deep in layouts and containers.
struct PanelContents {
    std::vector<PanelProperty> rootProperties;
    std::vector<PanelWidget> widgets;
};

// The property of that name, or nullptr.
const PanelProperty* FindProperty(const std::vector<PanelProperty>& properties, const char* name);

// Where a panel file named `file` is: a path as it is given; a bare name next
// to the executable (the build tree), then in the data directory of the
// installation the executable belongs to (<exe dir>/../share/orvanscope,
// wherever it was unpacked), then in that of the configured install prefix.
std::string ResolvePanelFile(const char* file);

// Reads the panel file at `path`; false when it is missing, not a regular
// file or not a well-formed panel file.
bool ReadPanelFile(const std::string& path, PanelContents& contents);

// Writes `bytes` as the whole new contents of the file at `path`, through a
// rename, so that a reader never sees half a file. 0, or FILE_ERR_NOT_FILE
// when `path` names anything but a regular file (it would be replaced), or
// FILE_ERR_WRITE.
int ReplaceFile(const char* path, const std::string& bytes);

}  // namespace orv_rt
