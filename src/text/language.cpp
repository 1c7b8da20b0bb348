#include "text/language.hpp"

#include <atomic>
#include <cstdlib>

namespace velkor {

namespace {

struct LanguageName_ {
  Language language;
  std::string_view name;
};
constexpr LanguageName_ kNames[] = {{Language::Original, "zh"}, {Language::English, "en"}};

// Read from the serial workers' log lines too, hence atomic.
std::atomic<Language> currentLanguage{Language::Original};

}  // namespace

std::optional<Language> LanguageNamed(std::string_view name) {
  for (const LanguageName_& entry : kNames)
    if (entry.name == name) return entry.language;
  return std::nullopt;
}

std::string_view LanguageName(Language language) {
  for (const LanguageName_& entry : kNames)
    if (entry.language == language) return entry.name;
  return {};
}

void UseLanguage(Language language) { currentLanguage.store(language); }

Language CurrentLanguage() { return currentLanguage.load(); }

std::optional<Language> LanguageFromEnvironment(std::string* unknownName) {
  const char* value = std::getenv("VELKOR_LANGUAGE");
  if (!value || !*value) return std::nullopt;
  std::optional<Language> language = LanguageNamed(value);
  if (!language && unknownName) *unknownName = value;
  return language;
}

LanguageChoice ChooseLanguage(std::string_view option, std::string_view remembered) {
  LanguageChoice choice;
  auto refuse = [&choice](std::string_view name, const char* source) {
    choice.error =
        std::string(source) + " names no language: \"" + std::string(name) + "\" (use " + kLanguageNames + ")";
  };
  if (!option.empty()) {
    if (const std::optional<Language> named = LanguageNamed(option)) choice.language = *named;
    else refuse(option, "--language");
    return choice;
  }
  std::string unknown;
  if (const std::optional<Language> fromEnvironment = LanguageFromEnvironment(&unknown)) {
    choice.language = *fromEnvironment;
    return choice;
  }
  if (!unknown.empty()) {
    refuse(unknown, "VELKOR_LANGUAGE");
    return choice;
  }
  // A remembered name that no longer means anything is forgotten quietly:
  // the operator did not type it this time.
  if (const std::optional<Language> rememberedLanguage = LanguageNamed(remembered))
    choice.language = *rememberedLanguage;
  return choice;
}

}  // namespace velkor
