#pragma once
// The small part of the component object model that the virtual folder library speaks:
// GUIDs, result codes, and the interfaces IUnknown, IClassFactory, ISupportErrorInfo and
// IShellFolder. Interfaces are classes of pure virtual functions without a destructor, so
// their virtual tables hold exactly the methods in the order declared, the same slot order
// as on Windows. There is no stdcall on this platform; the default calling convention is
// used throughout.

#include <cstdint>
#include <string>

namespace pondra {

using HRESULT = std::int32_t;
using ULONG = std::uint32_t;
using DWORD = std::uint32_t;
using UINT = unsigned int;
using BOOL = int;
using HWND = void*;
using LPARAM = std::intptr_t;
using WCHAR = char16_t;

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110u);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = static_cast<HRESULT>(0x80040111u);

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
    bool operator==(const GUID&) const = default;
};
using IID = GUID;
using CLSID = GUID;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case, as the registry spells class IDs.
std::string GuidToString(const GUID& g);

constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000,
                              {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000,
                                   {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID IID_ISupportErrorInfo = {0xDF0B3D60, 0x548F, 0x101B,
                                       {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
constexpr IID IID_IShellFolder = {0x000214E6, 0x0000, 0x0000,
                                  {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID IID_IShellView = {0x000214E3, 0x0000, 0x0000,
                                {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// Types that the folder methods only pass through; never dereferenced here.
struct IBindCtx;
struct IEnumIDList;
struct ITEMIDLIST;
struct STRRET;
using LPITEMIDLIST = ITEMIDLIST*;
using LPCITEMIDLIST = const ITEMIDLIST*;

class IUnknown {
public:
    virtual HRESULT QueryInterface(REFIID riid, void** ppv) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
};

class IClassFactory : public IUnknown {
public:
    virtual HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) = 0;
    virtual HRESULT LockServer(BOOL lock) = 0;
};

class ISupportErrorInfo : public IUnknown {
public:
    virtual HRESULT InterfaceSupportsErrorInfo(REFIID riid) = 0;
};

class IShellFolder : public IUnknown {
public:
    virtual HRESULT ParseDisplayName(HWND hwnd, IBindCtx* bc, WCHAR* displayName,
                                     ULONG* eaten, LPITEMIDLIST* pidl, ULONG* attributes) = 0;
    virtual HRESULT EnumObjects(HWND hwnd, DWORD flags, IEnumIDList** ppEnum) = 0;
    virtual HRESULT BindToObject(LPCITEMIDLIST pidl, IBindCtx* bc, REFIID riid, void** ppv) = 0;
    virtual HRESULT BindToStorage(LPCITEMIDLIST pidl, IBindCtx* bc, REFIID riid,
                                  void** ppv) = 0;
    virtual HRESULT CompareIDs(LPARAM param, LPCITEMIDLIST pidl1, LPCITEMIDLIST pidl2) = 0;
    virtual HRESULT CreateViewObject(HWND owner, REFIID riid, void** ppv) = 0;
    virtual HRESULT GetAttributesOf(UINT count, LPCITEMIDLIST* pidls, ULONG* inOut) = 0;
    virtual HRESULT GetUIObjectOf(HWND owner, UINT count, LPCITEMIDLIST* pidls, REFIID riid,
                                  UINT* reserved, void** ppv) = 0;
    virtual HRESULT GetDisplayNameOf(LPCITEMIDLIST pidl, DWORD flags, STRRET* name) = 0;
    virtual HRESULT SetNameOf(HWND hwnd, LPCITEMIDLIST pidl, const WCHAR* name, DWORD flags,
                              LPITEMIDLIST* pidlOut) = 0;
};

} // namespace pondra

// The library's exports, with C linkage; the only symbols the library exports.
#define PONDRA_EXPORT __attribute__((visibility("default")))
extern "C" {
PONDRA_EXPORT pondra::HRESULT DllGetClassObject(pondra::REFCLSID clsid, pondra::REFIID riid,
                                                void** ppv);
PONDRA_EXPORT pondra::HRESULT DllCanUnloadNow();
PONDRA_EXPORT pondra::HRESULT DllRegisterServer();
PONDRA_EXPORT pondra::HRESULT DllUnregisterServer();
}
