#pragma once

// Memory for secrets (PINs, the APDUs that carry them): pages of their own,
// left out of core dumps, locked against swapping where the process's lock
// limit allows, given to a forked child as zeros, and wiped before they are
// returned. The object can be neither copied nor moved, so a secret never
// gets a second home. A mapping that fails shows as Ok() false and an empty
// buffer: callers treat it like any other failed allocation.

#include <openssl/crypto.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <sys/mman.h>
#include <unistd.h>

namespace velk {

class SecureBuffer {
public:
    explicit SecureBuffer(std::size_t size) {
        const long page = sysconf(_SC_PAGESIZE);
        const std::size_t unit = page > 0 ? static_cast<std::size_t>(page) : 4096;
        const std::size_t mapped = (size + unit - 1) / unit * unit;
        if (size == 0 || mapped < size) {
            return;
        }
        void* pages =
            mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (pages == MAP_FAILED) {
            return;
        }
        // Without the exclusion from core dumps the buffer is no safer than
        // the heap: refuse it rather than pretend.
        if (madvise(pages, mapped, MADV_DONTDUMP) != 0) {
            munmap(pages, mapped);
            return;
        }
        madvise(pages, mapped, MADV_WIPEONFORK);
        // A small RLIMIT_MEMLOCK only costs the protection against swap.
        m_locked = mlock(pages, mapped) == 0;
        m_pages = static_cast<uint8_t*>(pages);
        m_mapped = mapped;
        m_size = size;
    }

    ~SecureBuffer() {
        if (m_pages == nullptr) {
            return;
        }
        OPENSSL_cleanse(m_pages, m_mapped);
        if (m_locked) {
            munlock(m_pages, m_mapped);
        }
        munmap(m_pages, m_mapped);
    }

    SecureBuffer(const SecureBuffer&) = delete;
    SecureBuffer& operator=(const SecureBuffer&) = delete;

    bool Ok() const { return m_pages != nullptr; }
    bool Locked() const { return m_locked; }
    uint8_t* Data() { return m_pages; }
    const uint8_t* Data() const { return m_pages; }
    std::size_t Size() const { return m_size; }
    std::span<uint8_t> Bytes() { return {m_pages, m_size}; }
    std::span<const uint8_t> Bytes() const { return {m_pages, m_size}; }

    // Zeros the first `length` bytes (all of them by default).
    void Wipe(std::size_t length = static_cast<std::size_t>(-1)) {
        if (m_pages != nullptr) {
            OPENSSL_cleanse(m_pages, length < m_size ? length : m_size);
        }
    }

private:
    uint8_t* m_pages = nullptr;
    std::size_t m_mapped = 0;
    std::size_t m_size = 0;
    bool m_locked = false;
};

} // namespace velk
