// The language texts are shown in. The program's texts are written in Chinese
// and those are the catalog's keys (GNU gettext, domain "chipload"); English
// comes from the compiled catalog. The engine translates what it shows
// (control values and labels, text-box lines, pop-ups, the panel file);
// a text built from pieces or a format translates its pieces or its format
// where it is built, with RTE_Translate.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace rte {

enum class Language { kChinese, kEnglish };

// "zh..." or "en..." (as --lang takes it); nullopt for anything else.
std::optional<Language> ParseLanguage(std::string_view name);

// The first of LANGUAGE, LC_ALL, LC_MESSAGES, LANG that is set decides:
// Chinese for zh_*, English for any other language; unset, C and POSIX
// keep Chinese.
Language LanguageFromEnvironment();

// From now on texts are shown in `language`. English needs the compiled
// catalog under `localeFolder` (<folder>/en/LC_MESSAGES/chipload.mo); false,
// with the reason in `error`, when it is not there. Called once at start-up,
// before other threads run: it sets the process's message locale.
bool UseLanguage(Language language, const std::string& localeFolder, std::string& error);

Language CurrentLanguage();

// Where the installed or built catalog is, beside the program's data; "" when
// none is found.
std::string FindLocaleFolder();

}  // namespace rte

// `text` in the language in use: the text itself in Chinese or when the
// catalog has no entry.
__attribute__((format_arg(1))) const char* RTE_Translate(const char* text);
