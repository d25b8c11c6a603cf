#include "panel_callbacks.h"

#include <fstream>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "rte_callbacks.h"

namespace rte_qt {

namespace {

void collect(const nlohmann::json& node, PanelCallbackNames& names) {
    if (node.is_object()) {
        for (const auto& [key, value] : node.items()) {
            if (value.is_string() && key == "callback") {
                names.controls.push_back(value.get<std::string>());
            } else if (value.is_string() && key == "close_callback") {
                names.closes.push_back(value.get<std::string>());
            } else {
                collect(value, names);
            }
        }
    } else if (node.is_array()) {
        for (const auto& element : node) {
            collect(element, names);
        }
    }
}

}  // namespace

PanelCallbackNames ReadPanelCallbackNames(const std::string& path) {
    std::ifstream in(path);
    if (!in) {
        throw std::runtime_error(path + ": cannot be read");
    }
    nlohmann::json file;
    try {
        file = nlohmann::json::parse(in);
    } catch (const nlohmann::json::exception& e) {
        throw std::runtime_error(path + ": " + e.what());
    }
    PanelCallbackNames names;
    collect(file, names);
    return names;
}

void RegisterCallbacks(const std::vector<std::string>& names, CtrlCallbackPtr function) {
    for (const std::string& name : names) {
        if (!name.empty()) {
            RTE_RegisterCallback(name.c_str(), function);
        }
    }
}

}  // namespace rte_qt
