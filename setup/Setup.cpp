#include "setup/Setup.h"

#include "com/ServerModule.h"
#include "driver/CFocuser.h"
#include "resources/resource.h"

Setup::Setup(HWND parent)
    : DialogWindow(ServerModule::ResourceInstance(), IDD_SETUP, parent, kCaption) {
    const DriverSettings settings = LoadSettings();
    PortIndex = settings.PortIndex;
    MaxPosition = settings.MaxPosition;
    StepSize = settings.StepSize;
    Speed = settings.Speed;
}

Setup::~Setup() = default;

void Setup::DoDataExchange(DialogExchange& exchange) {
    exchange.Control(IDC_STEP_SIZE, m_stepSizeEdit);
    exchange.Control(IDC_ZERO_POSITION, m_zeroPositionButton);
    exchange.Control(IDC_MAX_POSITION, m_maxPositionEdit);
    exchange.Control(IDC_PORT_LIST, m_portList);
    exchange.ComboIndex(IDC_PORT_LIST, PortIndex);
    exchange.Integer(IDC_MAX_POSITION, MaxPosition);
    exchange.Real(IDC_STEP_SIZE, StepSize);
    exchange.Control(IDC_SPEED_SLOW, m_slowRadio);
    exchange.Radio(IDC_SPEED_SLOW, Speed);
    exchange.Control(IDC_FIND_HOME, m_findHomeButton);
}

bool Setup::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (message) {
        case WM_CANCELMODE:
            // Sent when something (a message box, for one) takes over from the
            // dialog. The members follow the controls, but the read is quiet:
            // it must never raise a prompt of its own.
            result = Default(message, wParam, lParam);
            ReadControlsQuietly();
            return true;
        case WM_COMMAND:
            if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == IDC_ZERO_POSITION) {
                OnZeroPosition();
                result = 0;
                return true;
            }
            if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == IDC_FIND_HOME) {
                OnFindHome();
                result = 0;
                return true;
            }
            break;
        default:
            break;
    }
    return DialogWindow::OnMessage(message, wParam, lParam, result);
}

bool Setup::OnInitDialog() {
    if (!DialogWindow::OnInitDialog()) return false;
    EnableWindow(m_zeroPositionButton, m_linked);
    EnableWindow(m_findHomeButton, m_linked);
    return true;
}

void Setup::OnOK() {
    if (!UpdateData(true)) return;
    Save();
    EndDialog(IDOK);
}

void Setup::OnZeroPosition() {
    if (!UpdateData(true)) return;
    Save();
    // The speed just saved goes first; the zeroing is sent whatever became of
    // it, and neither outcome is shown.
    if (m_driver == nullptr) return;
    m_driver->ApplySpeed();
    m_driver->ZeroPosition();
}

void Setup::OnFindHome() {
    if (!UpdateData(true)) return;
    Save();
    if (MessageBoxA(Handle(), kFindHomeQuestion, kCaption, MB_YESNO | MB_ICONEXCLAMATION) != IDYES) {
        return;
    }
    if (m_driver == nullptr) return;
    m_driver->ApplySpeed();
    m_driver->FindHome();
}

void Setup::Save() const {
    DriverSettings settings;
    settings.PortIndex = PortIndex;
    settings.MaxPosition = MaxPosition;
    settings.StepSize = StepSize;
    settings.Speed = Speed;
    SaveSettings(settings);
}
