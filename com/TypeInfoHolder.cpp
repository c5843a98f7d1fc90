#include "com/TypeInfoHolder.h"

#include <new>

#include "com/ServerModule.h"

HRESULT TypeInfoHolder::EnsureLoaded(LCID lcid) {
    if (m_info != nullptr && m_names != nullptr) return S_OK;

    StaticDataGuard guard;
    if (m_info == nullptr) {
        // Always through the registration, never straight from our own file:
        // what a client gets matches what COM marshals with.
        ITypeLib* library = nullptr;
        HRESULT hr = LoadRegTypeLib(m_libid, m_major, m_minor, lcid, &library);
        if (FAILED(hr)) return hr;
        ITypeInfo* info = nullptr;
        hr = library->GetTypeInfoOfGuid(m_iid, &info);
        library->Release();
        if (FAILED(hr)) return hr;

        ITypeInfo2* info2 = nullptr;
        if (SUCCEEDED(info->QueryInterface(IID_ITypeInfo2, reinterpret_cast<void**>(&info2)))) {
            info->Release();
            info = info2;
        }
        m_info.store(info);
        ServerModule::Instance().AddTermFunction(&TypeInfoHolder::ClearCallback, this);
    }
    if (m_names == nullptr) BuildNameCache();
    return S_OK;
}

void TypeInfoHolder::BuildNameCache() {
    ITypeInfo* info = m_info.load();
    TYPEATTR* attributes = nullptr;
    if (FAILED(info->GetTypeAttr(&attributes))) return;
    const UINT count = attributes->cFuncs;
    info->ReleaseTypeAttr(attributes);

    NameEntry* names = new (std::nothrow) NameEntry[count]();
    if (names == nullptr) return;  // lookups go to the type information; retried next call
    UINT filled = 0;
    for (UINT i = 0; i < count; ++i) {
        FUNCDESC* function = nullptr;
        if (FAILED(info->GetFuncDesc(i, &function))) continue;
        BSTR name = nullptr;
        if (SUCCEEDED(info->GetDocumentation(function->memid, &name, nullptr, nullptr, nullptr))) {
            names[filled].name = name;
            names[filled].length = SysStringLen(name);
            names[filled].id = function->memid;
            ++filled;
        }
        info->ReleaseFuncDesc(function);
    }
    m_nameCount = filled;
    m_names.store(names);
}

void TypeInfoHolder::Clear() {
    if (NameEntry* names = m_names.exchange(nullptr)) {
        for (UINT i = 0; i < m_nameCount; ++i) SysFreeString(names[i].name);
        delete[] names;
        m_nameCount = 0;
    }
    if (ITypeInfo* info = m_info.exchange(nullptr)) info->Release();
}

void TypeInfoHolder::ClearCallback(void* holder) { static_cast<TypeInfoHolder*>(holder)->Clear(); }

HRESULT TypeInfoHolder::GetTypeInfo(UINT, LCID lcid, ITypeInfo** info) {
    if (info == nullptr) return E_POINTER;
    *info = nullptr;
    const HRESULT hr = EnsureLoaded(lcid);
    if (FAILED(hr)) return hr;
    ITypeInfo* loaded = m_info.load();
    loaded->AddRef();
    *info = loaded;
    return S_OK;
}

HRESULT TypeInfoHolder::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) {
    const HRESULT hr = EnsureLoaded(lcid);
    if (FAILED(hr)) return hr;
    const NameEntry* cache = m_names.load();
    if (count == 1 && cache != nullptr && names != nullptr && ids != nullptr &&
        names[0] != nullptr) {
        const UINT length = static_cast<UINT>(lstrlenW(names[0]));
        // Exact, case-sensitive match; the last entry first.
        for (UINT i = m_nameCount; i-- > 0;) {
            if (cache[i].length == length &&
                memcmp(cache[i].name, names[0], length * sizeof(OLECHAR)) == 0) {
                ids[0] = cache[i].id;
                return S_OK;
            }
        }
    }
    return m_info.load()->GetIDsOfNames(names, count, ids);
}

HRESULT TypeInfoHolder::Invoke(IDispatch* self, DISPID id, REFIID, LCID lcid, WORD flags,
                               DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                               UINT* argError) {
    const HRESULT hr = EnsureLoaded(lcid);
    if (FAILED(hr)) return hr;
    return m_info.load()->Invoke(self, id, flags, params, result, exception, argError);
}
