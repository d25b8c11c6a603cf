#include "src/handles.h"

#include <cstdint>
#include <mutex>
#include <unordered_map>

#include "src/sync.h"
#include "win32_test_hooks.h"

namespace chipload::win32 {
namespace {

constexpr std::uintptr_t kFirstHandle = 0x1000;
constexpr std::uintptr_t kHandleStep = 4;

struct HandleTable {
    std::mutex mutex;
    std::uintptr_t next = kFirstHandle;
    std::unordered_map<std::uintptr_t, std::shared_ptr<KernelObject>> objects;
};

HandleTable& table() {
    static auto* instance = new HandleTable;  // outlives detached threads at exit
    return *instance;
}

std::uintptr_t key(HANDLE handle) {
    return reinterpret_cast<std::uintptr_t>(handle);
}

}  // namespace

HANDLE registerHandle(std::shared_ptr<KernelObject> object) {
    auto& t = table();
    std::lock_guard lock(t.mutex);
    const std::uintptr_t value = t.next;
    t.next += kHandleStep;
    t.objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> findHandle(HANDLE handle) {
    if (handle == currentThreadPseudoHandle()) {
        return currentThreadShared();
    }
    auto& t = table();
    std::lock_guard lock(t.mutex);
    auto it = t.objects.find(key(handle));
    return it == t.objects.end() ? nullptr : it->second;
}

std::size_t openHandleCount() {
    auto& t = table();
    std::lock_guard lock(t.mutex);
    return t.objects.size();
}

}  // namespace chipload::win32

BOOL WINAPI CloseHandle(HANDLE hObject) {
    using namespace chipload::win32;
    if (hObject == currentThreadPseudoHandle()) {
        return TRUE;
    }
    std::shared_ptr<KernelObject> object;
    {
        auto& t = table();
        std::lock_guard lock(t.mutex);
        auto it = t.objects.find(key(hObject));
        if (it != t.objects.end()) {
            object = std::move(it->second);
            t.objects.erase(it);
        }
    }
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    object->handleClosed();
    return TRUE;
}
