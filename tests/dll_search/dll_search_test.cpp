// Tovrel started from a folder that holds a planted QEBI.dll loads the
// library the system's search finds (here: in a folder on PATH, which comes
// after the current directory in the standard search), not the planted one. The planted library lacks an entry point, so loading it would
// leave the library unbound and the radio switch would answer 0x13808080.
#include <windows.h>

#include <string.h>

#include <string>

#include <gtest/gtest.h>

namespace {

const DWORD kUnbound = 0x13808080;

std::wstring BinDir() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path);
    return dir.substr(0, dir.rfind(L'\\') + 1);
}

// The environment block of this process with C:\dllsearch\lib first on PATH.
std::wstring EnvironmentWithLibraryOnPath() {
    std::wstring block;
    wchar_t* strings = GetEnvironmentStringsW();
    for (const wchar_t* p = strings; *p != L'\0'; p += wcslen(p) + 1) {
        std::wstring entry(p);
        if (_wcsnicmp(p, L"PATH=", 5) == 0) entry = L"PATH=C:\\dllsearch\\lib;" + entry.substr(5);
        block += entry;
        block.push_back(L'\0');
    }
    FreeEnvironmentStringsW(strings);
    block.push_back(L'\0');
    return block;
}

// Runs "Tovrel.exe /getallstat" from C:\dllsearch\app with the given current
// directory; the exit code, or 0xBAD when it did not end.
DWORD RunRadioSwitch(const std::wstring& currentDirectory) {
    std::wstring commandLine = L"\"C:\\dllsearch\\app\\Tovrel.exe\" /getallstat";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    std::wstring environment = EnvironmentWithLibraryOnPath();
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                        &environment[0], currentDirectory.c_str(), &startup, &process))
        return 0xBAD;
    DWORD code = 0xBAD;
    if (WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0) GetExitCodeProcess(process.hProcess, &code);
    else TerminateProcess(process.hProcess, 0xBAD);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

class DllSearch : public ::testing::Test {
protected:
    void SetUp() override {
        CreateDirectoryW(L"C:\\dllsearch", nullptr);
        CreateDirectoryW(L"C:\\dllsearch\\app", nullptr);
        CreateDirectoryW(L"C:\\dllsearch\\planted", nullptr);
        CreateDirectoryW(L"C:\\dllsearch\\lib", nullptr);
        ASSERT_TRUE(CopyFileW((BinDir() + L"Tovrel.exe").c_str(), L"C:\\dllsearch\\app\\Tovrel.exe", FALSE));
        ASSERT_TRUE(CopyFileW((BinDir() + L"frame_fake_qebi_full.dll").c_str(), L"C:\\dllsearch\\lib\\QEBI.dll",
                              FALSE));
        ASSERT_TRUE(CopyFileW((BinDir() + L"frame_fake_qebi_no_health.dll").c_str(),
                              L"C:\\dllsearch\\planted\\QEBI.dll", FALSE));
    }
};

TEST_F(DllSearch, PlantedLibraryInTheCurrentDirectoryIsNotLoaded) {
    const DWORD clean = RunRadioSwitch(L"C:\\dllsearch");
    ASSERT_NE(0xBADu, clean);
    ASSERT_NE(kUnbound, clean) << "the library on PATH was not bound";
    EXPECT_EQ(clean, RunRadioSwitch(L"C:\\dllsearch\\planted")) << "the planted QEBI.dll was loaded";
}

}  // namespace
