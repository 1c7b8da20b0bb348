// The text table against the program's sources and controls: every text a
// person sees must have its entry, and every translation must fit where the
// original goes.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <string>
#include <variant>

#include "app/controls.hpp"
#include "text/language.hpp"
#include "text/source_literals.hpp"
#include "text/text_table.hpp"

namespace velkor {
namespace {

using test::HasChinese;
using test::LiteralsBelow;
using test::SourceLiteral;

const std::filesystem::path kRoot = VELKOR_SOURCE_DIR;

// The folders of the programs a person uses (the simulator stands in for
// hardware and speaks to the tests only).
const std::vector<SourceLiteral>& ProgramLiterals() {
  static const std::vector<SourceLiteral> literals = LiteralsBelow({kRoot / "src", kRoot / "ui", kRoot / "cli"});
  return literals;
}

std::string Where(const SourceLiteral& literal) {
  return std::filesystem::relative(literal.file, kRoot).string() + ":" + std::to_string(literal.line) + ": \"" +
         literal.text + "\"";
}

// The printf conversions of a format, in order ("%d", "%08X", "%s", ...).
std::vector<std::string> Conversions(const std::string& format) {
  static const std::regex conversion(R"(%[-+ #0]*(\*|\d+)?(\.\d+)?(hh|h|ll|l|z|j|t)?[diouxXcsfFeEgGp%])");
  std::vector<std::string> found;
  for (auto it = std::sregex_iterator(format.begin(), format.end(), conversion); it != std::sregex_iterator(); ++it)
    found.push_back(it->str());
  return found;
}

class LanguageScope {
 public:
  explicit LanguageScope(Language language) : before_(CurrentLanguage()) { UseLanguage(language); }
  ~LanguageScope() { UseLanguage(before_); }

 private:
  Language before_;
};

TEST(TextTableTest, EveryChineseTextInTheProgramsHasAnEnglishTranslation) {
  std::vector<std::string> missing;
  for (const SourceLiteral& literal : ProgramLiterals()) {
    if (!HasChinese(literal.text)) continue;
    const TextEntry* entry = FindText(literal.text);
    if (!entry || !entry->english) missing.push_back(Where(literal));
  }
  EXPECT_TRUE(missing.empty()) << missing.size() << " texts without an English translation, e.g.\n"
                               << (missing.empty() ? "" : missing.front());
  for (const std::string& line : missing) ADD_FAILURE() << line;
}

// The calls that put their text in front of a person: the log, message
// boxes and questions, refusals, and velkor-cli's messages and listings.
const std::set<std::string> kCallsThatShowText = {
    "AppendInfo",     "AppendPlain", "ChannelLog",       "Warn",    "LineNotice", "ShowMessage",
    "ShowResultText", "AskQuestion", "RefusedWhileBusy", "Message", "Listing",
};

// The literals handed to such a call as they are, past the text table: a
// shown text goes in as Tx("...") or FormatText(Tx("..."), ...), so a
// literal whose innermost call is one of these was never looked up. Blanks
// alone (an empty line of the log) have nothing to translate.
std::vector<SourceLiteral> TextsShownUntranslated(const std::vector<SourceLiteral>& literals) {
  std::vector<SourceLiteral> found;
  for (const SourceLiteral& literal : literals) {
    const bool blank = literal.text.find_first_not_of(" \n") == std::string::npos;
    if (kCallsThatShowText.count(literal.call) && !blank) found.push_back(literal);
  }
  return found;
}

TEST(TextTableTest, EveryTextHandedToACallThatShowsItGoesThroughTheTable) {
  const std::vector<SourceLiteral> found = TextsShownUntranslated(ProgramLiterals());
  EXPECT_TRUE(found.empty()) << found.size() << " texts shown without the text table, e.g.\n"
                             << (found.empty() ? "" : Where(found.front()));
  for (const SourceLiteral& literal : found) ADD_FAILURE() << Where(literal);
}

TEST(TextTableTest, EveryTextMarkedForTranslationIsInTheTable) {
  static const std::set<std::string> kMarks = {"Tx", "TextKey", "tr"};
  int marked = 0;
  for (const SourceLiteral& literal : ProgramLiterals()) {
    if (!kMarks.count(literal.call)) continue;
    ++marked;
    EXPECT_NE(FindText(literal.text), nullptr) << Where(literal);
  }
  EXPECT_GT(marked, 0) << "the scan found no marked text at all";
}

// Every caption, hint, label and item of the window's controls; the text of
// an edit box only when the operator cannot change it (a prompt).
std::vector<std::pair<std::string, std::string>> ControlTexts(std::vector<NamedControl> controls) {
  std::vector<std::pair<std::string, std::string>> texts;
  auto add = [&texts](const char* name, const std::string& text) {
    if (!text.empty()) texts.emplace_back(name, text);
  };
  for (const NamedControl& named : controls) {
    std::visit(
        [&](auto* control) {
          using Type = std::remove_pointer_t<decltype(control)>;
          if constexpr (requires { control->Caption; }) add(named.name, control->Caption);
          if constexpr (requires { control->Hint; }) add(named.name, control->Hint);
          if constexpr (requires { control->Label; }) add(named.name, control->Label);
          if constexpr (requires { control->Items; })
            for (const std::string& item : control->Items) add(named.name, item);
          if constexpr (std::is_same_v<Type, EditControl>)
            if (control->ReadOnly) add(named.name, control->Text);
        },
        named.control);
  }
  return texts;
}

TEST(TextTableTest, EveryControlTextIsInTheTable) {
  MainControls main;
  LogCfgControls logConfig;
  ConfigSNControls fixedData;
  std::vector<std::pair<std::string, std::string>> texts = ControlTexts(main.All());
  for (auto& text : ControlTexts(logConfig.All())) texts.push_back(text);
  for (auto& text : ControlTexts(fixedData.All())) texts.push_back(text);
  ASSERT_GT(texts.size(), 100u);
  for (const auto& [name, text] : texts) EXPECT_NE(FindText(text), nullptr) << name << ": \"" << text << "\"";
}

TEST(TextTableTest, TranslationsKeepTheFormatConversionsInOrder) {
  for (const TextEntry& entry : TextTable()) {
    if (!entry.english) continue;
    EXPECT_EQ(Conversions(entry.original), Conversions(entry.english)) << entry.original;
  }
}

TEST(TextTableTest, EnglishTextsAreEnglishAndEachOriginalHasOneEntry) {
  std::map<std::string, int> seen;
  for (const TextEntry& entry : TextTable()) {
    const std::string english = entry.english ? entry.english : entry.original;
    EXPECT_FALSE(HasChinese(english)) << entry.original;
    EXPECT_FALSE(english.empty()) << entry.original;
    EXPECT_EQ(++seen[entry.original], 1) << "twice in the table: " << entry.original;
  }
}

TEST(TextTableTest, TxGivesTheTextOfTheLanguageInUse) {
  const TextEntry* translated = nullptr;
  const TextEntry* kept = nullptr;
  for (const TextEntry& entry : TextTable()) {
    if (entry.english && !translated) translated = &entry;
    if (!entry.english && !kept) kept = &entry;
  }
  ASSERT_NE(translated, nullptr);
  ASSERT_NE(kept, nullptr);
  const char* unknown = "a text the table does not hold";
  struct Case {
    Language language;
    const char* original;
    std::string expected;
  };
  const Case cases[] = {
      {Language::Original, translated->original, translated->original},
      {Language::English, translated->original, translated->english},
      {Language::English, kept->original, kept->original},
      {Language::English, unknown, unknown},
      {Language::Original, unknown, unknown},
  };
  for (const Case& c : cases) {
    LanguageScope scope(c.language);
    EXPECT_EQ(std::string(Tx(c.original)), c.expected);
    EXPECT_EQ(std::string(Tx(std::string_view(c.original))), c.expected);
  }
}

TEST(TextTableTest, LanguagesAreNamedZhAndEn) {
  EXPECT_EQ(LanguageNamed("zh"), Language::Original);
  EXPECT_EQ(LanguageNamed("en"), Language::English);
  EXPECT_EQ(LanguageNamed("EN"), std::nullopt);
  EXPECT_EQ(LanguageNamed(""), std::nullopt);
  EXPECT_EQ(LanguageName(Language::English), "en");
}

// The command line wins over the environment, the environment over what the
// window remembered; a wrong name is refused where the operator typed it.
TEST(TextTableTest, TheLanguageComesFromTheOptionThenTheEnvironmentThenTheLastRun) {
  struct Case {
    const char* option;
    const char* environment;  // nullptr: unset
    const char* remembered;
    Language expected;
    bool refused;
  };
  const Case cases[] = {
      {"", nullptr, "", Language::Original, false},
      {"", nullptr, "en", Language::English, false},
      {"", nullptr, "klingon", Language::Original, false},
      {"", "en", "zh", Language::English, false},
      {"", "", "en", Language::English, false},
      {"zh", "en", "en", Language::Original, false},
      {"en", nullptr, "", Language::English, false},
      {"fr", "en", "en", Language::Original, true},
      {"", "fr", "en", Language::Original, true},
  };
  for (const Case& c : cases) {
    if (c.environment) setenv("VELKOR_LANGUAGE", c.environment, 1);
    else unsetenv("VELKOR_LANGUAGE");
    const LanguageChoice choice = ChooseLanguage(c.option, c.remembered);
    EXPECT_EQ(choice.language, c.expected)
        << c.option << "/" << (c.environment ? c.environment : "-") << "/" << c.remembered;
    EXPECT_EQ(!choice.error.empty(), c.refused) << choice.error;
  }
  unsetenv("VELKOR_LANGUAGE");
}

// The innermost call whose parentheses hold a literal, at any argument.
TEST(SourceLiteralsTest, KnowsTheCallALiteralSitsInAtAnyArgument) {
  struct Case {
    const char* source;
    const char* call;
  };
  const Case cases[] = {
      {"f(\"a\");", "f"},
      {"f(1, g(2), \"a\");", "f"},
      {"f(1,\n  \"\"\n  \"a\");", "f"},
      {"f(1, Tx(\"a\"), 2);", "Tx"},
      {"f(FormatText(Tx(\"a\"), 3));", "Tx"},
      {"f(x ? \"a\" : b);", "f"},
      {"f((\"a\"));", ""},
      {"f(g(1), static_cast<int>(2), \"a\");", "f"},
      {"f(')', \"a\");", "f"},
      {"f(\")\", \"a\");", "f"},
      {"Post([] { return \"a\"; });", ""},
      {"auto a = \"a\";", ""},
      {"f(1); auto a = \"a\";", ""},
  };
  for (const Case& c : cases) {
    const std::vector<test::SourceLiteral> literals = test::LiteralsOf(c.source);
    ASSERT_FALSE(literals.empty()) << c.source;
    EXPECT_EQ(literals.back().text, "a") << c.source;
    EXPECT_EQ(literals.back().call, c.call) << c.source;
  }
}

TEST(SourceLiteralsTest, FindsATextShownWithoutTheTable) {
  const std::string source =
      "AppendInfo(Tx(\"kept\"));\n"
      "ChannelLog(ch, FormatText(Tx(\"kept %d\"), n));\n"
      "ShowMessage(MessageKind::Warning,\n    \"planted\");\n"
      "output_.Message(kind, std::string(Tx(\"kept\")) + name);\n"
      "Warn(error + \"planted too\");\n"
      "AppendPlain(\"\"); AppendPlain(\" \");\n"
      "auto json = \"{\\\"result\\\":1}\";\n";
  const std::vector<SourceLiteral> found = TextsShownUntranslated(test::LiteralsOf(source));
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].text, "planted");
  EXPECT_EQ(found[0].line, 4);
  EXPECT_EQ(found[1].text, "planted too");
}

TEST(SourceLiteralsTest, ReadsLiteralsAsTheCompilerDoes) {
  const std::string source =
      "// \"in a comment\"\n"
      "/* \"in a block\" */ auto a = Tx(\"one \\\"quoted\\\" \" \"two\");\n"
      "char q = '\"'; int n = 1'000; f( \"x\\n\" );\n"
      "auto r = R\"(raw \"text\")\";\n";
  const std::vector<test::SourceLiteral> literals = test::LiteralsOf(source);
  ASSERT_EQ(literals.size(), 3u);
  EXPECT_EQ(literals[0].text, "one \"quoted\" two");
  EXPECT_EQ(literals[0].call, "Tx");
  EXPECT_EQ(literals[0].line, 2);
  EXPECT_EQ(literals[1].text, "x\n");
  EXPECT_EQ(literals[1].call, "f");
  EXPECT_EQ(literals[2].text, "raw \"text\"");
  EXPECT_EQ(literals[2].call, "");
  EXPECT_TRUE(HasChinese("操作成功！"));
  EXPECT_TRUE(HasChinese("a：b"));
  EXPECT_FALSE(HasChinese("Programs › SPI … · ok"));
}

}  // namespace
}  // namespace velkor
