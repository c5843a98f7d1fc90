// The setup dialog in real windows: the test thread runs SetupDialog (or a
// Setup of its own) while a scripted user on a second thread works it
// (tests/support/SetupDialogUser.h).
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "com/ServerModule.h"
#include "link/ControllerProtocol.h"
#include "resources/resource.h"
#include "settings/DriverSettings.h"
#include "setup/DialogExchange.h"
#include "setup/Setup.h"
#include "sim/ControllerEmulator.h"
#include "sim/FocuserModel.h"
#include "tests/support/CrashReport.h"
#include "tests/support/DriverTestSupport.h"
#include "tests/support/NullModemControl.h"
#include "tests/support/OwnDesktop.h"
#include "tests/support/SetupDialogUser.h"
#include "tests/support/TestRegistry.h"
#include "devtools/WindowImage.h"

namespace {

using namespace setupdialog;

// --- Fixtures ---------------------------------------------------------------------

std::string Stored(const char* name) {
    return testregistry::GetSettingsText(name).value_or("<missing>");
}

class SetupDialogTest : public testing::Test {
protected:
    void SetUp() override {
        testregistry::DeleteSettingsKey();
        m_focuser = NewFocuser();
        ASSERT_NE(m_focuser, nullptr);
    }
    void TearDown() override {
        if (m_focuser) m_focuser->Release();
        testregistry::DeleteSettingsKey();
    }

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
    // Whatever the driver wrote is at the far end once the bridge has drained;
    // the emulator takes it from there within a few ms.
    ASSERT_TRUE(nullmodem::Drain());
    EXPECT_FALSE(emulator.WaitForTrace(1, 250)) << "an unlinked driver sent a command";
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

// --- A host that lets go of its object while the dialog is open ---------------------

IFocuser* g_hostsObject = nullptr;
std::atomic<bool> g_hostReleased{false};

// The host's timer, run by the dialog's own message loop, as a host's
// Disconnect button or closing window would be.
void CALLBACK ReleaseHostsObject(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    g_hostsObject->Release();
    g_hostReleased = true;
}

TEST_F(SetupDialogTest, TheDialogIsModalToTheHostAndOutlivesTheHostsReference) {
    HWND host = CreateWindowExA(0, "STATIC", "Host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300,
                                200, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(host, nullptr);
    SetActiveWindow(host);
    ASSERT_EQ(GetActiveWindow(), host);
    // With no other object alive, a count of 0 is DllCanUnloadNow's S_OK.
    const LONG withObject = ServerModule::Instance().GetLockCount();
    g_hostsObject = m_focuser;
    m_focuser = nullptr;
    g_hostReleased = false;
    SetTimer(nullptr, 0, 200, ReleaseHostsObject);

    HRESULT result = E_FAIL;
    ShowDialog([&] { result = g_hostsObject->SetupDialog(); }, [&](User& user, HWND dialog) {
        user.Check(GetWindow(dialog, GW_OWNER) == host, "the dialog is not owned by the host");
        user.Check(!IsWindowEnabled(host), "the host takes input while the dialog is open");
        user.Check(User::WaitUntil([] { return g_hostReleased.load(); }), "the timer never ran");
        user.Check(ServerModule::Instance().GetLockCount() == withObject,
                   "the object or its module lock went while the dialog was open");
        user.Click(dialog, IDC_SPEED_FAST);
        user.Close(dialog, IDOK);
    });
    EXPECT_EQ(result, S_OK);
    EXPECT_EQ(Stored("Speed"), "2");
    EXPECT_EQ(ServerModule::Instance().GetLockCount(), withObject - 1) << "the object outlived its dialog";
    EXPECT_TRUE(IsWindowEnabled(host));
    DestroyWindow(host);
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

// A user who may not write the profile key sees the stored settings; OK says
// the save failed and leaves the dialog open with what was typed.
TEST_F(SetupDialogTest, OkThatCannotSaveSaysSoAndKeepsWhatWasTyped) {
    testregistry::StoreSettings(4, 1500, "1.270000", 2);
    testregistry::DenySettingsWrites();
    std::string message;
    const int dialogs = ShowDialog([&] { m_focuser->SetupDialog(); }, [&](User& user, HWND dialog) {
        user.Check(user.Text(GetDlgItem(dialog, IDC_MAX_POSITION)) == "1500", "stored maximum");
        user.Type(dialog, IDC_MAX_POSITION, "2500");
        user.Click(dialog, IDOK);
        message = user.AnswerBox(dialog, IDOK);
        user.Check(user.Text(GetDlgItem(dialog, IDC_MAX_POSITION)) == "2500", "typed maximum");
        user.Close(dialog, IDCANCEL);
    });
    testregistry::AllowSettingsWrites();
    EXPECT_EQ(message, ::Setup::kSaveFailed);
    EXPECT_EQ(dialogs, 2) << "the dialog and one message";
    EXPECT_EQ(Stored("MaxPosition"), "1500");
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
