// Where the service's run-time DLLs come from: the paths it builds (pure),
// and the loader itself, which takes the copy beside the program and
// otherwise System32's, never one found through the search path.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "system_library.h"

namespace {

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

struct PathCase {
    const char* name;
    const wchar_t* modulePath;  // LibraryPathBeside's first argument
    const wchar_t* library;
    size_t capacity;
    const wchar_t* expected;  // nullptr: refused, out left empty
};

void PrintTo(const PathCase& c, std::ostream* os) { *os << c.name; }

class LibraryPathTest : public ::testing::TestWithParam<PathCase> {};

TEST_P(LibraryPathTest, BesideTheModule) {
    const PathCase& c = GetParam();
    wchar_t out[64];
    wmemset(out, L'#', 64);
    const bool built = LibraryPathBeside(c.modulePath, c.library, out, c.capacity);
    EXPECT_EQ(c.expected != nullptr, built);
    EXPECT_EQ(Narrow(c.expected != nullptr ? c.expected : L""), Narrow(out));
}

INSTANTIATE_TEST_SUITE_P(
    Table, LibraryPathTest,
    ::testing::Values(
        PathCase{"programFolder", L"C:\\Program Files\\Kestil\\QEB\\QEBEvent.exe", L"sas.dll", 64,
                 L"C:\\Program Files\\Kestil\\QEB\\sas.dll"},
        PathCase{"driveRoot", L"C:\\QEBEvent.exe", L"PowrProf.dll", 64, L"C:\\PowrProf.dll"},
        PathCase{"exactFit", L"C:\\a\\QEBEvent.exe", L"sas.dll", 13, L"C:\\a\\sas.dll"},
        PathCase{"oneShort", L"C:\\a\\QEBEvent.exe", L"sas.dll", 12, nullptr},
        PathCase{"noFolder", L"QEBEvent.exe", L"sas.dll", 64, nullptr},
        PathCase{"libraryWithFolder", L"C:\\a\\QEBEvent.exe", L"..\\sas.dll", 64, nullptr},
        PathCase{"libraryWithDrive", L"C:\\a\\QEBEvent.exe", L"D:sas.dll", 64, nullptr},
        PathCase{"libraryEmpty", L"C:\\a\\QEBEvent.exe", L"", 64, nullptr}),
    [](const ::testing::TestParamInfo<PathCase>& info) { return std::string(info.param.name); });

TEST(JoinLibraryPath, AddsOneBackslashOnly) {
    wchar_t out[64];
    ASSERT_TRUE(JoinLibraryPath(L"C:\\windows\\system32", L"sas.dll", out, 64));
    EXPECT_EQ("C:\\windows\\system32\\sas.dll", Narrow(out));
    ASSERT_TRUE(JoinLibraryPath(L"C:\\", L"sas.dll", out, 64));
    EXPECT_EQ("C:\\sas.dll", Narrow(out));
    EXPECT_FALSE(JoinLibraryPath(L"", L"sas.dll", out, 64));
    EXPECT_EQ("", Narrow(out));
}

std::wstring ModulePath(HMODULE module) {
    wchar_t path[MAX_PATH] = L"";
    if (module != nullptr) GetModuleFileNameW(module, path, MAX_PATH);
    return path;
}

std::wstring Folder(const std::wstring& path) { return path.substr(0, path.rfind(L'\\') + 1); }

// A copy of the stand-in sas.dll built beside this program stands for any
// DLL: only where it is loaded from matters. The names are not Windows' own,
// so only the program's folder, the current folder or PATH can hold them.
class SystemLibraryLoad : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t self[MAX_PATH];
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        source_ = Folder(self) + L"sas.dll";
        self_ = self;
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        elsewhere_ = std::wstring(temp) + L"qeb-search-path\\";
        CreateDirectoryW(elsewhere_.c_str(), nullptr);
    }
    void TearDown() override {
        for (const std::wstring& f : planted_) DeleteFileW(f.c_str());
        RemoveDirectoryW(elsewhere_.c_str());
    }
    bool Plant(const std::wstring& path) {
        planted_.push_back(path);
        return CopyFileW(source_.c_str(), path.c_str(), FALSE) != FALSE;
    }
    std::wstring self_, source_, elsewhere_;
    std::vector<std::wstring> planted_;
};

TEST_F(SystemLibraryLoad, TakesTheCopyBesideTheProgram) {
    const std::wstring beside = Folder(self_) + L"qebtest-beside.dll";
    ASSERT_TRUE(Plant(beside));
    HMODULE module = LoadSystemLibrary(L"qebtest-beside.dll");
    ASSERT_NE(nullptr, module) << "error " << GetLastError();
    EXPECT_EQ(Narrow(beside), Narrow(ModulePath(module)));
    FreeLibrary(module);
}

TEST_F(SystemLibraryLoad, NeverSearchesTheCurrentFolderOrPath) {
    ASSERT_TRUE(Plant(elsewhere_ + L"qebtest-planted.dll"));
    wchar_t previousFolder[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previousFolder);
    ASSERT_TRUE(SetCurrentDirectoryW(elsewhere_.c_str()));
    wchar_t previousPath[8192] = L"";
    GetEnvironmentVariableW(L"PATH", previousPath, 8192);
    SetEnvironmentVariableW(L"PATH", (elsewhere_ + L";" + previousPath).c_str());
    // A bare name finds it there: the plant is a loadable DLL.
    HMODULE searched = LoadLibraryW(L"qebtest-planted.dll");
    EXPECT_NE(nullptr, searched);
    if (searched != nullptr) FreeLibrary(searched);
    HMODULE module = LoadSystemLibrary(L"qebtest-planted.dll");
    EXPECT_EQ(nullptr, module) << "loaded " << Narrow(ModulePath(module));
    if (module != nullptr) FreeLibrary(module);
    SetEnvironmentVariableW(L"PATH", previousPath);
    SetCurrentDirectoryW(previousFolder);
}

TEST_F(SystemLibraryLoad, TakesWindowsOwnFromSystem32) {
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    HMODULE module = LoadSystemLibrary(L"WtsApi32.dll");
    ASSERT_NE(nullptr, module);
    EXPECT_EQ(0, _wcsicmp((std::wstring(system) + L"\\wtsapi32.dll").c_str(), ModulePath(module).c_str()))
        << Narrow(ModulePath(module));
    FreeLibrary(module);
}

}  // namespace
