// The language the program speaks in: the original texts (Chinese and
// English as the programmer's own tools have always shown them) or English
// throughout. One language holds for a whole run, so a log file never mixes
// them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velkor {

enum class Language { Original, English };

// "zh" (the original texts) or "en"; nothing for another name.
std::optional<Language> LanguageNamed(std::string_view name);
std::string_view LanguageName(Language language);
// The names LanguageNamed takes, for help texts and error messages.
inline constexpr const char* kLanguageNames = "zh, en";

// The language of the run: set once at start-up, before the first text is
// shown. The original texts until then.
void UseLanguage(Language language);
Language CurrentLanguage();

// The language named by VELKOR_LANGUAGE; nothing when it is unset or empty.
// A name that is not a language comes back in unknownName.
std::optional<Language> LanguageFromEnvironment(std::string* unknownName = nullptr);

// The language a program starts in: the one named on its command line, else
// VELKOR_LANGUAGE's, else the one remembered from the last run (the window),
// else the original texts. A name that is not a language is an error that
// names it, and where it came from.
struct LanguageChoice {
  Language language = Language::Original;
  std::string error;
};
LanguageChoice ChooseLanguage(std::string_view option, std::string_view remembered = {});

}  // namespace velkor
