#pragma once
// The IUnknown side of the server's objects, written once. A class that
// implements interfaces derives from them and provides
//     void* FindInterface(REFIID iid);
// which returns the face for iid, with IID_IUnknown answered by its first
// face, or nullptr. These wrappers add reference counting, the module lock and
// aggregation around it:
//   StandaloneObject<T>   an object on its own, plain (apartment) count;
//   AggregatedObject<T>   the inner unknown of an object aggregated by an
//                         outer one, owning a ContainedObject<T> whose faces
//                         hand QueryInterface, AddRef and Release to the outer.
// Every instance holds one module lock from construction to destruction: the
// lock is the first base, so it is taken before anything of the object is
// built and given back only after everything else of it, the driver object's
// own destructor included, has run. Until then DllCanUnloadNow says no, and a
// program freeing unused libraries on another thread cannot unload code that
// is still running.
// CreateComInstance<T> is the instance creator of a class-table row.
#include <windows.h>
#include <unknwn.h>

#include <new>

#include "com/ServerModule.h"

namespace comobject {
// One module lock, held for the lifetime of whatever it is a base of.
class ModuleLock {
protected:
    ModuleLock() { ServerModule::Instance().Lock(); }
    ~ModuleLock() { ServerModule::Instance().Unlock(); }
    ModuleLock(const ModuleLock&) = delete;
    ModuleLock& operator=(const ModuleLock&) = delete;
};

// The count an object is given while it is being destroyed, so that an
// AddRef/Release pair during destruction cannot destroy it a second time.
constexpr ULONG kDestroyingCount = 0x40000000;

// Release for an object with a plain count: destroys it when the last
// reference goes.
template <class Object>
ULONG ReleaseReference(Object* object, ULONG& refCount) {
    const ULONG count = --refCount;
    if (count == 0) {
        refCount = kDestroyingCount;
        delete object;
    }
    return count;
}
}  // namespace comobject

template <class T>
class StandaloneObject final : private comobject::ModuleLock, public T {
public:
    StandaloneObject() = default;

    // A new instance with no references; QueryInterface gives it its first.
    // nullptr when it cannot be allocated.
    static StandaloneObject* Create() { return new (std::nothrow) StandaloneObject; }

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = this->FindInterface(iid);
        if (*object == nullptr) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_refCount; }
    STDMETHODIMP_(ULONG) Release() override { return comobject::ReleaseReference(this, m_refCount); }

private:
    ULONG m_refCount = 0;
};

template <class T>
class ContainedObject final : public T {
public:
    explicit ContainedObject(IUnknown* outer) : m_outer(outer) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        return m_outer->QueryInterface(iid, object);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return m_outer->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return m_outer->Release(); }

private:
    IUnknown* m_outer;
};

template <class T>
class AggregatedObject final : private comobject::ModuleLock, public IUnknown {
public:
    explicit AggregatedObject(IUnknown* outer) : m_contained(outer) {}

    static AggregatedObject* Create(IUnknown* outer) {
        return new (std::nothrow) AggregatedObject(outer);
    }

    // The inner unknown answers IUnknown with itself and every other interface
    // with the contained object's faces.
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown)) {
            *object = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        void* face = m_contained.FindInterface(iid);
        *object = face;
        if (face == nullptr) return E_NOINTERFACE;
        static_cast<IUnknown*>(face)->AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_refCount; }
    STDMETHODIMP_(ULONG) Release() override { return comobject::ReleaseReference(this, m_refCount); }

    virtual ~AggregatedObject() = default;

private:
    ULONG m_refCount = 0;
    ContainedObject<T> m_contained;
};

namespace comobject {
// Asks a new instance (no references yet) for iid; destroys it again, giving
// its module lock back, when it does not answer.
template <class Object>
HRESULT QueryNewObject(Object* created, REFIID iid, void** object) {
    if (created == nullptr) return E_OUTOFMEMORY;
    const HRESULT hr = created->QueryInterface(iid, object);
    if (FAILED(hr)) {
        *object = nullptr;
        delete created;
    }
    return hr;
}
}  // namespace comobject

// The instance creator of a class-table row: a new instance, standalone or
// (with an outer unknown) aggregated, asked for iid.
template <class T>
HRESULT CreateComInstance(IUnknown* outer, REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer == nullptr) {
        return comobject::QueryNewObject(StandaloneObject<T>::Create(), iid, object);
    }
    return comobject::QueryNewObject(AggregatedObject<T>::Create(outer), iid, object);
}
