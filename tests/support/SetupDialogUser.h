#pragma once
// The setup dialog in real windows, for tests: the test thread opens the
// dialog while a script on a second thread finds it by its caption, reads and
// sets its controls, clicks and answers message boxes, as a user would. Every
// wait is bounded; a dialog left open by a failed script is closed, so a
// broken dialog fails the test instead of hanging it.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/OwnDesktop.h"

namespace setupdialog {

inline constexpr char kDialogCaption[] = "Setup Tavrilen Astrograph Focuser";
inline constexpr char kBoxCaption[] = "Tavrilen Focuser";
inline constexpr DWORD kWaitMs = 10000;
inline constexpr UINT kSendTimeoutMs = 5000;

// --- A desktop of the tests' own ----------------------------------------------

// The dialogs open on a desktop of this program's own (see main).
inline constexpr char kDesktopName[] = "SetupDialogTests";

inline bool UseOwnDesktop() { return owndesktop::Use(kDesktopName); }

// --- Counting the dialogs the dialog thread opens -------------------------------

// Every top-level dialog-class window (the setup dialog and each message box)
// created on the hooked thread, so a test can tell one prompt from two
// without racing the script.
inline std::atomic<int> g_dialogsCreated{0};

inline bool IsDialogClass(LPCSTR className) {
    if (IS_INTRESOURCE(className)) return LOWORD(reinterpret_cast<ULONG_PTR>(className)) == 0x8002;
    return lstrcmpiA(className, "#32770") == 0;
}

inline LRESULT CALLBACK CountDialogs(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND) {
        const CREATESTRUCTA* create = reinterpret_cast<CBT_CREATEWNDA*>(lParam)->lpcs;
        if (!(create->style & WS_CHILD) && IsDialogClass(create->lpszClass)) ++g_dialogsCreated;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// --- The user, on the script thread --------------------------------------------

inline std::string ClassOf(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

// A top-level window's caption without sending it a message, so a hung
// dialog thread cannot hang the script.
inline std::string CaptionOf(HWND window) {
    wchar_t text[256] = {};
    InternalGetWindowText(window, text, 256);
    char narrow[256] = {};
    WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof narrow, nullptr, nullptr);
    return narrow;
}

inline BOOL CALLBACK CollectWindow(HWND window, LPARAM windows) {
    reinterpret_cast<std::vector<HWND>*>(windows)->push_back(window);
    return TRUE;
}

class User {
public:
    explicit User(DWORD uiThread) : m_uiThread(uiThread) {}

    void Check(bool ok, const std::string& what) {
        if (!ok) m_failures.push_back(what);
    }
    const std::vector<std::string>& Failures() const { return m_failures; }

    static bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs = kWaitMs) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!done()) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
            Sleep(20);
        }
        return true;
    }

    // The visible top-level dialogs of the dialog thread with this caption
    // (any caption for nullptr), oldest first.
    std::vector<HWND> Dialogs(const char* caption) const {
        std::vector<HWND> windows, found;
        EnumThreadWindows(m_uiThread, CollectWindow, reinterpret_cast<LPARAM>(&windows));
        for (HWND window : windows) {
            if (IsWindowVisible(window) && ClassOf(window) == "#32770" &&
                (caption == nullptr || CaptionOf(window) == caption)) {
                found.push_back(window);
            }
        }
        return found;
    }

    HWND WaitForDialog() {
        HWND found = nullptr;
        WaitUntil([&] {
            const std::vector<HWND> dialogs = Dialogs(kDialogCaption);
            found = dialogs.empty() ? nullptr : dialogs.front();
            return found != nullptr;
        });
        Check(found != nullptr, "the setup dialog did not appear");
        return found;
    }

    // Waits for a message box owned by the dialog, reads it, answers it with
    // button and waits until the dialog takes input again. Returns the box's
    // text. Every box of the dialog carries the exclamation icon; its buttons
    // are checked against a Yes/No question when button is IDYES or IDNO,
    // else against a notice with OK.
    std::string AnswerBox(HWND dialog, int button) {
        HWND box = nullptr;
        WaitUntil([&] {
            for (HWND candidate : Dialogs(kBoxCaption)) {
                if (GetWindow(candidate, GW_OWNER) == dialog) box = candidate;
            }
            return box != nullptr;
        });
        Check(box != nullptr, "no message box owned by the dialog appeared");
        if (box == nullptr) return "";
        std::vector<HWND> children;
        EnumChildWindows(box, CollectWindow, reinterpret_cast<LPARAM>(&children));
        std::string text;
        HICON icon = nullptr;
        for (HWND child : children) {
            if (ClassOf(child) != "Static") continue;
            if ((GetWindowLongPtrA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
                icon = reinterpret_cast<HICON>(Send(child, STM_GETICON));
            } else {
                text += Text(child);
            }
        }
        Check(icon != nullptr && icon == LoadIconA(nullptr, IDI_EXCLAMATION), "the box has no exclamation icon");
        const bool question = button == IDYES || button == IDNO;
        Check((GetDlgItem(box, IDYES) && GetDlgItem(box, IDNO)) == question, "the box's buttons");
        Check((GetDlgItem(box, IDOK) != nullptr) == !question, "the box's OK button");
        Click(GetDlgItem(box, button));
        Check(WaitUntil([&] { return Dialogs(kBoxCaption).empty() && IsWindowEnabled(dialog); }),
              "the dialog did not come back after the message box \"" + text + "\"");
        return text;
    }

    LRESULT Send(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                                 &result)) {
            Check(false, "the dialog did not answer message " + std::to_string(message));
        }
        return static_cast<LRESULT>(result);
    }

    std::string Text(HWND window) {
        char text[512] = {};
        Send(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
        return text;
    }

    void Type(HWND dialog, int edit, const char* text) {
        Send(GetDlgItem(dialog, edit), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
    }

    std::string SelectedPort(HWND dialog) {
        HWND list = GetDlgItem(dialog, IDC_PORT_LIST);
        const LRESULT index = Send(list, CB_GETCURSEL);
        if (index < 0) return "";
        char text[64] = {};
        Send(list, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text));
        return text;
    }

    int CheckedSpeed(HWND dialog) {
        const int ids[] = {IDC_SPEED_SLOW, IDC_SPEED_MEDIUM, IDC_SPEED_FAST};
        int checked = -1;
        for (int i = 0; i < 3; ++i) {
            if (Send(GetDlgItem(dialog, ids[i]), BM_GETCHECK) == BST_CHECKED) {
                Check(checked == -1, "more than one speed is checked");
                checked = i;
            }
        }
        return checked;
    }

    // A click goes through the message queue, as the mouse's would: a button
    // whose handler opens a message box must not block the user.
    void Click(HWND button) { PostMessageA(button, BM_CLICK, 0, 0); }
    void Click(HWND dialog, int button) { Click(GetDlgItem(dialog, button)); }

    // Clicks OK or Cancel and waits for the dialog to close.
    void Close(HWND dialog, int button) {
        Click(dialog, button);
        Check(WaitUntil([&] { return !IsWindow(dialog); }), "the dialog did not close");
    }

    // The control that has the focus on the dialog thread.
    HWND Focus() const {
        GUITHREADINFO info = {};
        info.cbSize = sizeof info;
        return GetGUIThreadInfo(m_uiThread, &info) ? info.hwndFocus : nullptr;
    }

    void CheckFocus(HWND dialog, int control) {
        Check(WaitUntil([&] { return Focus() == GetDlgItem(dialog, control); }),
              "the focus is on control " + std::to_string(GetDlgCtrlID(Focus())) + ", not on " +
                  std::to_string(control));
    }

    // Closes whatever the script left open, newest first: politely, then, for
    // a dialog that ignores Cancel, by ending it from outside. Returns whether
    // anything was open.
    bool CloseEverything() {
        bool leftOpen = false;
        const auto closeAll = [&](bool force) {
            return [&, force] {
                const std::vector<HWND> open = Dialogs(nullptr);
                for (auto it = open.rbegin(); it != open.rend(); ++it) {
                    leftOpen = true;
                    if (force) {
                        ::EndDialog(*it, IDCANCEL);
                    } else {
                        PostMessageA(*it, WM_COMMAND, IDCANCEL, 0);
                    }
                }
                if (!open.empty()) Sleep(100);
                return open.empty();
            };
        };
        if (!WaitUntil(closeAll(false), 5000)) WaitUntil(closeAll(true), 5000);
        return leftOpen;
    }

private:
    DWORD m_uiThread;
    std::vector<std::string> m_failures;
};

// Runs show (which opens the setup dialog and returns once it has closed) on
// this thread, the dialog thread, while script plays the user on another,
// given the dialog once it has appeared. Returns how many dialogs (the setup
// dialog and message boxes) show opened. Every wait in the script is bounded
// and whatever it leaves open is closed, so this returns.
inline int ShowDialog(const std::function<void()>& show, const std::function<void(User&, HWND)>& script) {
    g_dialogsCreated = 0;
    HHOOK hook = SetWindowsHookExA(WH_CBT, CountDialogs, nullptr, GetCurrentThreadId());
    EXPECT_NE(hook, nullptr) << "dialogs cannot be counted";
    User user(GetCurrentThreadId());
    std::thread player([&] {
        // The user sees the dialog's desktop.
        if (!UseOwnDesktop()) user.Check(false, "the script has no desktop of its own");
        if (HWND dialog = user.WaitForDialog()) script(user, dialog);
        if (user.CloseEverything()) user.Check(false, "the script left a window open");
    });
    show();
    player.join();
    if (hook != nullptr) UnhookWindowsHookEx(hook);
    for (const std::string& failure : user.Failures()) ADD_FAILURE() << failure;
    return g_dialogsCreated;
}

// --- Screenshot -------------------------------------------------------------------

// Waits until the dialog and its controls have no painting left to do.
inline bool WaitUntilPainted(HWND dialog) {
    return User::WaitUntil([&] {
        if (GetUpdateRect(dialog, nullptr, FALSE)) return false;
        for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            if (GetUpdateRect(child, nullptr, FALSE)) return false;
        }
        return true;
    });
}

}  // namespace setupdialog
