// The virtual folder library, loaded the way the program loads it (dlopen of the file, the
// exports looked up by name), against a registry file and a data folder of the test's own.

#include "Com.h"
#include "RegisterDll.h"
#include "Registry.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace pondra;

#ifndef PONDRA_LIBRARY
#error PONDRA_LIBRARY must name the built library
#endif

namespace {

const std::string kClassId = "{67F75E16-82C8-49A0-A586-C1026D21B08C}";
const std::string kClassKey = "HKEY_CLASSES_ROOT\\CLSID\\" + kClassId;
const std::string kApproved =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
// The key the options dialog opens to tell whether the folder is registered, spelt its way.
const std::string kDialogKey = "HKEY_LOCAL_MACHINE\\Software\\MicroSoft\\Windows\\CurrentVersion"
                               "\\Explorer\\MyComputer\\NameSpace\\" + kClassId;
const CLSID kFolderClass = {0x67F75E16, 0x82C8, 0x49A0,
                            {0xA5, 0x86, 0xC1, 0x02, 0x6D, 0x21, 0xB0, 0x8C}};

std::string ReadText(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string Lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The library opened as RegisterDll opens it, with its four exports.
struct Library {
    explicit Library(const std::string& path) {
        handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) return;
        getClassObject = reinterpret_cast<decltype(getClassObject)>(
            dlsym(handle, "DllGetClassObject"));
        canUnloadNow = reinterpret_cast<decltype(canUnloadNow)>(dlsym(handle, "DllCanUnloadNow"));
        registerServer =
            reinterpret_cast<decltype(registerServer)>(dlsym(handle, "DllRegisterServer"));
        unregisterServer =
            reinterpret_cast<decltype(unregisterServer)>(dlsym(handle, "DllUnregisterServer"));
    }
    ~Library() {
        if (handle) dlclose(handle);
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    bool Complete() const {
        return handle && getClassObject && canUnloadNow && registerServer && unregisterServer;
    }

    // The factory of the folder class; null when that fails.
    IClassFactory* Factory() {
        void* p = nullptr;
        if (getClassObject(kFolderClass, IID_IClassFactory, &p) != S_OK) return nullptr;
        return static_cast<IClassFactory*>(p);
    }

    void* handle = nullptr;
    decltype(&DllGetClassObject) getClassObject = nullptr;
    decltype(&DllCanUnloadNow) canUnloadNow = nullptr;
    decltype(&DllRegisterServer) registerServer = nullptr;
    decltype(&DllUnregisterServer) unregisterServer = nullptr;
};

class PondraTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("tavrel-pondra-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        registryFile_ = dir_ / "config" / "registry.ini";
        setenv("TAVREL_REGISTRY", registryFile_.c_str(), 1);
        setenv("XDG_DATA_HOME", (dir_ / "data").c_str(), 1);
        desktopEntry_ = dir_ / "data" / "applications" /
                        (kClassId.substr(1, kClassId.size() - 2) + ".desktop");
    }
    void TearDown() override {
        unsetenv("TAVREL_REGISTRY");
        unsetenv("XDG_DATA_HOME");
        fs::remove_all(dir_);
    }

    // A copy of the built library in a folder of its own; returns the copy's path.
    std::string CopyLibrary(const std::string& folderName) {
        fs::path folder = dir_ / folderName;
        fs::create_directories(folder);
        fs::copy_file(PONDRA_LIBRARY, folder / "libPondra.so");
        return (folder / "libPondra.so").string();
    }

    bool RegistryMentionsClass() const {
        return Lower(ReadText(registryFile_)).find(Lower(kClassId)) != std::string::npos;
    }

    fs::path dir_, registryFile_, desktopEntry_;
};

TEST_F(PondraTest, RegistersOnceAndAgainWithTheSameEntriesAndUnregistersThemAll) {
    // A folder name with a blank and a "$": written as it is, quoted in the launcher.
    const std::string lib = CopyLibrary("my $apps");
    const std::string folder = fs::path(lib).parent_path().string();
    TRegistry reg;
    ASSERT_TRUE(reg.WriteString("HKEY_LOCAL_MACHINE\\Software\\Kelmora\\Tavrel", "Ver", "2.3"));
    {
        Library pondra(lib);
        ASSERT_TRUE(pondra.Complete()) << dlerror();
        EXPECT_EQ(pondra.registerServer(), S_OK);
    }
    EXPECT_EQ(reg.ReadString(kClassKey, ""), "Tavrel");
    EXPECT_EQ(reg.ReadString(kClassKey + "\\InprocServer32", ""), lib);
    EXPECT_EQ(reg.ReadString(kClassKey + "\\InprocServer32", "ThreadingModel"), "Apartment");
    EXPECT_EQ(reg.ReadBinary(kClassKey + "\\ShellFolder", "Attributes"),
              (std::vector<std::uint8_t>{0x00, 0x00, 0x00, 0x20}));
    EXPECT_EQ(reg.ReadString(kClassKey + "\\DefaultIcon", ""), lib + ",0");
    EXPECT_EQ(reg.ReadString(kApproved, kClassId), "Tavrel");
    EXPECT_TRUE(reg.KeyExists(kDialogKey));
    EXPECT_EQ(reg.ReadString(kDialogKey, ""), "Tavrel");

    const std::string entry = ReadText(desktopEntry_);
    EXPECT_EQ(entry.rfind("[Desktop Entry]\n", 0), 0u) << entry;
    EXPECT_NE(entry.find("\nName=Tavrel\n"), std::string::npos) << entry;
    EXPECT_NE(entry.find("\nType=Application\n"), std::string::npos) << entry;
    // Quoted argument with "$" escaped, then the backslash escaped as in any string value.
    EXPECT_NE(entry.find("\nExec=\"" + dir_.string() + "/my \\\\$apps/Tavrel\"\n"),
              std::string::npos)
        << entry;
    EXPECT_NE(entry.find("\nPath=" + folder + "/\n"), std::string::npos) << entry;
    EXPECT_NE(entry.find("\nIcon="), std::string::npos) << entry;

    const std::string firstRegistry = ReadText(registryFile_);
    RegisterDll(lib); // the program's own way: load, call, unload
    EXPECT_EQ(ReadText(registryFile_), firstRegistry);
    EXPECT_EQ(ReadText(desktopEntry_), entry);

    UnregisterDll(lib);
    EXPECT_FALSE(RegistryMentionsClass()) << ReadText(registryFile_);
    EXPECT_FALSE(reg.KeyExists(kDialogKey));
    EXPECT_FALSE(fs::exists(desktopEntry_));
    EXPECT_EQ(reg.ReadString("HKEY_LOCAL_MACHINE\\Software\\Kelmora\\Tavrel", "Ver"), "2.3");
}

TEST_F(PondraTest, UnregisteringWithoutRegistrationSucceedsAndLeavesNoKey) {
    TRegistry reg;
    ASSERT_TRUE(reg.CreateKey("HKEY_CLASSES_ROOT\\CLSID"));
    Library pondra(PONDRA_LIBRARY);
    ASSERT_TRUE(pondra.Complete()) << dlerror();
    EXPECT_EQ(pondra.unregisterServer(), S_OK);
    EXPECT_EQ(pondra.unregisterServer(), S_OK);
    EXPECT_FALSE(RegistryMentionsClass());
    EXPECT_TRUE(reg.KeyExists("HKEY_CLASSES_ROOT\\CLSID")); // shared parents stay
    EXPECT_FALSE(fs::exists(desktopEntry_));
}

TEST_F(PondraTest, RegistryThatCannotBeWrittenFailsRegistration) {
    // A registry file below a regular file: no process, root included, can create it.
    std::ofstream(dir_ / "plain") << "x";
    setenv("TAVREL_REGISTRY", (dir_ / "plain" / "registry.ini").c_str(), 1);
    Library pondra(PONDRA_LIBRARY);
    ASSERT_TRUE(pondra.Complete()) << dlerror();
    EXPECT_EQ(pondra.registerServer(), E_FAIL);
    EXPECT_FALSE(fs::exists(desktopEntry_)); // the steps after the failing one are not done
    EXPECT_EQ(pondra.unregisterServer(), S_OK); // nothing there, nothing to fail
}

TEST_F(PondraTest, ClassObjectIsGivenOnlyForTheFolderClass) {
    Library pondra(PONDRA_LIBRARY);
    ASSERT_TRUE(pondra.Complete()) << dlerror();
    const CLSID other = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
    int dummy;
    struct Case {
        const CLSID* clsid;
        const IID* iid;
        HRESULT expected;
    } cases[] = {
        {&other, &IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE},
        {&other, &IID_IUnknown, CLASS_E_CLASSNOTAVAILABLE},
        {&kFolderClass, &IID_IShellFolder, E_NOINTERFACE},
        {&kFolderClass, &IID_IUnknown, S_OK},
        {&kFolderClass, &IID_IClassFactory, S_OK},
    };
    for (const auto& c : cases) {
        void* out = &dummy;
        EXPECT_EQ(pondra.getClassObject(*c.clsid, *c.iid, &out), c.expected);
        if (c.expected == S_OK) {
            ASSERT_NE(out, nullptr);
            static_cast<IUnknown*>(out)->Release();
        } else {
            EXPECT_EQ(out, nullptr);
        }
    }
    EXPECT_EQ(pondra.getClassObject(kFolderClass, IID_IClassFactory, nullptr), E_POINTER);
    EXPECT_EQ(pondra.canUnloadNow(), S_OK);
}

TEST_F(PondraTest, CanUnloadOnlyWhenNoObjectFactoryReferenceOrLockLives) {
    Library pondra(PONDRA_LIBRARY);
    ASSERT_TRUE(pondra.Complete()) << dlerror();
    EXPECT_EQ(pondra.canUnloadNow(), S_OK);

    IClassFactory* factory = pondra.Factory();
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(pondra.canUnloadNow(), S_FALSE); // a factory reference

    void* p = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IShellFolder, &p), S_OK);
    auto* folder = static_cast<IShellFolder*>(p);
    factory->Release();
    EXPECT_EQ(pondra.canUnloadNow(), S_FALSE); // the folder object lives

    void* q = nullptr;
    ASSERT_EQ(folder->QueryInterface(IID_ISupportErrorInfo, &q), S_OK);
    auto* errorInfo = static_cast<ISupportErrorInfo*>(q);
    EXPECT_EQ(errorInfo->InterfaceSupportsErrorInfo(IID_IShellFolder), S_OK);
    EXPECT_EQ(errorInfo->InterfaceSupportsErrorInfo(IID_IShellView), S_FALSE);
    folder->Release();
    EXPECT_EQ(pondra.canUnloadNow(), S_FALSE); // still referenced through ISupportErrorInfo
    errorInfo->Release();
    EXPECT_EQ(pondra.canUnloadNow(), S_OK);

    factory = pondra.Factory();
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(factory->LockServer(1), S_OK);
    factory->Release();
    EXPECT_EQ(pondra.canUnloadNow(), S_FALSE); // a lock
    EXPECT_EQ(factory->LockServer(0), S_OK);
    EXPECT_EQ(pondra.canUnloadNow(), S_OK);
    // Unlocking too often must not leave the count below zero, where it would block
    // unloading for good or hide the next lock.
    EXPECT_EQ(factory->LockServer(0), S_OK);
    EXPECT_EQ(factory->LockServer(1), S_OK);
    EXPECT_EQ(pondra.canUnloadNow(), S_FALSE);
    EXPECT_EQ(factory->LockServer(0), S_OK);
    EXPECT_EQ(pondra.canUnloadNow(), S_OK);

    // Failed creations leave nothing alive.
    factory = pondra.Factory();
    ASSERT_NE(factory, nullptr);
    p = &p;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IShellView, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    IUnknown* outer = factory;
    EXPECT_EQ(factory->CreateInstance(outer, IID_IUnknown, &p), CLASS_E_NOAGGREGATION);
    factory->Release();
    EXPECT_EQ(pondra.canUnloadNow(), S_OK);
}

TEST_F(PondraTest, FolderHasNoContentToEnumerate) {
    Library pondra(PONDRA_LIBRARY);
    ASSERT_TRUE(pondra.Complete()) << dlerror();
    IClassFactory* factory = pondra.Factory();
    ASSERT_NE(factory, nullptr);
    void* p = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, &p), S_OK);
    factory->Release();
    auto* unknown = static_cast<IUnknown*>(p);
    ASSERT_EQ(unknown->QueryInterface(IID_IShellFolder, &p), S_OK);
    unknown->Release();
    auto* folder = static_cast<IShellFolder*>(p);

    int dummy;
    IEnumIDList* list = reinterpret_cast<IEnumIDList*>(&dummy);
    EXPECT_EQ(folder->EnumObjects(nullptr, 0, &list), E_NOTIMPL);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(folder->EnumObjects(nullptr, 0, nullptr), E_NOTIMPL);
    folder->Release();
    EXPECT_EQ(pondra.canUnloadNow(), S_OK);
}

TEST_F(PondraTest, ViewRequestStartsTheProgramBesideTheLibraryAndNothingElseDoes) {
    const std::string lib = CopyLibrary("program folder");
    const fs::path folder = fs::path(lib).parent_path();
    const fs::path marker = folder / "started.txt";
    Library pondra(lib);
    ASSERT_TRUE(pondra.Complete()) << dlerror();
    IClassFactory* factory = pondra.Factory();
    ASSERT_NE(factory, nullptr);
    void* p = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IShellFolder, &p), S_OK);
    factory->Release();
    auto* folderObject = static_cast<IShellFolder*>(p);

    int dummy;
    void* view = &dummy;
    // No program there yet: nothing to start, still the same answer.
    EXPECT_EQ(folderObject->CreateViewObject(nullptr, IID_IShellView, &view), E_NOTIMPL);
    EXPECT_EQ(view, &dummy);

    // The stand-in notes where it runs and how many arguments it got, a line per start.
    {
        std::ofstream script(folder / "Tavrel");
        script << "#!/bin/sh\nprintf '%s %s\\n' \"$(pwd)\" \"$#\" >> started.txt\n";
    }
    fs::permissions(folder / "Tavrel", fs::perms(0755));

    for (const IID* other : {&IID_IUnknown, &IID_IShellFolder, &IID_IClassFactory}) {
        EXPECT_EQ(folderObject->CreateViewObject(nullptr, *other, &view), E_NOTIMPL);
        EXPECT_EQ(view, &dummy);
    }
    EXPECT_EQ(folderObject->CreateViewObject(nullptr, IID_IShellView, &view), E_NOTIMPL);
    EXPECT_EQ(view, &dummy);
    // The call does not wait for the program, and leaves no child process to reap.
    errno = 0;
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);

    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!fs::exists(marker) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // room for a wrong extra start
    EXPECT_EQ(ReadText(marker), folder.string() + " 0\n");

    folderObject->Release();
    EXPECT_EQ(pondra.canUnloadNow(), S_OK);
}

} // namespace
