// What every fuzz target shares: reading typed values out of the fuzzer's
// bytes, and a check that stops the run with what was got.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

// Stops the run (libFuzzer keeps the input as a crash) when cond is false.
#define FUZZ_CHECK(cond, ...)                                                   \
    do {                                                                        \
        if (!(cond)) {                                                          \
            fprintf(stderr, "%s:%d: check failed: %s\n  ", __FILE__, __LINE__, #cond); \
            fprintf(stderr, __VA_ARGS__);                                       \
            fprintf(stderr, "\n");                                              \
            abort();                                                            \
        }                                                                       \
    } while (0)

// Takes typed values from the front of the input; past its end every value
// is 0 and every string empty.
class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    size_t Left() const { return m_size; }
    bool Empty() const { return m_size == 0; }
    uint8_t Byte() {
        if (m_size == 0) return 0;
        --m_size;
        return *m_data++;
    }
    uint16_t Word() { return static_cast<uint16_t>(Byte() | (Byte() << 8)); }
    uint32_t Dword() { return Word() | (static_cast<uint32_t>(Word()) << 16); }
    // Bytes of the input, as many as there are up to n.
    std::string Bytes(size_t n) {
        if (n > m_size) n = m_size;
        std::string out(reinterpret_cast<const char*>(m_data), n);
        m_data += n;
        m_size -= n;
        return out;
    }
    // A wide string of at most maxChars 16-bit units (what a Windows string
    // can hold), ending at a 0 unit or at the end of the input.
    std::wstring WideString(size_t maxChars) {
        std::wstring out;
        while (out.size() < maxChars && m_size >= 2) {
            wchar_t c = Word();
            if (c == 0) break;
            out += c;
        }
        return out;
    }
    // Everything left as 16-bit units, zeros included.
    std::wstring RestAsWide() {
        std::wstring out;
        while (m_size >= 2) out += static_cast<wchar_t>(Word());
        return out;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
};
