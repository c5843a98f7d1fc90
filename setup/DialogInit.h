#pragma once
// Reading a dialog-init resource: the list of strings a dialog template
// carries for its list and combo boxes. Each entry is a control id (16 bits),
// a message in the classic 16-bit numbering (16 bits), a data length (32 bits)
// and that many bytes of zero-terminated text, packed without alignment; a
// zero control id ends the list. Pure code: the resource bytes come in, the
// entries come out, and nothing outside the bytes is ever read.
#include <cstddef>
#include <cstdint>

namespace dialoginit {

// The classic message numbers the list uses for "add a string".
constexpr uint16_t kListAddString = 0x0401;
constexpr uint16_t kComboAddString = 0x0403;

struct Entry {
    uint16_t control;
    uint16_t message;   // classic numbering, as stored
    const char* text;   // zero-terminated within the entry's data
};

class Reader {
public:
    Reader(const void* data, size_t size);

    // The next entry; false at the end of the list, or at data that is not a
    // well-formed entry (Malformed() then says so). A list that stops at the
    // end of the data without its zero id is taken as complete.
    bool Next(Entry& entry);
    bool Malformed() const { return m_malformed; }

private:
    bool Fail();

    const unsigned char* m_next;
    const unsigned char* m_end;
    bool m_malformed = false;
};

// Checks the whole list before anything of it is used.
bool IsWellFormed(const void* data, size_t size);

}  // namespace dialoginit
