// Splits a fuzzer input into choices (single bytes from the front) and the
// text they act on (the rest). Past the end a choice reads as 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : p_(data), n_(size) {}
    std::uint8_t byte() {
        if (n_ == 0) return 0;
        --n_;
        return *p_++;
    }
    std::string take(std::size_t count) {
        if (count > n_) count = n_;
        std::string s(reinterpret_cast<const char*>(p_), count);
        p_ += count;
        n_ -= count;
        return s;
    }
    std::string rest() { return take(n_); }

private:
    const std::uint8_t* p_;
    std::size_t n_;
};

// A heap buffer of exactly size bytes, so that AddressSanitizer reports a
// write or read one byte past it. Holds text cut to size - 1 and terminated.
struct ExactBuffer {
    explicit ExactBuffer(std::size_t n, const std::string& text = "") : size(n), data(new char[n]) {
        if (n == 0) return;
        const std::size_t len = text.size() < n - 1 ? text.size() : n - 1;
        std::memcpy(data, text.data(), len);
        data[len] = '\0';
    }
    ~ExactBuffer() { delete[] data; }
    ExactBuffer(const ExactBuffer&) = delete;
    ExactBuffer& operator=(const ExactBuffer&) = delete;
    // Terminated within the buffer (so strlen stays inside it).
    bool terminated() const { return size > 0 && std::memchr(data, 0, size) != nullptr; }

    std::size_t size;
    char* data;
};

// A broken promise: print it and stop, so the fuzzer keeps the input.
#define FUZZ_CHECK(cond)                                                                   \
    do {                                                                                   \
        if (!(cond)) {                                                                     \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                  \
        }                                                                                  \
    } while (0)
