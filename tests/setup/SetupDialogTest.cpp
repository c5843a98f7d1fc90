// The setup dialog in real windows: the test thread runs SetupDialog (or a
// Setup of its own) while a script on a second thread finds the dialog by its
// caption, reads and sets its controls, clicks and answers message boxes, as
// a user would. Every wait is bounded; a dialog left open by a failed script
// is closed, so a broken dialog fails the test instead of hanging it.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "com/ComObject.h"
#include "driver/CFocuser.h"
#include "link/ControllerProtocol.h"
#include "resources/resource.h"
#include "settings/DriverSettings.h"
#include "setup/DialogExchange.h"
#include "setup/Setup.h"
#include "sim/ControllerEmulator.h"
#include "sim/FocuserModel.h"
#include "tests/support/CrashReport.h"
#include "tests/support/OwnDesktop.h"
#include "tests/support/TestRegistry.h"
#include "tests/support/WindowImage.h"

namespace {

constexpr char kDialogCaption[] = "Setup Tavrilen Astrograph Focuser";
constexpr char kBoxCaption[] = "Tavrilen Focuser";
constexpr DWORD kWaitMs = 10000;
constexpr UINT kSendTimeoutMs = 5000;

// --- A desktop of the tests' own ----------------------------------------------

// The dialogs open on a desktop of this program's own (see main).
constexpr char kDesktopName[] = "SetupDialogTests";

bool UseOwnDesktop() { return owndesktop::Use(kDesktopName); }

// --- Counting the dialogs the dialog thread opens -------------------------------

// Every top-level dialog-class window (the setup dialog and each message box)
// created on the hooked thread, so a test can tell one prompt from two
// without racing the script.
std::atomic<int> g_dialogsCreated{0};

bool IsDialogClass(LPCSTR className) {
    if (IS_INTRESOURCE(className)) return LOWORD(reinterpret_cast<ULONG_PTR>(className)) == 0x8002;
    return lstrcmpiA(className, "#32770") == 0;
}

LRESULT CALLBACK CountDialogs(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND) {
        const CREATESTRUCTA* create = reinterpret_cast<CBT_CREATEWNDA*>(lParam)->lpcs;
        if (!(create->style & WS_CHILD) && IsDialogClass(create->lpszClass)) ++g_dialogsCreated;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// --- The user, on the script thread --------------------------------------------

std::string ClassOf(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

// A top-level window's caption without sending it a message, so a hung
// dialog thread cannot hang the script.
std::string CaptionOf(HWND window) {
    wchar_t text[256] = {};
    InternalGetWindowText(window, text, 256);
    char narrow[256] = {};
    WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof narrow, nullptr, nullptr);
    return narrow;
}

BOOL CALLBACK CollectWindow(HWND window, LPARAM windows) {
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
int ShowDialog(const std::function<void()>& show, const std::function<void(User&, HWND)>& script) {
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
bool WaitUntilPainted(HWND dialog) {
    return User::WaitUntil([&] {
        if (GetUpdateRect(dialog, nullptr, FALSE)) return false;
        for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            if (GetUpdateRect(child, nullptr, FALSE)) return false;
        }
        return true;
    });
}

// --- Fixtures ---------------------------------------------------------------------

std::string Stored(const char* name) {
    return testregistry::GetSettingsText(name).value_or("<missing>");
}

class SetupDialogTest : public testing::Test {
protected:
    void SetUp() override {
        testregistry::DeleteSettingsKey();
        m_object = StandaloneObject<CFocuser>::Create();
        ASSERT_NE(m_object, nullptr);
        ASSERT_EQ(m_object->QueryInterface(IID_IFocuser, reinterpret_cast<void**>(&m_focuser)), S_OK);
    }
    void TearDown() override {
        if (m_focuser) m_focuser->Release();
        testregistry::DeleteSettingsKey();
    }

    StandaloneObject<CFocuser>* m_object = nullptr;
    IFocuser* m_focuser = nullptr;
};

// A driver linked to an emulated controller on the far end of COM3.
class LinkedSetupDialogTest : public SetupDialogTest {
protected:
    void SetUp() override {
        SetupDialogTest::SetUp();
        if (HasFatalFailure()) return;
        testregistry::StoreSettings(2, 20000, "1.270000", 1);
        m_emulator.SetResponder(ControllerEmulator::Model(m_model));
        ASSERT_TRUE(m_emulator.Start("//./COM13")) << "no null-modem pair COM3-COM13";
        ASSERT_EQ(m_focuser->put_Link(VARIANT_TRUE), S_OK);
        m_emulator.ClearFrames();
    }
    void TearDown() override {
        if (m_focuser) m_focuser->put_Link(VARIANT_FALSE);
        m_emulator.Stop();
        SetupDialogTest::TearDown();
    }

    // Everything the driver has sent since the link was made, up to and
    // including a position query sent now: once its answer is back, every
    // command sent before it has been received too.
    std::vector<std::string> CommandsSent() {
        LONG position = 0;
        EXPECT_EQ(m_focuser->get_Position(&position), S_OK);
        return m_emulator.Commands();
    }

    FocuserModel m_model;
    ControllerEmulator m_emulator;
};

const std::string kQueryPosition = protocol::kReadPosition;
std::string SpeedCommand(int speed) { return protocol::SpeedCommand(speed); }

// --- Opening the dialog, and OK ---------------------------------------------------

TEST_F(SetupDialogTest, OpensWithTheStoredSettingsAndTheCommandsDisabledWhenUnlinked) {
    testregistry::StoreSettings(4, 1500, "1.270000", 2);
    ControllerEmulator emulator;
    ASSERT_TRUE(emulator.Start("//./COM13"));
    const char* screenshot = std::getenv("SETUP_DIALOG_SCREENSHOT");

    HRESULT result = E_FAIL;
    ShowDialog([&] { result = m_focuser->SetupDialog(); }, [&](User& user, HWND dialog) {
        user.Check(user.SelectedPort(dialog) == "COM5", "the port is not COM5");
        user.Check(user.Text(GetDlgItem(dialog, IDC_MAX_POSITION)) == "1500", "maximum position");
        user.Check(user.Text(GetDlgItem(dialog, IDC_STEP_SIZE)) == "1.27",
                   "the step size shows " + user.Text(GetDlgItem(dialog, IDC_STEP_SIZE)));
        user.Check(user.CheckedSpeed(dialog) == 2, "Fast is not checked");
        user.Check(!IsWindowEnabled(GetDlgItem(dialog, IDC_ZERO_POSITION)), "Zero Position is enabled");
        user.Check(!IsWindowEnabled(GetDlgItem(dialog, IDC_FIND_HOME)), "Find Home is enabled");
        user.CheckFocus(dialog, IDOK);
        if (screenshot != nullptr) {
            user.Check(WaitUntilPainted(dialog), "the dialog did not finish painting");
            Sleep(300);  // the display catches up with what was painted
            user.Check(SaveWindowImage(dialog, screenshot), "no screenshot saved");
        }
        user.Close(dialog, IDCANCEL);
    });
    EXPECT_EQ(result, S_OK);
    Sleep(300);  // nothing is expected, so there is nothing to wait for
    EXPECT_TRUE(emulator.Commands().empty()) << "an unlinked driver sent a command";
    emulator.Stop();
}

// The emblem is loaded with each dialog; a night of setup dialogs must not
// leave one bitmap behind per dialog.
TEST_F(SetupDialogTest, TheEmblemIsShownWhileOpenAndDeletedWithTheDialog) {
    HGDIOBJ emblem = nullptr;
    ShowDialog([&] { m_focuser->SetupDialog(); }, [&](User& user, HWND dialog) {
        for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            if (ClassOf(child) == "Static" && (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP) {
                emblem = reinterpret_cast<HGDIOBJ>(SendMessageA(child, STM_GETIMAGE, IMAGE_BITMAP, 0));
            }
        }
        user.Check(emblem != nullptr && GetObjectType(emblem) == OBJ_BITMAP, "no emblem is shown");
        user.Close(dialog, IDCANCEL);
    });
    ASSERT_NE(emblem, nullptr);
    EXPECT_EQ(GetObjectType(emblem), 0u) << "the emblem's bitmap outlived the dialog";
}

TEST_F(SetupDialogTest, ThePortListHoldsCom1ToCom32AndOkSavesTheChosenIndex) {
    testregistry::StoreSettings(31, 20000, "1.270000", 1);
    ShowDialog([&] { m_focuser->SetupDialog(); }, [&](User& user, HWND dialog) {
        HWND list = GetDlgItem(dialog, IDC_PORT_LIST);
        user.Check(user.Send(list, CB_GETCOUNT) == 32, "the port list does not hold 32 ports");
        for (int i = 0; i < 32; ++i) {
            char text[64] = {};
            user.Send(list, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
            user.Check(std::string(text) == "COM" + std::to_string(i + 1), "entry " + std::to_string(i));
        }
        user.Check(user.SelectedPort(dialog) == "COM32", "COM32 is not selected");
        user.Send(list, CB_SETCURSEL, 2);  // COM3
        user.Close(dialog, IDOK);
    });
    EXPECT_EQ(Stored("COM"), "2");
    // What was not touched is saved as it was shown, the step size included.
    EXPECT_EQ(Stored("MaxPosition"), "20000");
    EXPECT_EQ(Stored("StepSize"), "1.270000");
    EXPECT_EQ(Stored("Speed"), "1");
}

TEST_F(SetupDialogTest, AMaximumAboveTheLimitIsSavedAsTypedAndShownClampedNextTime) {
    ShowDialog([&] { m_focuser->SetupDialog(); }, [&](User& user, HWND dialog) {
        user.Type(dialog, IDC_MAX_POSITION, "250000");
        user.Close(dialog, IDOK);
    });
    EXPECT_EQ(Stored("MaxPosition"), "250000");

    std::string shown;
    ShowDialog([&] { m_focuser->SetupDialog(); }, [&](User& user, HWND dialog) {
        shown = user.Text(GetDlgItem(dialog, IDC_MAX_POSITION));
        user.Close(dialog, IDCANCEL);
    });
    EXPECT_EQ(shown, "100000");
}

// --- The settings key cannot be used; text that is not a number ---------------------------------------------

// Makes the settings key impossible to open or create: its parent becomes a
// volatile key, under which no lasting key may be created. Only done where the
// parent holds nothing else.
class UnusableSettingsKey {
public:
    UnusableSettingsKey() {
        testregistry::DeleteSettingsKey();
        const REGSAM view = testregistry::SettingsView();
        HKEY parent = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kParent, 0, KEY_READ | view, &parent) == ERROR_SUCCESS) {
            DWORD subkeys = 0, values = 0;
            RegQueryInfoKeyA(parent, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                             nullptr, nullptr, nullptr, nullptr);
            RegCloseKey(parent);
            if (subkeys != 0 || values != 0) return;  // someone else's drivers
            RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kParent, view, 0);
        }
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kParent, 0, nullptr, REG_OPTION_VOLATILE,
                            KEY_ALL_ACCESS | view, nullptr, &parent, nullptr) != ERROR_SUCCESS) {
            return;
        }
        RegCloseKey(parent);
        m_made = true;
    }
    ~UnusableSettingsKey() { MakeUsable(); }

    bool Made() const { return m_made; }
    void MakeUsable() {
        if (m_made) RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kParent, testregistry::SettingsView(), 0);
        m_made = false;
    }

private:
    static constexpr const char kParent[] = "Software\\ASCOM\\Focuser Drivers";
    bool m_made = false;
};

TEST_F(SetupDialogTest, NoSpeedIsCheckedWhenTheSettingsKeyCannotBeUsed) {
    UnusableSettingsKey unusable;
    if (!unusable.Made()) GTEST_SKIP() << "the profile key holds other drivers' settings";
    ASSERT_EQ(LoadSettings().Speed, -1) << "the settings key is still usable";

    ShowDialog([&] { m_focuser->SetupDialog(); }, [&](User& user, HWND dialog) {
        user.Check(user.CheckedSpeed(dialog) == -1, "a speed is checked");
        user.Check(user.SelectedPort(dialog) == "COM1", "port");
        user.Check(user.Text(GetDlgItem(dialog, IDC_STEP_SIZE)) == "0", "step size");
        // With the key usable again, OK saves the group as it stands: none.
        unusable.MakeUsable();
        user.Close(dialog, IDOK);
    });
    EXPECT_EQ(Stored("Speed"), "-1");
    EXPECT_EQ(LoadSettings().Speed, 0) << "a stored -1 loads as Slow";
}

TEST_F(SetupDialogTest, WithBothEditsBadOnlyTheMaximumPositionIsReported) {
    testregistry::StoreSettings(0, 20000, "1.270000", 1);
    std::string prompt;
    const int dialogs = ShowDialog([&] { m_focuser->SetupDialog(); }, [&](User& user, HWND dialog) {
        user.Type(dialog, IDC_MAX_POSITION, "12x");
        user.Type(dialog, IDC_STEP_SIZE, "1,5");
        user.Click(dialog, IDOK);
        prompt = user.AnswerBox(dialog, IDOK);
        user.CheckFocus(dialog, IDC_MAX_POSITION);
        user.Close(dialog, IDCANCEL);
    });
    EXPECT_EQ(prompt, DialogExchange::kIntegerPrompt);
    EXPECT_EQ(dialogs, 2) << "the dialog and one prompt";
    EXPECT_EQ(Stored("MaxPosition"), "20000");
}

// The buttons follow whether the dialog is given a link, not whether that link
// has a line: they save, and the commands without a line fail quietly.
TEST_F(SetupDialogTest, CommandsOverALinkWithoutALineOnlySave) {
    testregistry::StoreSettings(0, 20000, "1.270000", 1);
    ControllerLink link;
    ::Setup setup(ServerModule::ResourceInstance(), &link, LoadSettings());
    INT_PTR ended = 0;
    ShowDialog([&] { ended = setup.DoModal(); }, [&](User& user, HWND dialog) {
        user.Type(dialog, IDC_MAX_POSITION, "2222");
        user.Click(dialog, IDC_FIND_HOME);
        user.AnswerBox(dialog, IDYES);
        user.Type(dialog, IDC_MAX_POSITION, "3333");
        user.Click(dialog, IDC_ZERO_POSITION);
        user.Check(User::WaitUntil([&] { return Stored("MaxPosition") == "3333"; }), "Zero Position saved nothing");
        user.Close(dialog, IDCANCEL);
    });
    EXPECT_EQ(ended, IDCANCEL);
    EXPECT_EQ(setup.Handle(), nullptr);
    EXPECT_EQ(Stored("MaxPosition"), "3333");
}

// --- Linked: the speed after closing, and the two commands ------------------------

TEST_F(LinkedSetupDialogTest, TheCommandsAreEnabledAndOkIsFollowedByOneSpeedCommand) {
    HRESULT result = E_FAIL;
    ShowDialog([&] { result = m_focuser->SetupDialog(); }, [&](User& user, HWND dialog) {
        user.Check(IsWindowEnabled(GetDlgItem(dialog, IDC_ZERO_POSITION)), "Zero Position is disabled");
        user.Check(IsWindowEnabled(GetDlgItem(dialog, IDC_FIND_HOME)), "Find Home is disabled");
        user.Click(dialog, IDC_SPEED_FAST);
        user.Close(dialog, IDOK);
    });
    EXPECT_EQ(result, S_OK);
    // The speed just saved reaches the controller.
    EXPECT_EQ(CommandsSent(), (std::vector<std::string>{SpeedCommand(2), kQueryPosition}));
}

TEST_F(LinkedSetupDialogTest, CancelIsFollowedByTheStoredSpeedOnce) {
    HRESULT result = E_FAIL;
    ShowDialog([&] { result = m_focuser->SetupDialog(); }, [&](User& user, HWND dialog) {
        user.Click(dialog, IDC_SPEED_FAST);
        user.Close(dialog, IDCANCEL);
    });
    EXPECT_EQ(result, S_OK);
    EXPECT_EQ(CommandsSent(), (std::vector<std::string>{SpeedCommand(1), kQueryPosition}));
}

TEST_F(LinkedSetupDialogTest, FindHomeAsksFirstAndAnsweredNoSendsNothingButHasSaved) {
    std::string question;
    ShowDialog([&] { m_focuser->SetupDialog(); }, [&](User& user, HWND dialog) {
        user.Type(dialog, IDC_MAX_POSITION, "4321");
        user.Click(dialog, IDC_SPEED_SLOW);
        user.Click(dialog, IDC_FIND_HOME);
        question = user.AnswerBox(dialog, IDNO);
        user.Close(dialog, IDCANCEL);
    });
    EXPECT_EQ(question, ::Setup::kFindHomeQuestion);
    // Only the closing speed command: nothing for Find Home itself.
    EXPECT_EQ(CommandsSent(), (std::vector<std::string>{SpeedCommand(0), kQueryPosition}));
    EXPECT_EQ(Stored("MaxPosition"), "4321");
    EXPECT_EQ(Stored("Speed"), "0");
}

TEST_F(LinkedSetupDialogTest, FindHomeAnsweredYesSendsTheSpeedThenHomes) {
    ShowDialog([&] { m_focuser->SetupDialog(); }, [&](User& user, HWND dialog) {
        user.Click(dialog, IDC_SPEED_FAST);
        user.Click(dialog, IDC_FIND_HOME);
        user.AnswerBox(dialog, IDYES);
        user.Check(m_emulator.WaitForFrames(2, kWaitMs), "Find Home sent less than two commands");
        user.Close(dialog, IDCANCEL);
    });
    EXPECT_EQ(CommandsSent(), (std::vector<std::string>{SpeedCommand(2), protocol::kFindHome,
                                                        SpeedCommand(2), kQueryPosition}));
}

TEST_F(LinkedSetupDialogTest, ZeroPositionThenCancelKeepsWhatZeroPositionSaved) {
    ShowDialog([&] { m_focuser->SetupDialog(); }, [&](User& user, HWND dialog) {
        user.Type(dialog, IDC_MAX_POSITION, "1500");
        user.Click(dialog, IDC_SPEED_SLOW);
        user.Click(dialog, IDC_ZERO_POSITION);
        user.Check(m_emulator.WaitForFrames(2, kWaitMs), "Zero Position sent less than two commands");
        user.Type(dialog, IDC_MAX_POSITION, "999");
        user.Click(dialog, IDC_SPEED_FAST);
        user.Close(dialog, IDCANCEL);
    });
    EXPECT_EQ(Stored("MaxPosition"), "1500");
    EXPECT_EQ(Stored("Speed"), "0");
    EXPECT_EQ(CommandsSent(), (std::vector<std::string>{SpeedCommand(0), protocol::kZeroPosition,
                                                        SpeedCommand(0), kQueryPosition}));
}

// One prompt per action, even though opening it makes the dialog re-read its
// controls; then the focus is on the bad entry and nothing else happens.
TEST_F(LinkedSetupDialogTest, LettersInTheStepSizeStopEveryActionAtOnePrompt) {
    std::vector<std::string> prompts;
    const int dialogs = ShowDialog([&] { m_focuser->SetupDialog(); }, [&](User& user, HWND dialog) {
        user.Type(dialog, IDC_MAX_POSITION, "1234");
        user.Type(dialog, IDC_STEP_SIZE, "abc");
        for (int button : {IDOK, IDC_ZERO_POSITION, IDC_FIND_HOME}) {
            user.Click(dialog, button);
            prompts.push_back(user.AnswerBox(dialog, IDOK));
            user.CheckFocus(dialog, IDC_STEP_SIZE);
        }
        user.Check(IsWindowVisible(dialog), "the dialog closed");
        user.Close(dialog, IDCANCEL);
    });
    const std::string number = DialogExchange::kRealPrompt;
    EXPECT_EQ(prompts, (std::vector<std::string>{number, number, number}));
    EXPECT_EQ(dialogs, 4) << "the dialog and one prompt per action";
    EXPECT_EQ(Stored("MaxPosition"), "20000");
    EXPECT_EQ(Stored("StepSize"), "1.270000");
    // Only the closing speed command.
    EXPECT_EQ(CommandsSent(), (std::vector<std::string>{SpeedCommand(1), kQueryPosition}));
}

}  // namespace


// This program's own main, instead of the shared one: the test thread moves
// to the tests' desktop before anything (COM included) can give it a window.
int main(int argc, char** argv) {
    InstallCrashReport();
    testing::InitGoogleTest(&argc, argv);
    HDESK desktop = owndesktop::Create(kDesktopName);
    if (desktop == nullptr) {
        std::fprintf(stderr, "no desktop for the dialog tests (error %lu)\n", GetLastError());
        return 1;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const int result = RUN_ALL_TESTS();
    CoUninitialize();
    CloseDesktop(desktop);
    return result;
}
