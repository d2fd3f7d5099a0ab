#include "callback_table.h"

#include <string.h>

namespace qebi {

size_t CallbackTable::Find(EventCallback callback, void* context) const {
    for (size_t i = 0; i < count_; ++i) {
        if (entries_[i].callback == callback && entries_[i].context == context) return i;
    }
    return kCapacity;
}

CallbackTable::AddResult CallbackTable::Add(EventCallback callback, void* context, uint32_t* id) {
    if (callback == nullptr) return kInvalid;
    if (Find(callback, context) != kCapacity) return kDuplicate;
    if (count_ == kCapacity) return kFull;
    Registration& r = entries_[count_++];
    r.callback = callback;
    r.context = context;
    r.id = ++lastId_;
    if (id != nullptr) *id = r.id;
    return kAdded;
}

bool CallbackTable::Remove(EventCallback callback, void* context, uint32_t* id) {
    size_t i = Find(callback, context);
    if (i == kCapacity) return false;
    if (id != nullptr) *id = entries_[i].id;
    // Keep the rest in registration order.
    memmove(&entries_[i], &entries_[i + 1], (count_ - i - 1) * sizeof(Registration));
    --count_;
    return true;
}

bool CallbackTable::Contains(EventCallback callback, void* context) const {
    return Find(callback, context) != kCapacity;
}

bool CallbackTable::Next(uint32_t after, uint32_t upTo, Registration* out) const {
    // Entries are in ascending id order.
    for (size_t i = 0; i < count_; ++i) {
        if (entries_[i].id > upTo) return false;
        if (entries_[i].id > after) {
            if (out != nullptr) *out = entries_[i];
            return true;
        }
    }
    return false;
}

namespace {

size_t Append(wchar_t* out, size_t capacity, size_t pos, const wchar_t* text) {
    while (*text != L'\0' && pos + 1 < capacity) out[pos++] = *text++;
    out[pos] = L'\0';
    return pos;
}

size_t AppendAddress(wchar_t* out, size_t capacity, size_t pos, const void* address) {
    static const wchar_t kDigits[] = L"0123456789ABCDEF";
    wchar_t text[2 + 2 * sizeof(void*) + 1];
    uintptr_t v = reinterpret_cast<uintptr_t>(address);
    size_t n = 0;
    text[n++] = L'0';
    text[n++] = L'x';
    for (int shift = static_cast<int>(sizeof(void*) * 8) - 4; shift >= 0; shift -= 4) {
        text[n++] = kDigits[(v >> shift) & 0xF];
    }
    text[n] = L'\0';
    return Append(out, capacity, pos, text);
}

}  // namespace

size_t FormatRegistrationNote(wchar_t* out, size_t capacity, const wchar_t* verb,
                              const void* callback, const void* context) {
    if (out == nullptr || capacity == 0) return 0;
    out[0] = L'\0';
    size_t pos = Append(out, capacity, 0, verb != nullptr ? verb : L"");
    pos = Append(out, capacity, pos, L" callback=");
    pos = AppendAddress(out, capacity, pos, callback);
    pos = Append(out, capacity, pos, L" context=");
    pos = AppendAddress(out, capacity, pos, context);
    return pos;
}

}  // namespace qebi
