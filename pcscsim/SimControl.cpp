#include "pcscsim/SimControl.h"

#include "pcscsim/SimState.h"

#include <algorithm>

namespace pcscsim {

using detail::Reader;
using detail::Sim;

void ResetAll() {
    auto& s = Sim();
    std::lock_guard lock(s.mutex);
    s.readers.clear();
    s.contexts.clear();
    s.cards.clear();
    s.allocations.clear();
    s.failures.clear();
    s.serviceUp = true;
    ++s.generation;
    s.NotifyChange();
}

bool AddReader(const std::string& name) {
    auto& s = Sim();
    std::lock_guard lock(s.mutex);
    if (name.empty() || s.FindReader(name) != nullptr ||
        s.readers.size() >= PCSCLITE_MAX_READERS_CONTEXTS) {
        return false;
    }
    Reader reader;
    reader.name = name;
    s.readers.push_back(std::move(reader));
    s.NotifyChange();
    return true;
}

bool RemoveReader(const std::string& name) {
    auto& s = Sim();
    std::lock_guard lock(s.mutex);
    auto it = std::find_if(s.readers.begin(), s.readers.end(),
                           [&](const Reader& r) { return r.name == name; });
    if (it == s.readers.end()) {
        return false;
    }
    s.readers.erase(it);
    s.NotifyChange();
    return true;
}

bool InsertCard(const std::string& reader, std::shared_ptr<ICardEndpoint> card) {
    if (!card) {
        return false;
    }
    std::vector<uint8_t> atr = card->Atr();
    const bool supportsT1 = card->SupportsT1();
    auto& s = Sim();
    std::lock_guard lock(s.mutex);
    Reader* r = s.FindReader(reader);
    if (r == nullptr || r->card) {
        return false;
    }
    r->card = std::move(card);
    r->atr = std::move(atr);
    r->supportsT1 = supportsT1;
    r->protocol = SCARD_PROTOCOL_UNDEFINED;
    r->transactionOwner = 0;
    r->pullCountdown = 0;
    ++r->events;
    s.NotifyChange();
    return true;
}

bool RemoveCard(const std::string& reader) {
    auto& s = Sim();
    std::lock_guard lock(s.mutex);
    Reader* r = s.FindReader(reader);
    if (r == nullptr || !r->card) {
        return false;
    }
    s.Pull(*r);
    return true;
}

void PullCardDuringTransmit(const std::string& reader, int nth) {
    auto& s = Sim();
    std::lock_guard lock(s.mutex);
    if (Reader* r = s.FindReader(reader)) {
        r->pullCountdown = std::max(nth, 0);
    }
}

std::vector<Exchange> Trace(const std::string& reader) {
    auto& s = Sim();
    std::lock_guard lock(s.mutex);
    Reader* r = s.FindReader(reader);
    return r == nullptr ? std::vector<Exchange>{} : r->trace;
}

void ClearTrace(const std::string& reader) {
    auto& s = Sim();
    std::lock_guard lock(s.mutex);
    if (Reader* r = s.FindReader(reader)) {
        r->trace.clear();
    }
}

void FailNext(Call call, int count, LONG code) {
    auto& s = Sim();
    std::lock_guard lock(s.mutex);
    if (count <= 0) {
        s.failures.erase(call);
    } else {
        s.failures[call] = detail::Failure{count, code};
    }
}

void StopService() {
    auto& s = Sim();
    std::lock_guard lock(s.mutex);
    s.serviceUp = false;
    ++s.generation;
    s.NotifyChange();
}

void StartService() {
    auto& s = Sim();
    std::lock_guard lock(s.mutex);
    s.serviceUp = true;
    s.NotifyChange();
}

std::size_t OpenContexts() {
    auto& s = Sim();
    std::lock_guard lock(s.mutex);
    return s.contexts.size();
}

std::size_t OpenCardHandles() {
    auto& s = Sim();
    std::lock_guard lock(s.mutex);
    return s.cards.size();
}

std::size_t OutstandingAllocations() {
    auto& s = Sim();
    std::lock_guard lock(s.mutex);
    return s.allocations.size();
}

} // namespace pcscsim
