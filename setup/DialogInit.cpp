#include "setup/DialogInit.h"

#include <cstring>

namespace dialoginit {
namespace {

uint16_t ReadWord(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t ReadDword(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

constexpr size_t kHeaderSize = 2 + 2 + 4;

}  // namespace

Reader::Reader(const void* data, size_t size)
    : m_next(static_cast<const unsigned char*>(data)), m_end(m_next + (data ? size : 0)) {}

bool Reader::Next(Entry& entry) {
    if (m_malformed || m_next == m_end) return false;
    const size_t left = static_cast<size_t>(m_end - m_next);
    if (left < 2) return Fail();
    const uint16_t control = ReadWord(m_next);
    if (control == 0) {
        m_next = m_end;
        return false;
    }
    if (left < kHeaderSize) return Fail();
    const uint32_t length = ReadDword(m_next + 4);
    const unsigned char* text = m_next + kHeaderSize;
    if (length == 0 || length > left - kHeaderSize) return Fail();
    if (std::memchr(text, 0, length) == nullptr) return Fail();

    entry.control = control;
    entry.message = ReadWord(m_next + 2);
    entry.text = reinterpret_cast<const char*>(text);
    m_next = text + length;
    return true;
}

bool Reader::Fail() {
    m_malformed = true;
    return false;
}

bool IsWellFormed(const void* data, size_t size) {
    Reader reader(data, size);
    Entry entry;
    while (reader.Next(entry)) {
    }
    return !reader.Malformed();
}

}  // namespace dialoginit
