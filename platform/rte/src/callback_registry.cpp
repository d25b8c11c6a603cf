#include <map>
#include <mutex>
#include <string>

#include "rte_callbacks.h"

namespace {

struct Registry {
    std::mutex mutex;
    std::map<std::string, CtrlCallbackPtr> byName;
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

}  // namespace

int RTE_RegisterCallback(const char* name, CtrlCallbackPtr function) {
    if (name == nullptr || *name == '\0' || function == nullptr) {
        return RTE_ERR_BAD_ARGUMENT;
    }
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    r.byName[name] = function;
    return RTE_OK;
}

CtrlCallbackPtr RTE_FindCallback(const char* name) {
    if (name == nullptr) {
        return nullptr;
    }
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    const auto it = r.byName.find(name);
    return it == r.byName.end() ? nullptr : it->second;
}

const char* RTE_CallbackName(CtrlCallbackPtr function) {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    for (const auto& [name, registered] : r.byName) {
        if (registered == function) {
            return name.c_str();  // map nodes are never erased, so the text stays valid
        }
    }
    return "";
}
