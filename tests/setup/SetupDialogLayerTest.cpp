// The dialog layer's pure part: walking a dialog-init list.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "setup/DialogInit.h"

namespace {

// --- Dialog-init lists -------------------------------------------------------------

// Builds a list the way the resource compiler lays it out: packed, little
// endian, no alignment.
class ListBuilder {
public:
    ListBuilder& Entry(uint16_t control, uint16_t message, const std::string& text) {
        return Raw(control, message, static_cast<uint32_t>(text.size() + 1), text + '\0');
    }
    ListBuilder& Raw(uint16_t control, uint16_t message, uint32_t length, const std::string& data) {
        Word(control);
        Word(message);
        Word(static_cast<uint16_t>(length & 0xFFFF));
        Word(static_cast<uint16_t>(length >> 16));
        m_bytes += data;
        return *this;
    }
    ListBuilder& End() {
        Word(0);
        return *this;
    }
    const std::string& Bytes() const { return m_bytes; }

private:
    void Word(uint16_t value) {
        m_bytes += static_cast<char>(value & 0xFF);
        m_bytes += static_cast<char>(value >> 8);
    }
    std::string m_bytes;
};

struct ReadEntry {
    uint16_t control;
    uint16_t message;
    std::string text;
    bool operator==(const ReadEntry& other) const {
        return control == other.control && message == other.message && text == other.text;
    }
};

std::vector<ReadEntry> ReadAll(const std::string& bytes, bool& malformed) {
    // A copy of exactly the list's size, so any read past it is a read past
    // the allocation.
    std::vector<char> data(bytes.begin(), bytes.end());
    dialoginit::Reader reader(data.data(), data.size());
    std::vector<ReadEntry> entries;
    dialoginit::Entry entry;
    while (reader.Next(entry)) entries.push_back({entry.control, entry.message, entry.text});
    malformed = reader.Malformed();
    EXPECT_EQ(dialoginit::IsWellFormed(data.data(), data.size()), !malformed);
    return entries;
}

TEST(DialogInitTest, EntriesAreReadInOrderUpToTheEndMarker) {
    ListBuilder list;
    list.Entry(201, dialoginit::kComboAddString, "COM1")
        .Entry(201, dialoginit::kComboAddString, "COM10")  // odd and even lengths: no padding
        .Entry(305, dialoginit::kListAddString, "")
        .End()
        .Entry(999, dialoginit::kComboAddString, "after the end");
    bool malformed = true;
    const std::vector<ReadEntry> entries = ReadAll(list.Bytes(), malformed);
    EXPECT_FALSE(malformed);
    EXPECT_EQ(entries, (std::vector<ReadEntry>{{201, 0x0403, "COM1"},
                                               {201, 0x0403, "COM10"},
                                               {305, 0x0401, ""}}));
}

TEST(DialogInitTest, AListWithoutEndMarkerEndsWithItsData) {
    ListBuilder list;
    list.Entry(201, dialoginit::kComboAddString, "COM1");
    bool malformed = true;
    EXPECT_EQ(ReadAll(list.Bytes(), malformed).size(), 1u);
    EXPECT_FALSE(malformed);

    EXPECT_TRUE(ReadAll(std::string(), malformed).empty());
    EXPECT_FALSE(malformed);
    dialoginit::Reader none(nullptr, 0);
    dialoginit::Entry entry;
    EXPECT_FALSE(none.Next(entry));
    EXPECT_FALSE(none.Malformed());
}

TEST(DialogInitTest, DataThatRunsPastItsEndIsMalformed) {
    const std::string good = ListBuilder().Entry(201, dialoginit::kComboAddString, "COM1").Bytes();
    struct Case {
        const char* what;
        std::string bytes;
    };
    const Case cases[] = {
        {"a stray byte", good + '\x01'},
        {"a cut header", good + std::string("\xC9\x00\x03\x04\x05", 5)},
        {"a cut string", good.substr(0, good.size() - 1)},
        {"a length beyond the data", ListBuilder().Raw(201, 0x0403, 500, std::string("COM1\0", 5)).Bytes()},
        {"a length near 4 GB", ListBuilder().Raw(201, 0x0403, 0xFFFFFFFFu, std::string("COM1\0", 5)).Bytes()},
        {"a string without its zero", ListBuilder().Raw(201, 0x0403, 4, "COM1").End().Bytes()},
        {"an empty entry", ListBuilder().Raw(201, 0x0403, 0, "").End().Bytes()},
    };
    for (const Case& c : cases) {
        bool malformed = false;
        const std::vector<ReadEntry> entries = ReadAll(c.bytes, malformed);
        EXPECT_TRUE(malformed) << c.what;
        for (const ReadEntry& entry : entries) EXPECT_EQ(entry.text, "COM1") << c.what;
    }
}

}  // namespace
