// What the window remembers from one run to the next: the chip, the job's
// settings, the log file's mode, the last folder of each kind of file
// dialog, the window's size and place, the recent files and the language.
// They live in an INI file at the user's configuration place
// ($XDG_CONFIG_HOME/velkor350qn/velkor350qn.conf, ~/.config/... when the
// variable is not set), read once when the program starts and written
// whole by Save.
#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "app/controls.hpp"
#include "app/view.hpp"

namespace velkor::ui {

class RememberedSettings {
 public:
  static constexpr int kRecentFileLimit = 8;

  // The user's settings file.
  static QString UserFile();

  // Reads file; when fresh, nothing of it is taken (the defaults hold) and
  // Save writes over it. With no file at all, everything is kept for this
  // run only.
  RememberedSettings(QString file, bool fresh);

  const QString& File() const { return file_; }
  // Writes every value to the file (through a temporary file and a rename);
  // false when it could not be written. Nothing to do without a file.
  bool Save() const;

  // The caption of the last chosen chip; empty when none.
  QString Chip() const;
  void SetChip(const QString& caption);

  // The values of the named controls, stored under group.
  void StoreControls(const QString& group, std::span<const char* const> names,
                     const std::vector<NamedControl>& controls);
  // A stored value that does not fit its control as it is now.
  struct LeftOut {
    QString key;    // "group/Name", as the file names it
    QString value;  // what the file holds
  };
  // Puts the stored values of the named controls into the state, in the
  // order of names: each only when it fits whole (a check box's true or
  // false, an item index the control has, a spin value inside its range, a
  // text within the edit's length). changed(name) runs after each value
  // that differs from what the control held. Returns the values left out.
  std::vector<LeftOut> RestoreControls(const QString& group, std::span<const char* const> names,
                                       const std::vector<NamedControl>& controls,
                                       const std::function<void(const std::string& name)>& changed) const;

  // The folder the last dialog of this kind was answered in; empty when
  // none is stored or it is no longer there.
  QString Folder(FileDialogPurpose purpose) const;
  void SetFolder(FileDialogPurpose purpose, const QString& folder);

  // The window's size and place (QWidget::saveGeometry); empty when none.
  QByteArray Geometry() const;
  void SetGeometry(const QByteArray& geometry);

  // The files last loaded, most recent first.
  QStringList RecentFiles() const;
  // Puts path first; it leaves its old place, and the oldest beyond the
  // limit drop off.
  void AddRecentFile(const QString& path);
  void ForgetRecentFile(const QString& path);
  static QStringList WithRecentFile(QStringList files, const QString& path);

  // The language of the texts ("" for the program's default).
  QString Language() const;
  void SetLanguage(const QString& language);

 private:
  QString file_;
  QMap<QString, QVariant> values_;
};

}  // namespace velkor::ui
