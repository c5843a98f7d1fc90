#pragma once
// The class object of a class-table row: creates instances through the row's
// instance creator. It is cached in the table for the module's lifetime, and
// holds one module lock exactly while anyone outside the table holds it, so
// DllCanUnloadNow sees a client that keeps only the class object.
#include <windows.h>
#include <unknwn.h>

#include "com/ServerModule.h"

class ClassFactory final : public IClassFactory {
public:
    // The class-object creator of a class-table row: a new class object for
    // createInstance, asked for iid. On failure it is gone again and *object
    // is null.
    static HRESULT Create(CreateInstanceFunction createInstance, REFIID iid, void** object);

    ClassFactory(const ClassFactory&) = delete;
    ClassFactory& operator=(const ClassFactory&) = delete;

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IClassFactory
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override;
    STDMETHODIMP LockServer(BOOL lock) override;

private:
    explicit ClassFactory(CreateInstanceFunction createInstance)
        : m_createInstance(createInstance) {}
    ~ClassFactory() = default;

    volatile LONG m_refCount = 0;
    const CreateInstanceFunction m_createInstance;
};
