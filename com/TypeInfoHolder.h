#pragma once
// The type information behind an interface's IDispatch, loaded once per module
// from the registered type library and shared by every object, with a cache of
// the member names for the common single-name lookup.
#include <windows.h>
#include <oaidl.h>

#include <atomic>

class TypeInfoHolder {
public:
    TypeInfoHolder(const IID& iid, const GUID& libid, WORD major, WORD minor)
        : m_iid(iid), m_libid(libid), m_major(major), m_minor(minor) {}
    TypeInfoHolder(const TypeInfoHolder&) = delete;
    TypeInfoHolder& operator=(const TypeInfoHolder&) = delete;

    // The IDispatch operations of an object whose dispatch face is self.
    HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info);
    HRESULT GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids);
    HRESULT Invoke(IDispatch* self, DISPID id, REFIID iid, LCID lcid, WORD flags,
                   DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception, UINT* argError);

private:
    struct NameEntry {
        BSTR name;
        UINT length;
        DISPID id;
    };

    HRESULT EnsureLoaded(LCID lcid);
    void BuildNameCache();
    void Clear();
    static void ClearCallback(void* holder);

    const IID& m_iid;
    const GUID& m_libid;
    const WORD m_major;
    const WORD m_minor;
    // Both are checked once without the static-data lock, so they are
    // published only after what they point to is complete.
    std::atomic<ITypeInfo*> m_info{nullptr};
    std::atomic<NameEntry*> m_names{nullptr};
    UINT m_nameCount = 0;
};
