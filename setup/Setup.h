#pragma once
// The setup dialog: the driver's settings (port, maximum position, step size,
// speed) and the two controller commands that need the user's say, Zero
// Position and Find Home. OK and both commands save the settings.
#include "setup/DialogWindow.h"

#include <cstdint>

#include "link/ControllerLink.h"
#include "settings/DriverSettings.h"

class Setup : public DialogWindow {
public:
    // resources: the module that holds the dialog's template. controller:
    // the driver's controller while it is linked, else nullptr; the command
    // buttons are enabled only with one. settings: what the dialog
    // shows first.
    Setup(HINSTANCE resources, ControllerLink* controller, const DriverSettings& settings,
          HWND parent = nullptr);
    ~Setup() override;

    // The question Find Home asks before it starts.
    static constexpr const char kFindHomeQuestion[] =
        "Warning:  the focuser will not respond until the command is finished.  Continue?";
    static constexpr const char kCaption[] = "Tavrilen Focuser";
    // What a save that did not reach the registry shows.
    static constexpr const char kSaveFailed[] =
        "The settings could not be saved: changing them needs administrator rights.\r\n\r\n"
        "Run this program as administrator once, or ask an administrator to reinstall the "
        "driver, which lets every user change them.";

protected:
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void DoDataExchange(DialogExchange& exchange) override;
    bool OnInitDialog() override;
    void OnOK() override;

private:
    void OnZeroPosition();
    void OnFindHome();
    // Saves what the dialog holds; when that fails, says so and returns false.
    bool Save();
    // The speed just saved goes first, as the registry now holds it; the
    // command is sent whatever became of it, and neither outcome is shown.
    void SendAtStoredSpeed(bool (ControllerLink::*command)());

    ControllerLink* const m_controller;
    HWND m_zeroPositionButton = nullptr;
    HWND m_findHomeButton = nullptr;
    int32_t m_portIndex;
    int32_t m_maxPosition;
    float m_stepSize;
    int32_t m_speed;
};
