#include "file_filter.hpp"

namespace velkor::ui {

QStringList QtFileFilters(const std::string& filter) {
  const QStringList parts = QString::fromStdString(filter).split('|');
  QStringList filters;
  for (qsizetype i = 0; i + 1 <= parts.size(); i += 2) {
    const QString description = parts[i].trimmed();
    QStringList patterns;
    if (i + 1 < parts.size()) {
      for (const QString& pattern : parts[i + 1].split(';', Qt::SkipEmptyParts)) {
        // Names on Linux are case-sensitive where the patterns were written
        // for a system that is not: offer "x.HEX" as well as "x.hex".
        const QString trimmed = pattern.trimmed();
        for (const QString& variant : {trimmed, trimmed.toLower(), trimmed.toUpper()})
          if (!variant.isEmpty() && !patterns.contains(variant)) patterns << variant;
      }
    }
    if (description.isEmpty() && patterns.isEmpty()) continue;
    if (patterns.isEmpty()) patterns << "*";
    const QString joined = patterns.join(' ');
    filters << QString("%1 (%2)").arg(description.isEmpty() ? joined : description, joined);
  }
  return filters;
}

QString SelectedFileFilter(const QStringList& filters, int filterIndex) {
  if (filters.isEmpty()) return {};
  if (filterIndex < 1 || filterIndex > filters.size()) return filters.front();
  return filters[filterIndex - 1];
}

QString DialogDefaultSuffix(const std::string& defaultExtension) {
  QString suffix = QString::fromStdString(defaultExtension).trimmed();
  if (suffix.startsWith('*')) suffix.remove(0, 1);
  if (suffix.startsWith('.')) suffix.remove(0, 1);
  if (suffix.contains('*') || suffix.contains('?')) return {};
  return suffix;
}

QString FilterDefaultSuffix(const QString& qtFilter) {
  // The patterns are the words inside the last pair of parentheses.
  const qsizetype open = qtFilter.lastIndexOf('(');
  const qsizetype close = qtFilter.lastIndexOf(')');
  if (open < 0 || close < open) return {};
  const QStringList patterns = qtFilter.mid(open + 1, close - open - 1).split(' ', Qt::SkipEmptyParts);
  if (patterns.isEmpty()) return {};
  return DialogDefaultSuffix(patterns.front().toLower().toStdString());
}

}  // namespace velkor::ui
