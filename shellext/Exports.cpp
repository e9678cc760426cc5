#include "Pondra.h"

using namespace pondra;

HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (!(clsid == CLSID_MailFolder)) {
        *ppv = nullptr;
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return TMailFactory::Instance().QueryInterface(riid, ppv);
}

HRESULT DllCanUnloadNow() {
    return (g_objectCount.load() > 0 || g_factoryRefs.load() > 0) ? S_FALSE : S_OK;
}

HRESULT DllRegisterServer() { return TMailFactory::Instance().UpdateRegistry(true); }

HRESULT DllUnregisterServer() { return TMailFactory::Instance().UpdateRegistry(false); }
