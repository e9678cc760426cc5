#pragma once
// Inside the virtual folder library: the folder class, its factory, the server-wide
// counters, registration and the start of the main program.

#include "Com.h"

#include <atomic>
#include <string>

namespace pondra {

// The class ID of the folder object; its text names the registry keys and the desktop entry.
constexpr CLSID CLSID_MailFolder = {0x67F75E16, 0x82C8, 0x49A0,
                                    {0xA5, 0x86, 0xC1, 0x02, 0x6D, 0x21, 0xB0, 0x8C}};
// The folder's name, shown by the shell, and the program it starts from the library's folder.
inline constexpr const char* kFolderName = "Tavrel";
inline constexpr const char* kProgramName = "Tavrel";

// Live folder objects, and references to the factory held outside the library plus
// LockServer locks. The library may be unloaded only while both are zero.
extern std::atomic<long> g_objectCount;
extern std::atomic<long> g_factoryRefs;

// The folder object: answers the view request by starting the main program; everything
// else of IShellFolder is not implemented. Holds no state; one per creation request.
class TMailFolder final : public IShellFolder, public ISupportErrorInfo {
public:
    TMailFolder();
    ~TMailFolder();
    TMailFolder(const TMailFolder&) = delete;
    TMailFolder& operator=(const TMailFolder&) = delete;

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;

    HRESULT InterfaceSupportsErrorInfo(REFIID riid) override;

    HRESULT ParseDisplayName(HWND, IBindCtx*, WCHAR*, ULONG*, LPITEMIDLIST*, ULONG*) override;
    HRESULT EnumObjects(HWND, DWORD, IEnumIDList** ppEnum) override;
    HRESULT BindToObject(LPCITEMIDLIST, IBindCtx*, REFIID, void**) override;
    HRESULT BindToStorage(LPCITEMIDLIST, IBindCtx*, REFIID, void**) override;
    HRESULT CompareIDs(LPARAM, LPCITEMIDLIST, LPCITEMIDLIST) override;
    HRESULT CreateViewObject(HWND owner, REFIID riid, void** ppv) override;
    HRESULT GetAttributesOf(UINT, LPCITEMIDLIST*, ULONG*) override;
    HRESULT GetUIObjectOf(HWND, UINT, LPCITEMIDLIST*, REFIID, UINT*, void**) override;
    HRESULT GetDisplayNameOf(LPCITEMIDLIST, DWORD, STRRET*) override;
    HRESULT SetNameOf(HWND, LPCITEMIDLIST, const WCHAR*, DWORD, LPITEMIDLIST*) override;

private:
    std::atomic<ULONG> refs_{0};
};

// The class factory of the folder object. One instance lives as long as the library; its
// references are counted in g_factoryRefs.
class TMailFactory final : public IClassFactory {
public:
    static TMailFactory& Instance();

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
    HRESULT LockServer(BOOL lock) override;

    // The registration and unregistration of the class (the exports call these).
    HRESULT UpdateRegistry(bool doRegister);
};

// Full path of this library file, and its folder with a trailing "/".
std::string LibraryFile();
std::string LibraryFolder();

// Starts the main program from the library's folder, without waiting for it and without
// leaving a child process behind. Failures are silent.
void StartProgram();

} // namespace pondra
