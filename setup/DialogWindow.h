#pragma once
// A modal dialog on plain Win32, for the few things the setup dialog needs:
// the template and its dialog-init list from a resource module, a message
// handler per dialog class, the data exchange between controls and members,
// and the OK and Cancel endings. A derived class lists its exchange in
// DoDataExchange and handles its own messages in OnMessage.
#include <windows.h>

#include "setup/DialogExchange.h"

class DialogWindow {
public:
    // resources: the module that holds the template (and its dialog-init
    // list). promptCaption: the caption of the exchange's parse-failure
    // prompt; it must outlive the dialog.
    DialogWindow(HINSTANCE resources, UINT templateId, HWND parent, const char* promptCaption);
    virtual ~DialogWindow();
    DialogWindow(const DialogWindow&) = delete;
    DialogWindow& operator=(const DialogWindow&) = delete;

    // Shows the dialog and returns once it has ended: IDOK or IDCANCEL, or -1
    // when it could not be created or initialised.
    INT_PTR DoModal();

    // The dialog's window while it is open, else nullptr.
    HWND Handle() const { return m_window; }

protected:
    // A message for the dialog. Return true when it has been handled, with
    // result as the message's result; false leaves it to the dialog manager.
    // The base handles OK and Cancel.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

    // Fills the lists from the dialog-init resource, then shows the members in
    // the controls. True lets the system put the focus on the first control
    // with a tab stop. The dialog ends with -1 when the list is malformed.
    virtual bool OnInitDialog();
    // Reads the controls into the members and, when they all read, ends the
    // dialog with IDOK.
    virtual void OnOK();
    // Ends the dialog with IDCANCEL; nothing is read.
    virtual void OnCancel();
    virtual void DoDataExchange(DialogExchange& exchange);

    // Moves the members into the controls, or reads the controls into the
    // members with the parse-failure prompt. False when a control failed to
    // read, and also, without a second prompt, when asked while an exchange
    // (and so possibly its prompt) is already in progress.
    bool UpdateData(bool toMembers = true);
    // Reads the controls into the members without any prompt or focus change.
    bool ReadControlsQuietly();

    // What the window would do with a message if the dialog did not handle
    // it, for handlers that add to that processing rather than replace it.
    LRESULT Default(UINT message, WPARAM wParam, LPARAM lParam);

    void EndDialog(INT_PTR result);

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    bool Exchange(DialogExchange::Direction direction, const char* promptCaption);
    // Sends the dialog-init list's strings to their controls. True when there
    // is no list, or when it is well formed and every string was added.
    bool ExecuteDialogInit();

    HINSTANCE m_resources;
    UINT m_templateId;
    HWND m_parent;
    const char* m_promptCaption;
    HWND m_window = nullptr;
    bool m_exchanging = false;
};
