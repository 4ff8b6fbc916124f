#include "pcscsim/SimState.h"

#include <algorithm>
#include <cstring>

namespace pcscsim::detail {

State& Sim() {
    static State state;
    return state;
}

Reader* State::FindReader(const std::string& name) {
    auto it = std::find_if(readers.begin(), readers.end(),
                           [&](const Reader& r) { return r.name == name; });
    return it == readers.end() ? nullptr : &*it;
}

void State::NotifyChange() {
    ++changeSerial;
    changed.notify_all();
}

std::optional<LONG> State::TakeFailure(Call call) {
    auto it = failures.find(call);
    if (it == failures.end() || it->second.count <= 0) {
        return std::nullopt;
    }
    LONG code = it->second.code;
    if (--it->second.count == 0) {
        failures.erase(it);
    }
    return code;
}

LONG State::CheckContext(SCARDCONTEXT context) const {
    auto it = contexts.find(context);
    if (it == contexts.end()) {
        return SCARD_E_INVALID_HANDLE;
    }
    if (!serviceUp || it->second.generation != generation) {
        return SCARD_E_NO_SERVICE;
    }
    return SCARD_S_SUCCESS;
}

LONG State::CheckCard(SCARDHANDLE handle, CardHandle** out, Reader** reader) {
    auto it = cards.find(handle);
    if (it == cards.end()) {
        return SCARD_E_INVALID_HANDLE;
    }
    if (LONG rc = CheckContext(it->second.context); rc != SCARD_S_SUCCESS) {
        return rc;
    }
    Reader* r = FindReader(it->second.reader);
    if (r == nullptr) {
        return SCARD_E_READER_UNAVAILABLE;
    }
    *out = &it->second;
    *reader = r;
    if (!r->card || r->events != it->second.events) {
        return SCARD_W_REMOVED_CARD;
    }
    if (r->resets != it->second.resets) {
        return SCARD_W_RESET_CARD;
    }
    return SCARD_S_SUCCESS;
}

LONG State::NewHandle() {
    // Never 0, never reused while the process runs.
    do {
        nextHandle = nextHandle == INT32_MAX ? 1 : nextHandle + 1;
    } while (contexts.count(nextHandle) != 0 || cards.count(nextHandle) != 0);
    return nextHandle;
}

LONG State::CopyOut(const void* source, DWORD size, void* destination, LPDWORD length) {
    if (length == nullptr) {
        return SCARD_E_INVALID_PARAMETER;
    }
    if (*length == SCARD_AUTOALLOCATE) {
        if (destination == nullptr) {
            return SCARD_E_INVALID_PARAMETER;
        }
        auto block = std::make_unique<uint8_t[]>(size == 0 ? 1 : size);
        if (size != 0) {
            std::memcpy(block.get(), source, size);
        }
        uint8_t* raw = block.get();
        allocations.emplace(raw, std::move(block));
        // The caller passed the address of its pointer in place of the buffer.
        std::memcpy(destination, &raw, sizeof raw);
        *length = size;
        return SCARD_S_SUCCESS;
    }
    if (destination == nullptr) {
        *length = size;
        return SCARD_S_SUCCESS;
    }
    if (*length < size) {
        *length = size;
        return SCARD_E_INSUFFICIENT_BUFFER;
    }
    if (size != 0) {
        std::memcpy(destination, source, size);
    }
    *length = size;
    return SCARD_S_SUCCESS;
}

void State::Pull(Reader& reader) {
    reader.card.reset();
    reader.atr.clear();
    reader.protocol = SCARD_PROTOCOL_UNDEFINED;
    reader.transactionOwner = 0;
    reader.pullCountdown = 0;
    ++reader.events;
    NotifyChange();
}

void State::ResetCard(std::unique_lock<std::mutex>& lock, std::string readerName, SCARDHANDLE by) {
    Reader* r = FindReader(readerName);
    if (r == nullptr || !r->card) {
        return;
    }
    std::shared_ptr<ICardEndpoint> card = r->card;
    std::shared_ptr<std::mutex> io = r->io;
    const uint16_t events = r->events;
    std::vector<uint8_t> atr;
    lock.unlock();
    {
        std::lock_guard ioLock(*io);
        card->Reset();
        atr = card->Atr();
    }
    lock.lock();
    r = FindReader(readerName);
    if (r == nullptr || r->card != card || r->events != events) {
        return; // pulled meanwhile
    }
    r->atr = std::move(atr);
    ++r->resets;
    if (auto it = cards.find(by); it != cards.end()) {
        it->second.resets = r->resets;
    }
    NotifyChange();
}

} // namespace pcscsim::detail
