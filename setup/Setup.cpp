#include "setup/Setup.h"

#include "resources/resource.h"

Setup::Setup(HINSTANCE resources, ControllerLink* controller, const DriverSettings& settings,
             HWND parent)
    : DialogWindow(resources, IDD_SETUP, parent, kCaption),
      m_controller(controller),
      m_portIndex(settings.PortIndex),
      m_maxPosition(settings.MaxPosition),
      m_stepSize(settings.StepSize),
      m_speed(settings.Speed) {}

Setup::~Setup() = default;

void Setup::DoDataExchange(DialogExchange& exchange) {
    exchange.Control(IDC_ZERO_POSITION, m_zeroPositionButton);
    exchange.ComboIndex(IDC_PORT_LIST, m_portIndex);
    exchange.Integer(IDC_MAX_POSITION, m_maxPosition);
    exchange.Real(IDC_STEP_SIZE, m_stepSize);
    exchange.Radio(IDC_SPEED_SLOW, m_speed);
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
    EnableWindow(m_zeroPositionButton, m_controller != nullptr);
    EnableWindow(m_findHomeButton, m_controller != nullptr);
    return true;
}

void Setup::OnOK() {
    // Unsaved, the dialog stays open with what the user typed.
    if (!UpdateData(true) || !Save()) return;
    EndDialog(IDOK);
}

// The commands go out whether or not the save worked: the user asked for
// them, and the failure has been shown.
void Setup::OnZeroPosition() {
    if (!UpdateData(true)) return;
    Save();
    SendAtStoredSpeed(&ControllerLink::ZeroPosition);
}

void Setup::OnFindHome() {
    if (!UpdateData(true)) return;
    Save();
    if (MessageBoxA(Handle(), kFindHomeQuestion, kCaption, MB_YESNO | MB_ICONEXCLAMATION) != IDYES) {
        return;
    }
    SendAtStoredSpeed(&ControllerLink::FindHome);
}

void Setup::SendAtStoredSpeed(bool (ControllerLink::*command)()) {
    if (m_controller == nullptr) return;
    m_controller->ApplySpeed(LoadSettings().Speed);
    (m_controller->*command)();
}

bool Setup::Save() {
    DriverSettings settings;
    settings.PortIndex = m_portIndex;
    settings.MaxPosition = m_maxPosition;
    settings.StepSize = m_stepSize;
    settings.Speed = m_speed;
    if (SaveSettings(settings)) return true;
    MessageBoxA(Handle(), kSaveFailed, kCaption, MB_OK | MB_ICONEXCLAMATION);
    return false;
}
