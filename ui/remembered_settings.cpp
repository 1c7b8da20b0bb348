#include "remembered_settings.hpp"
#include "overloaded.hpp"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <optional>
#include <stdexcept>
#include <utility>
#include <variant>

namespace velkor::ui {

namespace {

const QString kChipKey = "chip";
const QString kLanguageKey = "language";
const QString kGeometryKey = "geometry";
const QString kRecentFilesKey = "recentFiles";

constexpr std::pair<FileDialogPurpose, const char*> kFolderKeys[] = {
    {FileDialogPurpose::Other, "folders/other"},
    {FileDialogPurpose::ObjectLoad, "folders/objectLoad"},
    {FileDialogPurpose::ObjectSave, "folders/objectSave"},
    {FileDialogPurpose::Project, "folders/project"},
    {FileDialogPurpose::LogSave, "folders/logSave"},
    {FileDialogPurpose::LogFile, "folders/logFile"},
};

QString FolderKey(FileDialogPurpose purpose) {
  for (const auto& [known, key] : kFolderKeys)
    if (known == purpose) return key;
  throw std::logic_error("a file dialog purpose without a settings key");
}

QString ControlKey(const QString& group, const char* name) { return group + '/' + QLatin1String(name); }

const ControlRef& ControlNamed(const std::vector<NamedControl>& controls, const char* name) {
  for (const NamedControl& control : controls)
    if (std::string_view(control.name) == name) return control.control;
  throw std::logic_error(std::string("no control named ") + name + " to remember");
}

[[noreturn]] void NoValue(const char* name) {
  throw std::logic_error(std::string("control ") + name + " holds no value to remember");
}

QVariant ValueOf(const ControlRef& control, const char* name) {
  return std::visit(Overloaded{
                        [](const CheckControl* c) { return QVariant(c->Checked); },
                        [](const EditControl* c) { return QVariant(QString::fromStdString(c->Text)); },
                        [](const RadioGroupControl* c) { return QVariant(c->ItemIndex); },
                        [](const ComboControl* c) { return QVariant(c->ItemIndex); },
                        [](const SpinControl* c) { return QVariant(c->Value); },
                        [name](const auto*) -> QVariant { NoValue(name); },
                    },
                    control);
}

enum class Outcome { LeftOut, Same, Changed };

template <typename T>
Outcome Assign(T& field, T value) {
  if (field == value) return Outcome::Same;
  field = std::move(value);
  return Outcome::Changed;
}

// An index of one of count items, or nothing.
std::optional<int> IndexIn(const QString& text, std::size_t count) {
  bool ok = false;
  const int index = text.toInt(&ok);
  if (!ok || index < 0 || static_cast<std::size_t>(index) >= count) return std::nullopt;
  return index;
}

// Puts text into the control when it fits whole.
Outcome Apply(const ControlRef& control, const char* name, const QString& text) {
  return std::visit(
      Overloaded{
          [&](CheckControl* c) {
            if (text != "true" && text != "false") return Outcome::LeftOut;
            return Assign(c->Checked, text == "true");
          },
          [&](EditControl* c) {
            if (c->MaxLength > 0 && text.size() > c->MaxLength) return Outcome::LeftOut;
            return Assign(c->Text, text.toStdString());
          },
          [&](RadioGroupControl* c) {
            const std::optional<int> index = IndexIn(text, c->Items.size());
            return index ? Assign(c->ItemIndex, *index) : Outcome::LeftOut;
          },
          [&](ComboControl* c) {
            const std::optional<int> index = IndexIn(text, c->Items.size());
            return index ? Assign(c->ItemIndex, *index) : Outcome::LeftOut;
          },
          [&](SpinControl* c) {
            bool ok = false;
            const int value = text.toInt(&ok);
            if (!ok || value < c->MinValue || value > c->MaxValue) return Outcome::LeftOut;
            return Assign(c->Value, value);
          },
          [name](auto*) -> Outcome { NoValue(name); },
      },
      control);
}

// What the file holds as one plain value; a list or anything else is no
// control's value.
std::optional<QString> PlainText(const QVariant& value) {
  switch (value.typeId()) {
    case QMetaType::QString:
    case QMetaType::Bool:
    case QMetaType::Int:
      return value.toString();
    default:
      return std::nullopt;
  }
}

}  // namespace

QString RememberedSettings::UserFile() {
  // The generic configuration place is $XDG_CONFIG_HOME, else ~/.config.
  const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
  return base + "/velkor350qn/velkor350qn.conf";
}

RememberedSettings::RememberedSettings(QString file, bool fresh) : file_(std::move(file)) {
  if (file_.isEmpty() || fresh) return;
  const QSettings stored(file_, QSettings::IniFormat);
  for (const QString& key : stored.allKeys()) values_.insert(key, stored.value(key));
}

bool RememberedSettings::Save() const {
  if (file_.isEmpty()) return true;
  QDir().mkpath(QFileInfo(file_).absolutePath());
  QSettings stored(file_, QSettings::IniFormat);
  stored.clear();
  for (auto value = values_.cbegin(); value != values_.cend(); ++value) stored.setValue(value.key(), value.value());
  stored.sync();
  return stored.status() != QSettings::AccessError;
}

QString RememberedSettings::Chip() const { return values_.value(kChipKey).toString(); }

void RememberedSettings::SetChip(const QString& caption) { values_.insert(kChipKey, caption); }

void RememberedSettings::StoreControls(const QString& group, std::span<const char* const> names,
                                       const std::vector<NamedControl>& controls) {
  for (const char* name : names) values_.insert(ControlKey(group, name), ValueOf(ControlNamed(controls, name), name));
}

std::vector<RememberedSettings::LeftOut> RememberedSettings::RestoreControls(
    const QString& group, std::span<const char* const> names, const std::vector<NamedControl>& controls,
    const std::function<void(const std::string& name)>& changed) const {
  std::vector<LeftOut> leftOut;
  for (const char* name : names) {
    const ControlRef& control = ControlNamed(controls, name);
    const QString key = ControlKey(group, name);
    const auto stored = values_.constFind(key);
    if (stored == values_.cend()) continue;
    const std::optional<QString> text = PlainText(*stored);
    const Outcome outcome = text ? Apply(control, name, *text) : Outcome::LeftOut;
    if (outcome == Outcome::LeftOut)
      leftOut.push_back({key, text ? *text : stored->toStringList().join(',')});
    else if (outcome == Outcome::Changed)
      changed(name);
  }
  return leftOut;
}

QString RememberedSettings::Folder(FileDialogPurpose purpose) const {
  const QString folder = values_.value(FolderKey(purpose)).toString();
  if (folder.isEmpty() || !QFileInfo(folder).isDir()) return {};
  return folder;
}

void RememberedSettings::SetFolder(FileDialogPurpose purpose, const QString& folder) {
  values_.insert(FolderKey(purpose), folder);
}

QByteArray RememberedSettings::Geometry() const { return values_.value(kGeometryKey).toByteArray(); }

void RememberedSettings::SetGeometry(const QByteArray& geometry) { values_.insert(kGeometryKey, geometry); }

QStringList RememberedSettings::RecentFiles() const {
  QStringList files = values_.value(kRecentFilesKey).toStringList();
  files.removeAll(QString());
  files.removeDuplicates();
  while (files.size() > kRecentFileLimit) files.removeLast();
  return files;
}

QStringList RememberedSettings::WithRecentFile(QStringList files, const QString& path) {
  files.removeAll(path);
  files.prepend(path);
  while (files.size() > kRecentFileLimit) files.removeLast();
  return files;
}

void RememberedSettings::AddRecentFile(const QString& path) {
  values_.insert(kRecentFilesKey, WithRecentFile(RecentFiles(), path));
}

void RememberedSettings::ForgetRecentFile(const QString& path) {
  QStringList files = RecentFiles();
  files.removeAll(path);
  values_.insert(kRecentFilesKey, files);
}

QString RememberedSettings::Language() const { return values_.value(kLanguageKey).toString(); }

void RememberedSettings::SetLanguage(const QString& language) { values_.insert(kLanguageKey, language); }

}  // namespace velkor::ui
