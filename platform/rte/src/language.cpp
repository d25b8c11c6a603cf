#include "rte_language.h"

#include <libintl.h>

#include <atomic>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "install_layout.h"

namespace fs = std::filesystem;

namespace {

constexpr char kDomain[] = "chipload";
constexpr char kCatalogPath[] = "en/LC_MESSAGES/chipload.mo";

std::atomic<rte::Language> gLanguage{rte::Language::kChinese};

}  // namespace

namespace rte {

std::optional<Language> ParseLanguage(std::string_view name) {
    if (name.substr(0, 2) == "zh") {
        return Language::kChinese;
    }
    if (name.substr(0, 2) == "en") {
        return Language::kEnglish;
    }
    return std::nullopt;
}

Language LanguageFromEnvironment() {
    for (const char* variable : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value == nullptr || value[0] == '\0') {
            continue;
        }
        const std::string_view name(value);
        if (name == "C" || name == "POSIX" || name.substr(0, 2) == "C.") {
            return Language::kChinese;
        }
        return name.substr(0, 2) == "zh" ? Language::kChinese : Language::kEnglish;
    }
    return Language::kChinese;
}

bool UseLanguage(Language language, const std::string& localeFolder, std::string& error) {
    if (language == Language::kChinese) {
        gLanguage = Language::kChinese;
        return true;
    }
    std::error_code missing;
    if (localeFolder.empty() ||
        !fs::is_regular_file(fs::path(localeFolder) / kCatalogPath, missing)) {
        error = "no English catalog (" +
                (localeFolder.empty() ? std::string(kCatalogPath)
                                      : (fs::path(localeFolder) / kCatalogPath).string()) +
                ")";
        return false;
    }
    // gettext ignores LANGUAGE under the plain C locale; C.UTF-8 is always there.
    if (std::setlocale(LC_MESSAGES, "C.UTF-8") == nullptr) {
        error = "the C.UTF-8 locale is not available";
        return false;
    }
    setenv("LANGUAGE", "en", 1);
    bindtextdomain(kDomain, localeFolder.c_str());
    bind_textdomain_codeset(kDomain, "UTF-8");
    gLanguage = Language::kEnglish;
    return true;
}

Language CurrentLanguage() {
    return gLanguage;
}

std::string FindLocaleFolder() {
    for (const auto& folder : chipload::install::dataFolders()) {
        // Built: beside the executable; installed: share/locale beside share/chipload.
        for (const fs::path& candidate : {folder / "locale", folder.parent_path() / "locale"}) {
            std::error_code error;
            if (fs::is_regular_file(candidate / kCatalogPath, error)) {
                return candidate.string();
            }
        }
    }
    return {};
}

}  // namespace rte

const char* RTE_Translate(const char* text) {
    if (text == nullptr || text[0] == '\0' || gLanguage == rte::Language::kChinese) {
        return text;
    }
    return dgettext(kDomain, text);
}
