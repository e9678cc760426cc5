#include "Pondra.h"

#include <cstdio>
#include <new>

namespace pondra {

std::atomic<long> g_objectCount{0};
std::atomic<long> g_factoryRefs{0};

namespace {
// Counters never go below zero, whatever a client releases or unlocks too often; a
// negative count would keep the library from ever being unloaded.
long DecrementIfPositive(std::atomic<long>& counter) {
    long n = counter.load();
    while (n > 0 && !counter.compare_exchange_weak(n, n - 1)) {
    }
    return n > 0 ? n - 1 : 0;
}

TMailFactory g_factory; // created when the library is loaded, lives until it is unloaded
} // namespace

std::string GuidToString(const GUID& g) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(g.Data1), static_cast<unsigned>(g.Data2),
                  static_cast<unsigned>(g.Data3), g.Data4[0], g.Data4[1], g.Data4[2],
                  g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return buf;
}

// ---- TMailFolder ----

TMailFolder::TMailFolder() { ++g_objectCount; }

TMailFolder::~TMailFolder() { DecrementIfPositive(g_objectCount); }

HRESULT TMailFolder::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IShellFolder)
        *ppv = static_cast<IShellFolder*>(this);
    else if (riid == IID_ISupportErrorInfo)
        *ppv = static_cast<ISupportErrorInfo*>(this);
    else {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG TMailFolder::AddRef() { return ++refs_; }

ULONG TMailFolder::Release() {
    ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
}

HRESULT TMailFolder::InterfaceSupportsErrorInfo(REFIID riid) {
    return (riid == IID_IUnknown || riid == IID_IShellFolder || riid == IID_ISupportErrorInfo)
               ? S_OK
               : S_FALSE;
}

HRESULT TMailFolder::ParseDisplayName(HWND, IBindCtx*, WCHAR*, ULONG*, LPITEMIDLIST*, ULONG*) {
    return E_NOTIMPL;
}

HRESULT TMailFolder::EnumObjects(HWND, DWORD, IEnumIDList** ppEnum) {
    if (ppEnum) *ppEnum = nullptr;
    return E_NOTIMPL;
}

HRESULT TMailFolder::BindToObject(LPCITEMIDLIST, IBindCtx*, REFIID, void**) { return E_NOTIMPL; }

HRESULT TMailFolder::BindToStorage(LPCITEMIDLIST, IBindCtx*, REFIID, void**) {
    return E_NOTIMPL;
}

HRESULT TMailFolder::CompareIDs(LPARAM, LPCITEMIDLIST, LPCITEMIDLIST) { return E_NOTIMPL; }

// The folder has no view of its own: asked for one, it starts the main program and lets the
// shell show nothing. ppv is left as it is.
HRESULT TMailFolder::CreateViewObject(HWND, REFIID riid, void**) {
    if (riid == IID_IShellView) StartProgram();
    return E_NOTIMPL;
}

HRESULT TMailFolder::GetAttributesOf(UINT, LPCITEMIDLIST*, ULONG*) { return E_NOTIMPL; }

HRESULT TMailFolder::GetUIObjectOf(HWND, UINT, LPCITEMIDLIST*, REFIID, UINT*, void**) {
    return E_NOTIMPL;
}

HRESULT TMailFolder::GetDisplayNameOf(LPCITEMIDLIST, DWORD, STRRET*) { return E_NOTIMPL; }

HRESULT TMailFolder::SetNameOf(HWND, LPCITEMIDLIST, const WCHAR*, DWORD, LPITEMIDLIST*) {
    return E_NOTIMPL;
}

// ---- TMailFactory ----

TMailFactory& TMailFactory::Instance() { return g_factory; }

HRESULT TMailFactory::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

// The library holds the factory itself; the counts returned include that reference.
ULONG TMailFactory::AddRef() { return static_cast<ULONG>(++g_factoryRefs + 1); }

ULONG TMailFactory::Release() { return static_cast<ULONG>(DecrementIfPositive(g_factoryRefs) + 1); }

HRESULT TMailFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    auto* folder = new (std::nothrow) TMailFolder;
    if (!folder) return E_OUTOFMEMORY;
    HRESULT hr = folder->QueryInterface(riid, ppv);
    if (hr != S_OK) delete folder; // nobody holds it
    return hr;
}

HRESULT TMailFactory::LockServer(BOOL lock) {
    if (lock)
        ++g_factoryRefs;
    else
        DecrementIfPositive(g_factoryRefs);
    return S_OK;
}

} // namespace pondra
