#pragma once
// The driver object: the one class clients create. It owns the session with
// the focuser controller and implements every member of IFocuser on top of
// the session's operations. Settings are loaded afresh by each member that
// needs one.
#include <windows.h>
#include <oaidl.h>

#include "com/DispatchImpl.h"
#include "driver/Focuser.h"  // generated from driver/Focuser.idl
#include "link/FocuserSession.h"
#include "trace/TraceLog.h"

// The shared type information behind every driver object's IDispatch.
extern TypeInfoHolder g_focuserTypeInfo;

class CFocuser : public ISupportErrorInfo, public DispatchImpl<IFocuser, g_focuserTypeInfo> {
public:
    // The interface faces: IFocuser (also for IDispatch and IUnknown) and
    // ISupportErrorInfo. nullptr for anything else.
    void* FindInterface(REFIID iid);

    // ISupportErrorInfo
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID iid) override;

    // IFocuser, in virtual-table order. A property read given no place for its
    // value answers E_POINTER before doing anything.
    STDMETHODIMP get_StepSize(float* pVal) override;
    STDMETHODIMP SetupDialog() override;
    STDMETHODIMP get_MaxStep(LONG* pVal) override;
    STDMETHODIMP get_IsMoving(VARIANT_BOOL* pVal) override;
    STDMETHODIMP Move(LONG Position) override;
    STDMETHODIMP get_Position(LONG* pVal) override;
    STDMETHODIMP get_Link(VARIANT_BOOL* pVal) override;
    STDMETHODIMP put_Link(VARIANT_BOOL newVal) override;
    STDMETHODIMP get_Absolute(VARIANT_BOOL* pVal) override;
    STDMETHODIMP get_TempCompAvailable(VARIANT_BOOL* pVal) override;
    STDMETHODIMP get_TempComp(VARIANT_BOOL* pVal) override;
    STDMETHODIMP put_TempComp(VARIANT_BOOL newVal) override;
    STDMETHODIMP get_Temperature(float* pVal) override;
    STDMETHODIMP get_MaxIncrement(LONG* pVal) override;
    STDMETHODIMP Stop() override;
    STDMETHODIMP Halt() override;

protected:
    CFocuser();
    // Destroying the object closes an open link without sending anything.
    ~CFocuser();

private:
    // Publishes message as the calling thread's error information, traces it,
    // and returns the failure a member reports.
    HRESULT Fail(const char* message);

    // The port's device name while linked, for the trace.
    char m_device[32] = {};
    // Declared before the session that reports to it, so that it outlives it.
    TraceLog m_trace;
    FocuserSession m_session;
};
