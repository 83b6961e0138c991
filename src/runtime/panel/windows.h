// What the runtime's own windows beside the panel share (the status history,
// the line view): a window of the panel that Escape closes, a row of
// buttons, copying and saving their text. Private to src/runtime/panel.
#pragma once

#include <QLabel>
#include <QPushButton>
#include <QString>
#include <QWidget>

namespace orv_rt {

// Makes `w` a window of the panel's window `owner` (closed with it, kept
// above it), titled `title`, that Escape closes.
void MakeOwnWindow(QWidget* w, QWidget* owner, const QString& title);
// A push button named `name` (for screen readers too) with a tooltip.
QPushButton* Button(QWidget* parent, const QString& text, const QString& name, const QString& tip);
// Puts `text` on the clipboard.
void CopyText(const QString& text);
// Asks where to save `text` (the project directory, a name "<prefix>-YYYYMMDD-HHMMSS.txt"
// proposed) and writes it; says on `note` what became of it.
void SaveText(const QString& title, const QString& prefix, const QString& text, QLabel* note);
// Shows the window, or raises it when it is shown already.
void Raise(QWidget* w);

}  // namespace orv_rt
