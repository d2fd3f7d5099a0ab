// The package on a PC whose platform driver is not running (a factory image
// that gets it later, a device switched off): quiet installs and uninstalls
// succeed every time and leave the service registered for automatic start;
// once the device is there the service runs.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "qebsim/client.h"

namespace {

#ifdef _WIN64
const wchar_t kPackage[] = L"QEBKit-1.0.0.7-x64.msi";
#else
const wchar_t kPackage[] = L"QEBKit-1.0.0.7-x86.msi";
#endif

std::wstring PackagePath() {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring s(path, n);
    return s.substr(0, s.find_last_of(L"\\/") + 1) + kPackage;
}

DWORD Msiexec(const std::wstring& args) {
    std::wstring cmd = L"msiexec.exe " + args;
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 0xBAD;
    DWORD code = 0xBAD;
    if (WaitForSingleObject(pi.hProcess, 180000) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
    else TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

bool ServiceRegistered() {
    qebsim::ServiceConfig config;
    return qebsim::ServiceGetConfig(L"QEBEvent", &config);
}

TEST(InstallWithoutDevice, ThreeQuietInstallsAndUninstallsSucceed) {
    HANDLE device = CreateFileW(L"\\\\.\\QEBI", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_EQ(INVALID_HANDLE_VALUE, device) << "the platform device is there";
    for (int cycle = 1; cycle <= 3; ++cycle) {
        ASSERT_EQ(0u, Msiexec(L"/i \"" + PackagePath() + L"\" /qn")) << "install " << cycle;
        qebsim::ServiceConfig config;
        ASSERT_TRUE(qebsim::ServiceGetConfig(L"QEBEvent", &config)) << "install " << cycle;
        EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), config.startType) << "install " << cycle;
        ASSERT_EQ(0u, Msiexec(L"/x \"" + PackagePath() + L"\" /qn")) << "uninstall " << cycle;
        for (int i = 0; i < 100 && ServiceRegistered(); ++i) Sleep(100);
        EXPECT_FALSE(ServiceRegistered()) << "uninstall " << cycle;
    }
}

TEST(InstallWithoutDevice, ServiceRunsOnceTheDeviceIsThere) {
    ASSERT_EQ(0u, Msiexec(L"/i \"" + PackagePath() + L"\" /qn"));
    // The driver comes (here: started by hand; on a PC, at the latest with
    // the next start of Windows, which also starts the service).
    ASSERT_TRUE(qebsim::ServiceStart(L"qebisim")) << "error " << GetLastError();
    ASSERT_TRUE(qebsim::ServiceWaitState(L"qebisim", SERVICE_RUNNING, 20000));
    ASSERT_TRUE(qebsim::ServiceStart(L"QEBEvent")) << "error " << GetLastError();
    SERVICE_STATUS_PROCESS status = {};
    ASSERT_TRUE(qebsim::ServiceWaitState(L"QEBEvent", SERVICE_RUNNING, 20000, &status))
        << "state " << status.dwCurrentState;
    QEBSIM_STATE state = {};
    for (int i = 0; i < 500 && !(qebsim::GetState(&state) && state.pending_waits >= 1); ++i) Sleep(10);
    EXPECT_GE(state.pending_waits, 1u) << "the service does not wait on the device";
    qebsim::ServiceStop(L"QEBEvent");
    qebsim::ServiceWaitState(L"QEBEvent", SERVICE_STOPPED, 20000);
    EXPECT_EQ(0u, Msiexec(L"/x \"" + PackagePath() + L"\" /qn"));
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
