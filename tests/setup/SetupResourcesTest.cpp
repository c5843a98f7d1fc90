// The setup dialog's resources as the resource compiler built them: the
// template, its port list and the emblem, read back from this program, which
// carries the same resource script as the driver DLL.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "resources/resource.h"
#include "setup/DialogInit.h"

namespace {

const void* Resource(WORD id, LPCSTR type, DWORD& size, HMODULE module = GetModuleHandleA(nullptr)) {
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), type);
    if (found == nullptr) return nullptr;
    size = SizeofResource(module, found);
    HGLOBAL loaded = LoadResource(module, found);
    return loaded ? LockResource(loaded) : nullptr;
}

// --- Reading an extended dialog template -------------------------------------

// A name or ordinal field: text, or 0xFFFF and a number.
struct NameOrOrdinal {
    std::string text;
    int ordinal = -1;
};

class TemplateReader {
public:
    TemplateReader(const void* data, DWORD size)
        : m_data(static_cast<const BYTE*>(data)), m_size(size) {}

    bool Ok() const { return m_ok; }
    uint16_t Word() { return static_cast<uint16_t>(Take(2)); }
    uint32_t Dword() { return static_cast<uint32_t>(Take(4)); }
    int16_t Short() { return static_cast<int16_t>(Word()); }
    BYTE Byte() { return static_cast<BYTE>(Take(1)); }

    std::string Text() {
        std::string text;
        for (uint16_t c = Word(); m_ok && c != 0; c = Word()) text += static_cast<char>(c < 0x80 ? c : '?');
        return text;
    }
    NameOrOrdinal Name() {
        NameOrOrdinal name;
        const uint16_t first = Word();
        if (first == 0xFFFF) {
            name.ordinal = Word();
        } else if (first != 0) {
            name.text = static_cast<char>(first) + Text();
        }
        return name;
    }
    void AlignToDword() { m_offset = (m_offset + 3) & ~size_t{3}; }
    void Skip(size_t bytes) {
        if (bytes > m_size - m_offset) m_ok = false;
        else m_offset += bytes;
    }

private:
    uint32_t Take(size_t bytes) {
        if (!m_ok || m_offset + bytes > m_size) {
            m_ok = false;
            return 0;
        }
        uint32_t value = 0;
        for (size_t i = 0; i < bytes; ++i) value |= static_cast<uint32_t>(m_data[m_offset + i]) << (8 * i);
        m_offset += bytes;
        return value;
    }

    const BYTE* m_data;
    size_t m_size;
    size_t m_offset = 0;
    bool m_ok = true;
};

struct Control {
    DWORD exStyle, style;
    int16_t x, y, cx, cy;
    int32_t id;
    NameOrOrdinal windowClass, text;
};

struct Template {
    DWORD exStyle, style;
    int16_t x, y, cx, cy;
    std::string caption;
    uint16_t pointSize;
    std::string typeface;
    std::vector<Control> controls;
};

bool ReadTemplate(Template& dialog) {
    DWORD size = 0;
    const void* data = Resource(IDD_SETUP, MAKEINTRESOURCEA(5) /* RT_DIALOG */, size);
    if (data == nullptr) return false;
    TemplateReader r(data, size);
    if (r.Word() != 1 || r.Word() != 0xFFFF) return false;  // the extended form
    r.Dword();                                                // help id
    dialog.exStyle = r.Dword();
    dialog.style = r.Dword();
    const uint16_t count = r.Word();
    dialog.x = r.Short(), dialog.y = r.Short(), dialog.cx = r.Short(), dialog.cy = r.Short();
    r.Name();  // menu
    r.Name();  // class
    dialog.caption = r.Text();
    if (dialog.style & DS_SETFONT) {
        dialog.pointSize = r.Word();
        r.Word();  // weight
        r.Byte();  // italic
        r.Byte();  // character set
        dialog.typeface = r.Text();
    }
    for (uint16_t i = 0; i < count && r.Ok(); ++i) {
        r.AlignToDword();
        Control c;
        r.Dword();  // help id
        c.exStyle = r.Dword();
        c.style = r.Dword();
        c.x = r.Short(), c.y = r.Short(), c.cx = r.Short(), c.cy = r.Short();
        c.id = static_cast<int32_t>(r.Dword());
        c.windowClass = r.Name();
        c.text = r.Name();
        r.Skip(r.Word());  // creation data
        dialog.controls.push_back(c);
    }
    return r.Ok();
}

// Predefined control classes, by the ordinals a template uses for them.
constexpr int kButton = 0x80, kEdit = 0x81, kStatic = 0x82, kComboBox = 0x85;

// A template may name a predefined class by its ordinal or by its name.
bool IsClass(const NameOrOrdinal& windowClass, int ordinal) {
    if (windowClass.ordinal >= 0) return windowClass.ordinal == ordinal;
    const char* name = ordinal == kButton ? "Button" : ordinal == kEdit ? "Edit"
                     : ordinal == kStatic ? "Static" : "ComboBox";
    return lstrcmpiA(windowClass.text.c_str(), name) == 0;
}

TEST(SetupResourcesTest, TheTemplateHasTheCaptionSizeFontAndFrame) {
    Template dialog;
    ASSERT_TRUE(ReadTemplate(dialog));
    EXPECT_EQ(dialog.caption, "Setup Tavrilen Astrograph Focuser");
    EXPECT_EQ(dialog.cx, 205);
    EXPECT_EQ(dialog.cy, 138);
    EXPECT_EQ(dialog.pointSize, 8);
    EXPECT_EQ(dialog.typeface, "MS Sans Serif");
    const DWORD frame = DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU;
    EXPECT_EQ(dialog.style & frame, frame);
    EXPECT_EQ(dialog.style & (WS_CHILD | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0u);
    EXPECT_EQ(dialog.exStyle, static_cast<DWORD>(WS_EX_CONTEXTHELP));
}

TEST(SetupResourcesTest, TheControlsAreTheTablesInTabOrder) {
    struct Expected {
        int id;
        int windowClass;
        const char* text;  // nullptr: an ordinal (the bitmap)
        int16_t x, y, cx, cy;
        DWORD kind;         // the type bits of the class's style
        bool tabStop, group;
    };
    const DWORD kKindMask = 0xFF;  // BS_TYPEMASK, SS_TYPEMASK, CBS_ and ES_ bits we set
    const Expected expected[] = {
        {IDOK, kButton, "OK", 148, 9, 50, 14, BS_DEFPUSHBUTTON, true, false},
        {IDCANCEL, kButton, "Cancel", 148, 28, 50, 14, BS_PUSHBUTTON, true, false},
        {-1, kStatic, "COM Port", 7, 7, 32, 8, SS_LEFT, false, true},
        {IDC_PORT_LIST, kComboBox, "", 7, 18, 58, 121, CBS_DROPDOWNLIST, true, false},
        {-1, kStatic, "Maximum Position", 77, 37, 57, 8, SS_LEFT, false, true},
        {IDC_MAX_POSITION, kEdit, "", 77, 47, 58, 12, ES_AUTOHSCROLL, true, false},
        {-1, kStatic, "Step Size (microns)", 77, 7, 61, 8, SS_LEFT, false, true},
        {IDC_STEP_SIZE, kEdit, "", 77, 18, 58, 12, ES_AUTOHSCROLL, true, false},
        {IDC_SPEED_SLOW, kButton, "Slow", 7, 37, 31, 10, BS_AUTORADIOBUTTON, false, true},
        {IDC_SPEED_MEDIUM, kButton, "Medium", 7, 47, 41, 10, BS_AUTORADIOBUTTON, false, false},
        {IDC_SPEED_FAST, kButton, "Fast", 7, 57, 29, 10, BS_AUTORADIOBUTTON, false, false},
        {IDC_ZERO_POSITION, kButton, "Zero Position", 77, 73, 58, 14, BS_PUSHBUTTON, true, true},
        {IDC_FIND_HOME, kButton, "Find Home", 7, 73, 58, 14, BS_PUSHBUTTON, true, true},
        {-1, kStatic, nullptr, 7, 97, 32, 34, SS_BITMAP | SS_REALSIZEIMAGE, false, false},
        {-1, kStatic,
         "Tavrilen Astrograph Focus Control V1.0.0\nTavrilen Optics\nSupport: see the Focuser User Guide", 49,
         102, 140, 25, SS_LEFT, false, true},
    };
    Template dialog;
    ASSERT_TRUE(ReadTemplate(dialog));
    ASSERT_EQ(dialog.controls.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        const Expected& e = expected[i];
        const Control& c = dialog.controls[i];
        SCOPED_TRACE("control " + std::to_string(i) + " (" + (e.text ? e.text : "bitmap") + ")");
        EXPECT_EQ(c.id, e.id);
        EXPECT_TRUE(IsClass(c.windowClass, e.windowClass))
            << c.windowClass.text << " / " << c.windowClass.ordinal;
        if (e.text != nullptr) {
            EXPECT_EQ(c.text.text, e.text);
        } else {
            EXPECT_EQ(c.text.ordinal, IDB_EMBLEM);
        }
        EXPECT_EQ(c.x, e.x);
        EXPECT_EQ(c.y, e.y);
        EXPECT_EQ(c.cx, e.cx);
        EXPECT_EQ(c.cy, e.cy);
        const DWORD mask = e.windowClass == kStatic ? (SS_TYPEMASK | SS_REALSIZEIMAGE) : kKindMask;
        EXPECT_EQ(c.style & mask, e.kind);
        EXPECT_EQ((c.style & WS_TABSTOP) != 0, e.tabStop);
        EXPECT_EQ((c.style & WS_GROUP) != 0, e.group);
        EXPECT_EQ(c.style & (WS_CHILD | WS_VISIBLE), static_cast<DWORD>(WS_CHILD | WS_VISIBLE));
        EXPECT_EQ(c.style & WS_DISABLED, 0u) << "the link decides, at initialisation";
    }
    // The list and the edits, beyond their kind.
    EXPECT_TRUE(dialog.controls[3].style & WS_VSCROLL);
    EXPECT_FALSE(dialog.controls[3].style & CBS_SORT) << "the list keeps COM1 ... COM32 in port order";
    EXPECT_TRUE(dialog.controls[5].style & WS_BORDER);
    EXPECT_TRUE(dialog.controls[7].style & WS_BORDER);
}

TEST(SetupResourcesTest, ThePortListAddsCom1ToCom32ToTheComboBox) {
    DWORD size = 0;
    const void* data = Resource(IDD_SETUP, MAKEINTRESOURCEA(240), size);
    ASSERT_NE(data, nullptr) << "no dialog-init list for the template";
    ASSERT_TRUE(dialoginit::IsWellFormed(data, size));
    dialoginit::Reader reader(data, size);
    dialoginit::Entry entry;
    std::vector<std::string> ports;
    while (reader.Next(entry)) {
        EXPECT_EQ(entry.control, IDC_PORT_LIST);
        EXPECT_EQ(entry.message, dialoginit::kComboAddString);
        ports.push_back(entry.text);
    }
    ASSERT_EQ(ports.size(), 32u);
    for (size_t i = 0; i < ports.size(); ++i) EXPECT_EQ(ports[i], "COM" + std::to_string(i + 1));
}

TEST(SetupResourcesTest, TheEmblemIs48By56With256Colours) {
    DWORD size = 0;
    const auto* info = static_cast<const BITMAPINFOHEADER*>(Resource(IDB_EMBLEM, MAKEINTRESOURCEA(2), size));
    ASSERT_NE(info, nullptr);
    ASSERT_GE(size, sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD));
    EXPECT_EQ(info->biWidth, 48);
    EXPECT_EQ(info->biHeight, 56) << "bottom-up, 56 rows";
    EXPECT_EQ(info->biBitCount, 8);
    EXPECT_EQ(info->biCompression, static_cast<DWORD>(BI_RGB));
    EXPECT_TRUE(info->biClrUsed == 256 || info->biClrUsed == 0) << info->biClrUsed;
    const DWORD rowSize = (48 + 3) & ~3u;
    EXPECT_EQ(size, sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD) + rowSize * 56);

    HANDLE image = LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDB_EMBLEM), IMAGE_BITMAP, 0, 0, 0);
    ASSERT_NE(image, nullptr);
    BITMAP bitmap = {};
    ASSERT_TRUE(GetObjectA(image, sizeof bitmap, &bitmap));
    EXPECT_EQ(bitmap.bmWidth, 48);
    EXPECT_EQ(bitmap.bmHeight, 56);
    DeleteObject(image);
}

#ifdef FOCUSER_DLL_NAME
// What this program's tests read is what the driver DLL ships.
TEST(SetupResourcesTest, TheDriverDllCarriesTheSameDialogResources) {
    HMODULE dll = LoadLibraryExA(FOCUSER_DLL_NAME, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(dll, nullptr) << FOCUSER_DLL_NAME;
    const struct {
        WORD id;
        LPCSTR type;
    } resources[] = {{IDD_SETUP, MAKEINTRESOURCEA(5)}, {IDD_SETUP, MAKEINTRESOURCEA(240)},
                     {IDB_EMBLEM, MAKEINTRESOURCEA(2)}};
    for (const auto& r : resources) {
        DWORD ours = 0, shipped = 0;
        const void* here = Resource(r.id, r.type, ours);
        const void* there = Resource(r.id, r.type, shipped, dll);
        SCOPED_TRACE("type " + std::to_string(reinterpret_cast<ULONG_PTR>(r.type)));
        ASSERT_NE(here, nullptr);
        ASSERT_NE(there, nullptr);
        EXPECT_EQ(shipped, ours);
        EXPECT_TRUE(ours == shipped && std::memcmp(here, there, ours) == 0);
    }
    FreeLibrary(dll);
}
#endif

}  // namespace
