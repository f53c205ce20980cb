#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/locale/Locale.h"

namespace platform {
namespace {

// Clears the locale variables for one test and restores them (and the user
// settings built from them) afterwards.
class LocaleEnvironment {
 public:
  LocaleEnvironment() {
    for (const char* name : Names) {
      const char* value = std::getenv(name);
      saved_.emplace_back(value ? std::optional<std::string>(value) : std::nullopt);
      unsetenv(name);
    }
  }
  ~LocaleEnvironment() {
    for (std::size_t i = 0; i < std::size(Names); ++i) {
      if (saved_[i]) {
        setenv(Names[i], saved_[i]->c_str(), 1);
      } else {
        unsetenv(Names[i]);
      }
    }
    FormatSettings::ReloadUser();
  }
  void Set(const char* name, const char* value) { setenv(name, value, 1); }

 private:
  static constexpr const char* Names[] = {"LC_ALL",     "LC_NUMERIC", "LC_MONETARY", "LC_TIME",
                                          "LC_COLLATE", "LC_CTYPE",   "LANG"};
  std::vector<std::optional<std::string>> saved_;
};

// What each category of the user settings follows, read from its behaviour.
struct Seen {
  std::string numbers, currency, dates, texts;
};

Seen Observe() {
  FormatSettings::ReloadUser();
  const FormatSettings& user = FormatSettings::User();
  Seen seen;
  seen.numbers = user.FormatFloat(1.5) == "1,5" ? "de" : "en";
  seen.currency = user.CurrencySymbol() == "$" ? "en" : "de";
  seen.dates = user.FormatShortDate(EncodeDate(2027, 1, 15)) == "15.01.2027" ? "de" : "en";
  seen.texts = user.UpperCase(std::u16string_view(u"i")) == u"\u0130" ? "tr" : "other";
  return seen;
}

TEST(LocaleEnvTest, UnsetOrNeutralMeansGerman) {
  for (const char* lang : {static_cast<const char*>(nullptr), "", "C", "C.UTF-8", "POSIX"}) {
    LocaleEnvironment env;
    if (lang != nullptr) env.Set("LANG", lang);
    const Seen seen = Observe();
    EXPECT_EQ(seen.numbers, "de") << (lang ? lang : "unset");
    EXPECT_EQ(seen.currency, "de");
    EXPECT_EQ(seen.dates, "de");
    EXPECT_EQ(FormatSettings::User().LocaleName(), "de_DE");
  }
}

TEST(LocaleEnvTest, CategoriesFollowTheirVariables) {
  const struct {
    std::vector<std::pair<const char*, const char*>> variables;
    const char* expected;  // numbers, currency, dates, texts
  } cases[] = {
      {{{"LANG", "en_US.UTF-8"}}, "en en en other"},
      {{{"LANG", "en_US.UTF-8"}, {"LC_NUMERIC", "de_DE.UTF-8"}}, "de en en other"},
      {{{"LANG", "de_DE.UTF-8"}, {"LC_MONETARY", "en_US.UTF-8"}, {"LC_TIME", "en_US"}},
       "de en en other"},
      {{{"LANG", "en_US.UTF-8"}, {"LC_NUMERIC", "en_US.UTF-8"}, {"LC_ALL", "de_DE@euro"}},
       "de de de other"},
      // An empty variable counts as unset.
      {{{"LANG", "de_DE.UTF-8"}, {"LC_ALL", ""}, {"LC_TIME", "en_US.UTF-8"}}, "de de en other"},
      {{{"LANG", "de_DE.UTF-8"}, {"LC_COLLATE", "tr_TR.UTF-8"}}, "de de de tr"},
      {{{"LANG", "de_DE.UTF-8"}, {"LC_CTYPE", "tr_TR.UTF-8"}}, "de de de tr"},
      {{{"LANG", "tr_TR.UTF-8"}, {"LC_COLLATE", "de_DE.UTF-8"}, {"LC_CTYPE", "tr_TR.UTF-8"}},
       "de de de other"},
  };
  for (const auto& c : cases) {
    LocaleEnvironment env;
    std::string label;
    for (const auto& [name, value] : c.variables) {
      env.Set(name, value);
      label += std::string(name) + "=" + value + " ";
    }
    const Seen seen = Observe();
    EXPECT_EQ(seen.numbers + " " + seen.currency + " " + seen.dates + " " + seen.texts, c.expected)
        << label;
  }
}

TEST(LocaleEnvTest, EarlierReferencesSurviveReload) {
  LocaleEnvironment env;
  env.Set("LANG", "en_US.UTF-8");
  FormatSettings::ReloadUser();
  const FormatSettings& before = FormatSettings::User();
  env.Set("LANG", "de_DE.UTF-8");
  FormatSettings::ReloadUser();
  EXPECT_EQ(FormatSettings::User().FormatFloat(2.5), "2,5");
  EXPECT_EQ(before.FormatFloat(2.5), "2.5");
}

// Several threads share one instance; each result must equal the one
// computed alone beforehand.
TEST(LocaleEnvTest, ConcurrentUse) {
  const FormatSettings& settings = FormatSettings::User();
  const FormatSettings shared("de_DE");
  const std::u16string words[] = {u"Apfel", u"\u00C4pfel", u"apfel", u"Birne", u"b", u""};
  struct Expected {
    std::string currency, number, date;
    int compare[6][6][2];
  } expected;
  expected.currency = shared.FormatCurrency(1234.56, 10, 2);
  expected.number = shared.FormatFloat(1.0 / 7);
  expected.date = shared.FormatDateTime(EncodeDate(2027, 1, 15) + 0.5);
  for (int a = 0; a < 6; ++a) {
    for (int b = 0; b < 6; ++b) {
      for (int c = 0; c < 2; ++c)
        expected.compare[a][b][c] = shared.Compare(words[a], words[b], c != 0);
    }
  }
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int n = 0; n < 4; ++n) {
    threads.emplace_back([&, n] {
      for (int i = 0; i < 3000; ++i) {
        if (shared.FormatCurrency(1234.56, 10, 2) != expected.currency) ++failures;
        if (shared.FormatFloat(1.0 / 7) != expected.number) ++failures;
        if (shared.FormatDateTime(EncodeDate(2027, 1, 15) + 0.5) != expected.date) ++failures;
        const int a = (i + n) % 6, b = i / 6 % 6, c = i % 2;
        if (shared.Compare(words[a], words[b], c != 0) != expected.compare[a][b][c]) ++failures;
        double v = 0;
        if (!shared.TryParseFloat("1,5e3", v) || v != 1500) ++failures;
        if (shared.UpperCase(std::u16string_view(u"stra\u00DFe")) != u"STRASSE") ++failures;
        settings.FormatCurrency(i, 10, 2);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
}

}  // namespace
}  // namespace platform
