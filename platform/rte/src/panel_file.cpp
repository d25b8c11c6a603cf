#include "panel_file.h"

#include <unistd.h>

#include <climits>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <stdexcept>

#include "install_layout.h"
#include "rte_language.h"

namespace rte::detail {

namespace {

using nlohmann::json;

// A description error; what() already names the place.
struct FileError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

const std::map<std::string, ControlKind>& KindsByName() {
    static const std::map<std::string, ControlKind> kinds = {
        {"numeric", ControlKind::Numeric},
        {"string", ControlKind::String},
        {"textbox", ControlKind::TextBox},
        {"ring", ControlKind::Ring},
        {"led", ControlKind::Led},
        {"toggle", ControlKind::Toggle},
        {"switch", ControlKind::Switch},
        {"button", ControlKind::Button},
        {"tab", ControlKind::Tab},
        {"timer", ControlKind::Timer},
        {"decoration", ControlKind::Decoration},
    };
    return kinds;
}

// Reads the members of one JSON object, refusing members it does not know,
// so that a misspelt key is reported rather than silently ignored.
class Reader {
  public:
    Reader(const json& object, std::string where) : object_(object), where_(std::move(where)) {
        if (!object_.is_object()) {
            fail("is not an object");
        }
    }

    [[noreturn]] void fail(const std::string& what) const { throw FileError(where_ + ": " + what); }

    bool has(const char* key) {
        known_.insert(key);
        return object_.contains(key);
    }

    const json& raw(const char* key) {
        if (!has(key)) {
            fail(std::string("\"") + key + "\" is missing");
        }
        return object_.at(key);
    }

    int integer(const char* key) {
        const json& v = raw(key);
        if (!v.is_number_integer() || v.get<long long>() < INT_MIN ||
            v.get<long long>() > INT_MAX) {
            fail(std::string("\"") + key + "\" must be an integer");
        }
        return v.get<int>();
    }
    int integer(const char* key, int fallback) { return has(key) ? integer(key) : fallback; }

    double number(const char* key) {
        const json& v = raw(key);
        if (!v.is_number()) {
            fail(std::string("\"") + key + "\" must be a number");
        }
        return v.get<double>();
    }
    double number(const char* key, double fallback) { return has(key) ? number(key) : fallback; }

    std::string text(const char* key) {
        const json& v = raw(key);
        if (!v.is_string()) {
            fail(std::string("\"") + key + "\" must be a string");
        }
        return v.get<std::string>();
    }
    std::string text(const char* key, const std::string& fallback) {
        return has(key) ? text(key) : fallback;
    }

    bool boolean(const char* key, bool fallback) {
        if (!has(key)) {
            return fallback;
        }
        const json& v = object_.at(key);
        if (!v.is_boolean()) {
            fail(std::string("\"") + key + "\" must be true or false");
        }
        return v.get<bool>();
    }

    const json& array(const char* key) {
        const json& v = raw(key);
        if (!v.is_array()) {
            fail(std::string("\"") + key + "\" must be an array");
        }
        return v;
    }

    // Call last: every member must have been asked for.
    void finish() const {
        for (const auto& [key, value] : object_.items()) {
            if (!known_.contains(key)) {
                fail("unknown member \"" + key + "\"");
            }
        }
    }

    const std::string& where() const { return where_; }

  private:
    const json& object_;
    std::string where_;
    std::set<std::string> known_;
};

PanelTemplate ReadPanel(const json& object, const std::string& where, int defaultWidth,
                        int defaultHeight);

// "follow": {"x": [left, right], "y": [top, bottom]}, shares from 0 to 1.
Follow ReadFollow(Reader& r) {
    Follow follow;
    if (!r.has("follow")) {
        return follow;
    }
    Reader f(r.raw("follow"), r.where() + ", \"follow\"");
    const auto pair = [&f](const char* key, double& first, double& second) {
        if (!f.has(key)) {
            return;
        }
        const json& v = f.raw(key);
        if (!v.is_array() || v.size() != 2 || !v[0].is_number() || !v[1].is_number()) {
            f.fail(std::string("\"") + key + "\" must be a pair of numbers");
        }
        first = v[0].get<double>();
        second = v[1].get<double>();
        if (!(first >= 0 && second <= 1 && first <= second)) {
            f.fail(std::string("\"") + key + "\" must hold shares 0 <= first <= second <= 1");
        }
    };
    pair("x", follow.left, follow.right);
    pair("y", follow.top, follow.bottom);
    f.finish();
    return follow;
}

void ReadValue(Reader& r, ControlRecord& c) {
    switch (c.kind) {
        case ControlKind::Numeric: {
            const std::string type = r.text("data_type", "int");
            if (type != "int" && type != "double") {
                r.fail("\"data_type\" must be \"int\" or \"double\"");
            }
            c.isDouble = type == "double";
            c.precision = r.integer("precision", c.isDouble ? 2 : 0);
            c.minimum = r.number("min", 0);
            c.maximum = r.number("max", c.isDouble ? 1e9 : INT_MAX);
            if (c.minimum > c.maximum) {
                r.fail("\"min\" is above \"max\"");
            }
            if (c.isDouble) {
                c.doubleValue = r.number("value", 0);
            } else {
                c.intValue = r.integer("value", 0);
            }
            c.style = r.text("style", "spin");
            break;
        }
        case ControlKind::String:
            c.text = RTE_Translate(r.text("value", "").c_str());
            c.style = r.text("style", "input");
            break;
        case ControlKind::TextBox:
            c.lines = SplitLines(RTE_Translate(r.text("value", "").c_str()));
            c.style = r.text("style", "input");
            break;
        case ControlKind::Ring: {
            const json& items = r.array("items");
            for (std::size_t i = 0; i < items.size(); ++i) {
                Reader item(items[i], r.where() + ", item " + std::to_string(i));
                c.items.push_back(
                    {RTE_Translate(item.text("label").c_str()), item.integer("value")});
                item.finish();
            }
            if (c.items.empty()) {
                r.fail("a ring needs at least one item");
            }
            const int value = r.integer("value", c.items.front().value);
            if (SetNumber(c, value, true, value) != RTE_OK) {
                r.fail("\"value\" " + std::to_string(value) + " is not the value of an item");
            }
            break;
        }
        case ControlKind::Led:
            c.intValue = r.integer("value", 0);
            c.style = r.text("color", "green");
            break;
        case ControlKind::Toggle:
        case ControlKind::Switch:
            c.intValue = r.integer("value", 0);
            c.onText = RTE_Translate(r.text("on_text", "").c_str());
            c.offText = RTE_Translate(r.text("off_text", "").c_str());
            break;
        case ControlKind::Timer:
            c.interval = r.number("interval", 1.0);
            if (!(c.interval >= 0)) {
                r.fail("\"interval\" must not be negative");
            }
            c.enabled = r.boolean("enabled", true);
            break;
        case ControlKind::Decoration:
            c.style = r.text("style", "label");
            break;
        case ControlKind::Button:
        case ControlKind::Tab:
            break;
    }
}

ControlRecord ReadControl(Reader& r, std::vector<TabPages>& tabs) {
    ControlRecord c;
    const std::string kind = r.text("kind");
    const auto found = KindsByName().find(kind);
    if (found == KindsByName().end()) {
        r.fail("unknown kind \"" + kind + "\"");
    }
    c.kind = found->second;
    if (c.kind == ControlKind::Decoration) {
        c.id = r.integer("id", 0);
        c.constant = r.text("constant", "");
    } else {
        c.id = r.integer("id");
        c.constant = r.text("constant");
    }
    if (c.id < 0 || (c.id == 0 && c.kind != ControlKind::Decoration)) {
        r.fail("\"id\" must be positive");
    }
    c.label = RTE_Translate(r.text("label", "").c_str());
    const bool placed = c.kind != ControlKind::Timer;
    c.left = placed ? r.integer("left") : r.integer("left", 0);
    c.top = placed ? r.integer("top") : r.integer("top", 0);
    c.width = placed ? r.integer("width") : r.integer("width", 0);
    c.height = placed ? r.integer("height") : r.integer("height", 0);
    if (c.width < 0 || c.height < 0) {
        r.fail("negative size");
    }
    c.follow = ReadFollow(r);
    c.dimmed = r.boolean("dimmed", false);
    c.visible = r.boolean("visible", true);
    if (c.kind != ControlKind::Decoration) {
        c.callbackName = r.text("callback", "");
    }
    ReadValue(r, c);
    if (c.kind == ControlKind::Tab) {
        c.tabsVisible = r.boolean("tabs_visible", true);
        const json& pages = r.array("pages");
        if (pages.empty()) {
            r.fail("a tab control needs at least one page");
        }
        TabPages tab;
        tab.tabControl = c.id;
        for (std::size_t i = 0; i < pages.size(); ++i) {
            Reader page(pages[i], r.where() + ", page " + std::to_string(i));
            c.pageLabels.push_back(RTE_Translate(page.text("label").c_str()));
            tab.pages.push_back(ReadPanel(page.raw("panel"), page.where(), c.width, c.height));
            page.finish();
        }
        tabs.push_back(std::move(tab));
    }
    r.finish();
    return c;
}

PanelTemplate ReadPanel(const json& object, const std::string& where, int defaultWidth,
                        int defaultHeight) {
    Reader r(object, where);
    PanelTemplate t;
    PanelRecord& p = t.panel;
    p.resourceId = r.integer("id");
    p.constant = r.text("constant");
    const std::string named = where + " (" + p.constant + ")";
    p.title = RTE_Translate(r.text("title", "").c_str());
    p.width = r.integer("width", defaultWidth);
    p.height = r.integer("height", defaultHeight);
    p.minWidth = r.integer("min_width", p.width);
    p.minHeight = r.integer("min_height", p.height);
    if (p.minWidth < 0 || p.minWidth > p.width || p.minHeight < 0 || p.minHeight > p.height) {
        throw FileError(named +
                        ": \"min_width\" and \"min_height\" must lie between 0 and the size");
    }
    p.closeCallbackName = r.text("close_callback", "");
    const json& controls = r.array("controls");
    std::set<int> ids;
    std::set<std::string> constants;
    for (std::size_t i = 0; i < controls.size(); ++i) {
        std::string at = named + ", control " + std::to_string(i);
        if (controls[i].is_object() && controls[i].contains("constant") &&
            controls[i]["constant"].is_string()) {
            at += " (" + controls[i]["constant"].get<std::string>() + ")";
        }
        Reader cr(controls[i], at);
        ControlRecord c = ReadControl(cr, t.tabs);
        if (c.id != 0 && !ids.insert(c.id).second) {
            cr.fail("ID " + std::to_string(c.id) + " is used twice in this panel");
        }
        if (!c.constant.empty() && !constants.insert(c.constant).second) {
            cr.fail("constant " + c.constant + " is used twice in this panel");
        }
        p.controls.push_back(std::move(c));
    }
    // Decorations need IDs too, for the front end; give them unused ones.
    int next = ids.empty() ? 1000 : std::max(1000, *ids.rbegin() + 1);
    for (auto& c : p.controls) {
        if (c.id == 0) {
            c.id = next++;
        }
    }
    r.finish();
    return t;
}

// 1-based line and column of a byte offset, for parse errors.
std::string Position(const std::string& text, std::size_t byte) {
    std::size_t line = 1, column = 1;
    for (std::size_t i = 0; i < byte && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            ++column;
        }
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

}  // namespace

std::string FindPanelFile(const std::string& fileName, std::string& tried) {
    const std::filesystem::path name(fileName);
    if (name.is_absolute() || fileName.starts_with("./") || fileName.starts_with("../")) {
        std::error_code ec;
        if (std::filesystem::is_regular_file(name, ec)) {
            tried.clear();
            return fileName;
        }
        tried = fileName;
        return {};
    }
    return chipload::install::findDataFile(fileName, tried);
}

int ParsePanelFile(const std::string& text, std::vector<PanelTemplate>& panels,
                   std::string& error) {
    json document;
    try {
        document = json::parse(text);
    } catch (const json::parse_error& e) {
        std::string what = e.what();
        // nlohmann's text starts with its own tag; keep only the explanation.
        const auto colon = what.find("syntax error");
        error = Position(text, e.byte == 0 ? 0 : e.byte - 1) + ": " +
                (colon == std::string::npos ? what : what.substr(colon));
        return RTE_ERR_BAD_PANEL_FILE;
    }
    try {
        Reader top(document, "file");
        if (top.text("format") != "chipload-panel-file") {
            top.fail("\"format\" must be \"chipload-panel-file\"");
        }
        if (top.integer("version") != 1) {
            top.fail("only \"version\" 1 is known");
        }
        const json& list = top.array("panels");
        std::set<int> ids;
        for (std::size_t i = 0; i < list.size(); ++i) {
            PanelTemplate t = ReadPanel(list[i], "panel " + std::to_string(i), 0, 0);
            if (!ids.insert(t.panel.resourceId).second) {
                throw FileError("panel " + t.panel.constant + ": panel ID " +
                                std::to_string(t.panel.resourceId) + " is used twice");
            }
            panels.push_back(std::move(t));
        }
        top.finish();
    } catch (const FileError& e) {
        error = e.what();
        panels.clear();
        return RTE_ERR_BAD_PANEL_FILE;
    }
    return RTE_OK;
}

}  // namespace rte::detail
