#include "setup/DialogExchange.h"

#include <new>

#include "numbertext/NumberText.h"

namespace {
// Room for any 32-bit integer and for the plain form of any float.
constexpr size_t kNumberTextCapacity = 64;
}  // namespace

DialogExchange::DialogExchange(HWND dialog, Direction direction, const char* promptCaption)
    : m_dialog(dialog), m_direction(direction), m_promptCaption(promptCaption) {}

HWND DialogExchange::Item(int id) {
    if (m_failed) return nullptr;
    HWND control = GetDlgItem(m_dialog, id);
    if (control == nullptr) m_failed = true;
    return control;
}

std::unique_ptr<char[]> DialogExchange::ReadText(HWND control) {
    const int length = GetWindowTextLengthA(control);
    if (length < 0) return nullptr;
    std::unique_ptr<char[]> text(new (std::nothrow) char[static_cast<size_t>(length) + 1]);
    if (!text) return nullptr;
    const int copied = GetWindowTextA(control, text.get(), length + 1);
    text[copied >= 0 && copied <= length ? copied : 0] = '\0';
    return text;
}

void DialogExchange::FailOn(HWND control, const char* prompt) {
    m_failed = true;
    if (m_promptCaption == nullptr) return;
    MessageBoxA(m_dialog, prompt, m_promptCaption, MB_OK | MB_ICONEXCLAMATION);
    // The dialog manager's way of moving the focus also selects an edit's
    // text, ready to be typed over.
    SendMessageA(m_dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
}

void DialogExchange::Control(int id, HWND& binding) {
    HWND control = Item(id);
    if (control != nullptr) binding = control;
}

void DialogExchange::ComboIndex(int id, int32_t& index) {
    HWND control = Item(id);
    if (control == nullptr) return;
    if (ToMembers()) {
        index = static_cast<int32_t>(SendMessageA(control, CB_GETCURSEL, 0, 0));
    } else {
        SendMessageA(control, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    }
}

void DialogExchange::Integer(int id, int32_t& value) {
    HWND control = Item(id);
    if (control == nullptr) return;
    if (ToMembers()) {
        const std::unique_ptr<char[]> text = ReadText(control);
        int32_t parsed = 0;
        if (text && numbertext::ParseInteger(text.get(), numbertext::Strictness::Whole, parsed)) {
            value = parsed;
        } else {
            FailOn(control, kIntegerPrompt);
        }
    } else {
        char text[kNumberTextCapacity];
        numbertext::FormatInteger(value, text, sizeof text);
        SetWindowTextA(control, text);
    }
}

void DialogExchange::Real(int id, float& value) {
    HWND control = Item(id);
    if (control == nullptr) return;
    if (ToMembers()) {
        const std::unique_ptr<char[]> text = ReadText(control);
        float parsed = 0.0f;
        if (text && numbertext::ParseReal(text.get(), numbertext::Strictness::Whole, parsed)) {
            value = parsed;
        } else {
            FailOn(control, kRealPrompt);
        }
    } else {
        char text[kNumberTextCapacity];
        numbertext::FormatShortest(value, text, sizeof text);
        SetWindowTextA(control, text);
    }
}

void DialogExchange::Radio(int firstId, int32_t& index) {
    HWND control = Item(firstId);
    if (control == nullptr) return;
    if (ToMembers()) index = -1;
    int32_t button = 0;
    // Controls follow one another in tab order; the group ends where the next
    // one begins.
    do {
        if (SendMessageA(control, WM_GETDLGCODE, 0, 0) & DLGC_RADIOBUTTON) {
            if (ToMembers()) {
                if (SendMessageA(control, BM_GETCHECK, 0, 0) != BST_UNCHECKED) index = button;
            } else {
                SendMessageA(control, BM_SETCHECK, button == index ? BST_CHECKED : BST_UNCHECKED, 0);
            }
            ++button;
        }
        control = GetWindow(control, GW_HWNDNEXT);
    } while (control != nullptr && !(GetWindowLongPtrA(control, GWL_STYLE) & WS_GROUP));
}
