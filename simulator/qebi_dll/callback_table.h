// The event callbacks registered with the stand-in library, in registration
// order. Pure bookkeeping: no locking (the caller holds the library's lock),
// no Windows calls, no allocation.
#pragma once
#include <stddef.h>
#include <stdint.h>

namespace qebi {

// Same form as the application's callback: event code, registration context.
typedef void(__stdcall* EventCallback)(unsigned long code, void* context);

struct Registration {
    EventCallback callback;
    void* context;
    uint32_t id;  // 1, 2, 3 ... in registration order, never reused
};

class CallbackTable {
public:
    static constexpr size_t kCapacity = 64;

    enum AddResult { kAdded, kInvalid, kDuplicate, kFull };

    // Adds the pair at the end. A null callback is kInvalid; a pair already
    // present is kDuplicate.
    AddResult Add(EventCallback callback, void* context, uint32_t* id);
    // Removes the pair; false when it is not registered.
    bool Remove(EventCallback callback, void* context, uint32_t* id);
    bool Contains(EventCallback callback, void* context) const;
    size_t Count() const { return count_; }
    // Id of the most recent registration ever added (0 before the first).
    uint32_t LastId() const { return lastId_; }
    // The registration with the smallest id greater than after and at most
    // upTo. Walking with after = the id just visited sees every registration
    // present at the time of each step, in order, even when entries are added
    // or removed between steps.
    bool Next(uint32_t after, uint32_t upTo, Registration* out) const;
    void Clear() { count_ = 0; }

private:
    size_t Find(EventCallback callback, void* context) const;

    Registration entries_[kCapacity] = {};
    size_t count_ = 0;
    uint32_t lastId_ = 0;
};

// Journal text of a registration change: "<verb> callback=<address>
// context=<address>", bounded by capacity characters (always terminated when
// capacity > 0). Returns the characters written, without the terminator.
size_t FormatRegistrationNote(wchar_t* out, size_t capacity, const wchar_t* verb,
                              const void* callback, const void* context);

}  // namespace qebi
