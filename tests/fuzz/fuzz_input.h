// Reading a fuzzer's bytes as a sequence of choices.
#ifndef TAVOCOM_TESTS_FUZZ_INPUT_H
#define TAVOCOM_TESTS_FUZZ_INPUT_H

#include <tavocom/tavocom.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace tavo::fuzz {

using WString = std::basic_string<COM_WCHAR>;

/// Takes values from the front of the input; past its end every value is 0.
class Input {
public:
    Input(const uint8_t* data, size_t size) : m_data(data), m_left(size) {}
    bool Empty() const { return m_left == 0; }
    uint8_t Byte() {
        if (m_left == 0) return 0;
        --m_left;
        return *m_data++;
    }
    uint32_t U32() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v = v << 8 | Byte();
        return v;
    }
    /// Up to `most` 16-bit characters, NUL-free (a NUL ends a text anyway).
    WString Text(size_t most) {
        size_t n = Byte() % (most + 1);
        WString t;
        for (size_t i = 0; i < n && !Empty(); ++i) {
            COM_WCHAR c = COM_WCHAR(Byte() | (Byte() & 0x03) << 8); // mostly Latin, some beyond
            t += c ? c : COM_WCHAR('x');
        }
        return t;
    }

private:
    const uint8_t* m_data;
    size_t m_left;
};

/// A failed invariant: abort, which the fuzzer reports with the input.
#define FUZZ_CHECK(cond)                                                                   \
    do {                                                                                   \
        if (!(cond)) {                                                                     \
            __builtin_printf("check failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
            std::abort();                                                                  \
        }                                                                                  \
    } while (0)

} // namespace tavo::fuzz

#endif
