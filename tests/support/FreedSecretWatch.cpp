#include "tests/support/FreedSecretWatch.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// Each block carries its size in front, so delete knows what to search.
constexpr std::size_t kHeader = alignof(std::max_align_t);
constexpr std::size_t kMaxSecret = 64;

std::atomic<bool> g_armed{false};
uint8_t g_secret[kMaxSecret];
std::size_t g_secretLength = 0;
std::size_t g_failFrom = velktest::FreedSecretWatch::kNever;
std::atomic<int> g_allowed{0};
std::atomic<int> g_hits{0};
std::atomic<int> g_failed{0};

void* Allocate(std::size_t size) {
    if (g_armed.load(std::memory_order_acquire) && size >= g_failFrom &&
        g_allowed.fetch_sub(1) <= 0) {
        g_failed.fetch_add(1);
        throw std::bad_alloc();
    }
    void* base = std::malloc(size + kHeader);
    if (base == nullptr) {
        throw std::bad_alloc();
    }
    std::memcpy(base, &size, sizeof size);
    return static_cast<char*>(base) + kHeader;
}

void Release(void* block) noexcept {
    if (block == nullptr) {
        return;
    }
    char* base = static_cast<char*>(block) - kHeader;
    if (g_armed.load(std::memory_order_acquire)) {
        std::size_t size = 0;
        std::memcpy(&size, base, sizeof size);
        const auto* bytes = static_cast<const uint8_t*>(block);
        if (std::search(bytes, bytes + size, g_secret, g_secret + g_secretLength) != bytes + size) {
            g_hits.fetch_add(1);
        }
    }
    std::free(base);
}

} // namespace

void* operator new(std::size_t size) {
    return Allocate(size);
}
void* operator new[](std::size_t size) {
    return Allocate(size);
}
void operator delete(void* block) noexcept {
    Release(block);
}
void operator delete[](void* block) noexcept {
    Release(block);
}
void operator delete(void* block, std::size_t) noexcept {
    Release(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    Release(block);
}

namespace velktest {

FreedSecretWatch::FreedSecretWatch(std::span<const uint8_t> secret, std::size_t failFrom,
                                   int allowed) {
    g_secretLength = std::min(secret.size(), kMaxSecret);
    std::copy_n(secret.begin(), g_secretLength, g_secret);
    g_failFrom = failFrom;
    g_allowed = allowed;
    g_hits = 0;
    g_failed = 0;
    g_armed.store(g_secretLength > 0, std::memory_order_release);
}

FreedSecretWatch::~FreedSecretWatch() {
    g_armed.store(false, std::memory_order_release);
}

int FreedSecretWatch::Hits() const {
    return g_hits.load();
}

int FreedSecretWatch::FailedAllocations() const {
    return g_failed.load();
}

} // namespace velktest
