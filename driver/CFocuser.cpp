#include "driver/CFocuser.h"

#include <cstdio>
#include <memory>
#include <new>

#include "com/ServerModule.h"
#include "link/SerialPort.h"
#include "settings/DriverSettings.h"
#include "setup/Setup.h"

TypeInfoHolder g_focuserTypeInfo(IID_IFocuser, LIBID_Tavrilen, 1, 0);

namespace {

// The one message of the COM interface alone; the others are the session's.
constexpr const char kNotSupported[] = "Not Supported";

VARIANT_BOOL ToVariantBool(bool value) { return value ? VARIANT_TRUE : VARIANT_FALSE; }

}  // namespace

CFocuser::CFocuser() : m_session(&m_trace) {}

CFocuser::~CFocuser() {
    if (m_session.IsConnected()) m_trace.Write("disconnect", m_device);
}

void* CFocuser::FindInterface(REFIID iid) {
    if (IsEqualIID(iid, IID_IFocuser) || IsEqualIID(iid, IID_IDispatch) ||
        IsEqualIID(iid, IID_IUnknown)) {
        return static_cast<IFocuser*>(this);
    }
    if (IsEqualIID(iid, IID_ISupportErrorInfo)) return static_cast<ISupportErrorInfo*>(this);
    return nullptr;
}

HRESULT CFocuser::Fail(const char* message) {
    // A link is traced or not as a whole; outside one, each error asks anew.
    if (!m_session.IsConnected()) m_trace.SetOn(LoadTraceSwitch());
    m_trace.Write("error", message);

    const int length = MultiByteToWideChar(CP_ACP, 0, message, -1, nullptr, 0);
    wchar_t* description = length > 0 ? new (std::nothrow) wchar_t[length] : nullptr;
    if (description == nullptr) return E_OUTOFMEMORY;
    MultiByteToWideChar(CP_ACP, 0, message, -1, description, length);

    ICreateErrorInfo* create = nullptr;
    if (SUCCEEDED(CreateErrorInfo(&create))) {
        create->SetGUID(IID_IFocuser);
        LPOLESTR progId = nullptr;
        if (SUCCEEDED(ProgIDFromCLSID(CLSID_Focuser, &progId)) && progId != nullptr) {
            create->SetSource(progId);
            CoTaskMemFree(progId);
        }
        create->SetDescription(description);
        IErrorInfo* info = nullptr;
        if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
            SetErrorInfo(0, info);
            info->Release();
        }
        create->Release();
    }
    delete[] description;
    return DISP_E_EXCEPTION;
}

STDMETHODIMP CFocuser::InterfaceSupportsErrorInfo(REFIID iid) {
    return IsEqualIID(iid, IID_IFocuser) ? S_OK : S_FALSE;
}

STDMETHODIMP CFocuser::get_StepSize(float* pVal) {
    if (pVal == nullptr) return E_POINTER;
    *pVal = LoadSettings().StepSize;
    return S_OK;
}

STDMETHODIMP CFocuser::SetupDialog() {
    // The dialog runs a message loop, and the host's handlers run in it: one
    // that releases this object (a Disconnect button, a closing window, a
    // timer) must not free it, nor let the DLL be unloaded, under the dialog.
    IFocuser* const self = this;
    self->AddRef();
    {
        // Owned by the caller's active window, the dialog is modal to the host
        // as users expect, and disables its windows while it is open.
        Setup dialog(ServerModule::ResourceInstance(),
                     m_session.IsConnected() ? &m_session.Link() : nullptr, LoadSettings(),
                     GetActiveWindow());
        dialog.DoModal();
    }
    // Whether the dialog ended with OK or Cancel, the stored speed is what
    // the controller should run at now; unlinked, this sends nothing.
    m_session.ApplySpeed(LoadSettings().Speed);
    self->Release();  // may be the last reference: nothing of the object is touched after it
    return S_OK;
}

STDMETHODIMP CFocuser::get_MaxStep(LONG* pVal) {
    if (pVal == nullptr) return E_POINTER;
    *pVal = LoadSettings().MaxPosition;
    return S_OK;
}

STDMETHODIMP CFocuser::get_IsMoving(VARIANT_BOOL* pVal) {
    if (pVal == nullptr) return E_POINTER;
    *pVal = ToVariantBool(m_session.IsMoving());
    return S_OK;
}

STDMETHODIMP CFocuser::Move(LONG Position) {
    const char* message = nullptr;
    if (!m_session.Move(Position, LoadSettings().MaxPosition, message)) return Fail(message);
    return S_OK;
}

STDMETHODIMP CFocuser::get_Position(LONG* pVal) {
    if (pVal == nullptr) return E_POINTER;
    int32_t position = 0;
    const char* message = nullptr;
    if (!m_session.ReadPosition(position, message)) return Fail(message);
    *pVal = position;
    return S_OK;
}

STDMETHODIMP CFocuser::get_Link(VARIANT_BOOL* pVal) {
    if (pVal == nullptr) return E_POINTER;
    *pVal = ToVariantBool(m_session.IsConnected());
    return S_OK;
}

STDMETHODIMP CFocuser::put_Link(VARIANT_BOOL newVal) {
    // Only the automation True (-1) asks for a link; 1 and anything else ask
    // for none.
    const bool requested = newVal == VARIANT_TRUE;
    if (requested == m_session.IsConnected()) return S_OK;

    if (!requested) {
        m_session.Disconnect();
        m_trace.Write("disconnect", m_device);
        return S_OK;
    }

    // The one name of the port, opened and shown in the failure alike; COM10
    // and above are reached only through this form.
    std::snprintf(m_device, sizeof m_device, "//./COM%li",
                  static_cast<long>(LoadSettings().PortIndex) + 1);
    m_trace.SetOn(LoadTraceSwitch());
    m_trace.Write("connect", m_device);
    std::unique_ptr<SerialPort> port(new (std::nothrow) SerialPort);
    if (!port) return Fail(focuser_message::kOutOfMemory);
    // Captures one reference and writes no reason, so neither the opener nor
    // the session allocates on the way.
    const FocuserSession::Opener open = [&port](const char* device,
                                                std::string&) -> std::unique_ptr<Line> {
        if (!port->Open(device, protocol::kBaudRate)) {
            port.reset();  // closes whatever Open left open, before anything is reported
            return nullptr;
        }
        return std::move(port);
    };
    std::string reason;
    const ConnectResult result =
        m_session.Connect(open, m_device, LoadSettings().Speed, reason);
    if (result == ConnectResult::Connected) return S_OK;
    char message[sizeof focuser_message::kCouldNotOpen + sizeof m_device];
    FormatConnectFailure(result, m_device, message, sizeof message);
    return Fail(message);
}

STDMETHODIMP CFocuser::get_Absolute(VARIANT_BOOL* pVal) {
    if (pVal == nullptr) return E_POINTER;
    *pVal = VARIANT_TRUE;
    return S_OK;
}

STDMETHODIMP CFocuser::get_TempCompAvailable(VARIANT_BOOL* pVal) {
    if (pVal == nullptr) return E_POINTER;
    *pVal = VARIANT_FALSE;
    return S_OK;
}

STDMETHODIMP CFocuser::get_TempComp(VARIANT_BOOL*) { return Fail(kNotSupported); }

STDMETHODIMP CFocuser::put_TempComp(VARIANT_BOOL) { return Fail(kNotSupported); }

STDMETHODIMP CFocuser::get_Temperature(float* pVal) {
    if (pVal == nullptr) return E_POINTER;
    const char* message = nullptr;
    if (!m_session.ReadTemperature(*pVal, message)) return Fail(message);
    return S_OK;
}

STDMETHODIMP CFocuser::get_MaxIncrement(LONG* pVal) {
    if (pVal == nullptr) return E_POINTER;
    *pVal = LoadSettings().MaxPosition;
    return S_OK;
}

STDMETHODIMP CFocuser::Stop() { return Fail(kNotSupported); }

STDMETHODIMP CFocuser::Halt() { return Fail(kNotSupported); }
