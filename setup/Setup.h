#pragma once
// The setup dialog: the driver's settings (port, maximum position, step size,
// speed) and the two controller commands that need the user's say, Zero
// Position and Find Home. Constructing it loads the settings; OK and both
// commands save them.
#include "setup/DialogWindow.h"

#include <cstdint>

#include "settings/DriverSettings.h"

class CFocuser;

class Setup : public DialogWindow {
public:
    explicit Setup(HWND parent = nullptr);
    ~Setup() override;

    // The question Find Home asks before it starts.
    static constexpr const char kFindHomeQuestion[] =
        "Warning:  the focuser will not respond until the command is finished.  Continue?";
    static constexpr const char kCaption[] = "Tavrilen Focuser";

    HWND m_stepSizeEdit = nullptr;
    HWND m_zeroPositionButton = nullptr;
    HWND m_maxPositionEdit = nullptr;
    HWND m_portList = nullptr;
    int32_t PortIndex = 0;
    int32_t MaxPosition = 0;
    float StepSize = 0.0f;
    HWND m_slowRadio = nullptr;
    int32_t Speed = -1;
    // Set by the caller before DoModal: whether the driver was linked when the
    // dialog opened (the command buttons are enabled only then), and the
    // driver the commands act on, which must be set whenever m_linked is.
    bool m_linked = false;
    HWND m_findHomeButton = nullptr;
    CFocuser* m_driver = nullptr;

protected:
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void DoDataExchange(DialogExchange& exchange) override;
    bool OnInitDialog() override;
    void OnOK() override;

private:
    void OnZeroPosition();
    void OnFindHome();
    void Save() const;
};
