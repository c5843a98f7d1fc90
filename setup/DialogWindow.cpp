#include "setup/DialogWindow.h"

#include "setup/DialogInit.h"

namespace {
// The resource type of a template's dialog-init list.
constexpr WORD kDialogInitType = 240;

// A picture control of the template loads its bitmap itself as the dialog is
// created. Whether the control deletes it again when it is destroyed differs
// between systems, and where it does not, every dialog shown would leave a
// bitmap behind. So the dialog takes each picture back as it closes (the
// control hands over what it is asked to let go of) and deletes it, once, on
// every system.
BOOL CALLBACK ReleasePicture(HWND control, LPARAM) {
    char className[8] = "";
    GetClassNameA(control, className, sizeof className);
    const LONG_PTR style = GetWindowLongPtrA(control, GWL_STYLE);
    if (lstrcmpiA(className, "Static") == 0 && (style & SS_TYPEMASK) == SS_BITMAP) {
        const LRESULT picture = SendMessageA(control, STM_SETIMAGE, IMAGE_BITMAP, 0);
        if (picture != 0) DeleteObject(reinterpret_cast<HGDIOBJ>(picture));
    }
    return TRUE;
}
}  // namespace

DialogWindow::DialogWindow(HINSTANCE resources, UINT templateId, HWND parent,
                           const char* promptCaption)
    : m_resources(resources),
      m_templateId(templateId),
      m_parent(parent),
      m_promptCaption(promptCaption) {}

DialogWindow::~DialogWindow() = default;

INT_PTR DialogWindow::DoModal() {
    return DialogBoxParamA(m_resources, MAKEINTRESOURCEA(m_templateId), m_parent, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK DialogWindow::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<DialogWindow*>(lParam);
        SetWindowLongPtrA(window, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
        self->m_window = window;
        return self->OnInitDialog() ? TRUE : FALSE;
    }
    // Messages that arrive before WM_INITDIALOG (the font, the sizing) go to
    // the dialog manager.
    auto* self = reinterpret_cast<DialogWindow*>(GetWindowLongPtrA(window, DWLP_USER));
    if (self == nullptr) return FALSE;
    if (message == WM_DESTROY) EnumChildWindows(window, ReleasePicture, 0);
    if (message == WM_NCDESTROY) {
        self->m_window = nullptr;
        SetWindowLongPtrA(window, DWLP_USER, 0);
        return FALSE;
    }
    LRESULT result = 0;
    if (!self->OnMessage(message, wParam, lParam, result)) return FALSE;
    // None of the messages whose result a dialog procedure returns directly
    // (the colour and item-comparison family) is handled here.
    SetWindowLongPtrA(window, DWLP_MSGRESULT, result);
    return TRUE;
}

bool DialogWindow::OnMessage(UINT message, WPARAM wParam, LPARAM, LRESULT& result) {
    if (message != WM_COMMAND || HIWORD(wParam) != BN_CLICKED) return false;
    switch (LOWORD(wParam)) {
        case IDOK:
            OnOK();
            break;
        case IDCANCEL:
            OnCancel();
            break;
        default:
            return false;
    }
    result = 0;
    return true;
}

bool DialogWindow::OnInitDialog() {
    if (!ExecuteDialogInit()) {
        EndDialog(-1);
        return false;
    }
    UpdateData(false);
    return true;
}

void DialogWindow::OnOK() {
    if (UpdateData(true)) EndDialog(IDOK);
}

void DialogWindow::OnCancel() { EndDialog(IDCANCEL); }

void DialogWindow::DoDataExchange(DialogExchange&) {}

bool DialogWindow::UpdateData(bool toMembers) {
    if (!toMembers) return Exchange(DialogExchange::Direction::ToControls, nullptr);
    return Exchange(DialogExchange::Direction::ToMembers, m_promptCaption);
}

bool DialogWindow::ReadControlsQuietly() {
    return Exchange(DialogExchange::Direction::ToMembers, nullptr);
}

bool DialogWindow::Exchange(DialogExchange::Direction direction, const char* promptCaption) {
    // A prompt runs its own message loop, and opening it sends the dialog
    // messages of its own: an exchange started from one of them would read
    // the same bad text again and stack a second prompt on the first.
    if (m_exchanging || m_window == nullptr) return false;
    m_exchanging = true;
    DialogExchange exchange(m_window, direction, promptCaption);
    DoDataExchange(exchange);
    m_exchanging = false;
    return !exchange.Failed();
}

LRESULT DialogWindow::Default(UINT message, WPARAM wParam, LPARAM lParam) {
    // The dialog manager passes what its procedure leaves alone to the window
    // default, so this is the processing the message would otherwise get.
    return DefWindowProcA(m_window, message, wParam, lParam);
}

void DialogWindow::EndDialog(INT_PTR result) {
    if (m_window != nullptr) ::EndDialog(m_window, result);
}

bool DialogWindow::ExecuteDialogInit() {
    HRSRC found = FindResourceA(m_resources, MAKEINTRESOURCEA(m_templateId), MAKEINTRESOURCEA(kDialogInitType));
    if (found == nullptr) return true;
    HGLOBAL loaded = LoadResource(m_resources, found);
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    const DWORD size = SizeofResource(m_resources, found);
    if (data == nullptr || !dialoginit::IsWellFormed(data, size)) return false;

    dialoginit::Reader reader(data, size);
    dialoginit::Entry entry;
    while (reader.Next(entry)) {
        UINT message;
        if (entry.message == dialoginit::kComboAddString) {
            message = CB_ADDSTRING;
        } else if (entry.message == dialoginit::kListAddString) {
            message = LB_ADDSTRING;
        } else {
            continue;  // nothing else is carried by our lists
        }
        // Both kinds of box answer an index, or a negative error (out of
        // memory, no room).
        const LRESULT added = SendDlgItemMessageA(m_window, entry.control, message, 0,
                                                  reinterpret_cast<LPARAM>(entry.text));
        if (added < 0) return false;
    }
    return true;
}
