#include "platform/crypto/ProvHandles.h"

#include <unordered_map>

namespace velk::crypto {

namespace {

template <typename T> struct HandleTable {
    std::mutex mutex;
    std::unordered_map<ULONG_PTR, std::shared_ptr<T>> objects;
};

// One counter for both kinds, so that a key handle is never a valid context
// handle and the other way round.
ULONG_PTR NextHandle() {
    static std::mutex mutex;
    static ULONG_PTR next = 0x1000;
    const std::lock_guard lock(mutex);
    return next++;
}

HandleTable<CProvContext>& Providers() {
    static HandleTable<CProvContext> table;
    return table;
}

HandleTable<CKeyContext>& Keys() {
    static HandleTable<CKeyContext> table;
    return table;
}

template <typename T> ULONG_PTR Register(HandleTable<T>& table, std::shared_ptr<T> object) {
    const ULONG_PTR handle = NextHandle();
    const std::lock_guard lock(table.mutex);
    table.objects[handle] = std::move(object);
    return handle;
}

template <typename T> std::shared_ptr<T> Lookup(HandleTable<T>& table, ULONG_PTR handle) {
    const std::lock_guard lock(table.mutex);
    const auto it = table.objects.find(handle);
    return it == table.objects.end() ? nullptr : it->second;
}

template <typename T> bool Unregister(HandleTable<T>& table, ULONG_PTR handle) {
    std::shared_ptr<T> doomed; // released after the lock
    const std::lock_guard lock(table.mutex);
    const auto it = table.objects.find(handle);
    if (it == table.objects.end()) {
        return false;
    }
    doomed = std::move(it->second);
    table.objects.erase(it);
    return true;
}

} // namespace

ULONG_PTR RegisterProv(std::shared_ptr<CProvContext> context) {
    return Register(Providers(), std::move(context));
}
std::shared_ptr<CProvContext> LookupProv(ULONG_PTR handle) {
    return Lookup(Providers(), handle);
}
bool UnregisterProv(ULONG_PTR handle) {
    return Unregister(Providers(), handle);
}
ULONG_PTR RegisterKey(std::shared_ptr<CKeyContext> key) {
    return Register(Keys(), std::move(key));
}
std::shared_ptr<CKeyContext> LookupKey(ULONG_PTR handle) {
    return Lookup(Keys(), handle);
}
bool UnregisterKey(ULONG_PTR handle) {
    return Unregister(Keys(), handle);
}

} // namespace velk::crypto
