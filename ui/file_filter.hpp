// File-type filters of the open and save dialogs. The program writes them as
// "Description|*.a;*.b|Description|*.c" pairs; Qt's file dialog wants one
// "Description (*.a *.b)" entry per type.
#pragma once

#include <QString>
#include <QStringList>
#include <string>

namespace velkor::ui {

// One Qt filter entry per description/pattern pair, in order. Each pattern
// is offered as written, in lower case and in upper case, since file names
// here are case-sensitive. A description without patterns matches every
// file; an empty description takes the patterns' text.
QStringList QtFileFilters(const std::string& filter);

// The entry to preselect: the 1-based index into the list, or the first
// entry when the index is out of range; empty when there is no entry.
QString SelectedFileFilter(const QStringList& filters, int filterIndex);

// "*.log", ".log" or "log" all give "log"; "*.*" and "*" give none.
QString DialogDefaultSuffix(const std::string& defaultExtension);

// The suffix a save dialog adds to a typed name while this Qt filter entry
// is chosen: its first pattern's, in lower case ("All Intel Hex Files
// (*.HEX *.hex)" gives "hex"); none for a filter of every file.
QString FilterDefaultSuffix(const QString& qtFilter);

}  // namespace velkor::ui
