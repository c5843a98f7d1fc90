#include "com/ClassFactory.h"

#include <new>

HRESULT ClassFactory::Create(CreateInstanceFunction createInstance, REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    ClassFactory* factory = new (std::nothrow) ClassFactory(createInstance);
    if (factory == nullptr) return E_OUTOFMEMORY;
    const HRESULT hr = factory->QueryInterface(iid, object);
    if (FAILED(hr)) delete factory;
    return hr;
}

STDMETHODIMP ClassFactory::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IClassFactory) || IsEqualIID(iid, IID_IUnknown)) {
        *object = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

// The first reference is the class table's; the second is the first one held
// outside it, and only that transition (and its reverse) moves the module lock.
STDMETHODIMP_(ULONG) ClassFactory::AddRef() {
    const LONG count = InterlockedIncrement(&m_refCount);
    if (count == 2) ServerModule::Instance().Lock();
    return static_cast<ULONG>(count);
}

STDMETHODIMP_(ULONG) ClassFactory::Release() {
    const LONG count = InterlockedDecrement(&m_refCount);
    if (count == 1) {
        ServerModule::Instance().Unlock();
    } else if (count == 0) {
        delete this;
    }
    return static_cast<ULONG>(count);
}

STDMETHODIMP ClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    // An aggregating outer object must hold our inner unknown, nothing else.
    if (outer != nullptr && !IsEqualIID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    return m_createInstance(outer, iid, object);
}

STDMETHODIMP ClassFactory::LockServer(BOOL lock) {
    if (lock) {
        ServerModule::Instance().Lock();
    } else {
        ServerModule::Instance().Unlock();
    }
    return S_OK;
}
