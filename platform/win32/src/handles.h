// The process-wide handle table. Handle values are never reused, so a stale
// handle can only ever fail with ERROR_INVALID_HANDLE.
#pragma once

#include <windows.h>

#include <memory>

namespace chipload::win32 {

class KernelObject {
  public:
    virtual ~KernelObject() = default;
    // The handle was closed; the object may live on while calls that found it
    // earlier are still running.
    virtual void handleClosed() {}
};

HANDLE registerHandle(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> findHandle(HANDLE handle);

template <class T>
std::shared_ptr<T> findHandleAs(HANDLE handle) {
    return std::dynamic_pointer_cast<T>(findHandle(handle));
}

}  // namespace chipload::win32
