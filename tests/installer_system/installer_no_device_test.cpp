// The package on a PC whose platform driver is not running (a factory image
// that gets it later, a device switched off): quiet installs and uninstalls
// succeed every time and leave the service registered for automatic start;
// once the device is there the service runs.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "msiexec_run.h"
#include "qebsim/client.h"

namespace {

bool ServiceRegistered() {
    qebsim::ServiceConfig config;
    return qebsim::ServiceGetConfig(L"QEBEvent", &config);
}

TEST(InstallWithoutDevice, ThreeQuietInstallsAndUninstallsSucceed) {
    HANDLE device = CreateFileW(L"\\\\.\\QEBI", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_EQ(INVALID_HANDLE_VALUE, device) << "the platform device is there";
    for (int cycle = 1; cycle <= 3; ++cycle) {
        ASSERT_EQ(0u, Msiexec(L"/i \"" + Package(L"1.0.0.7") + L"\" /qn")) << "install " << cycle;
        qebsim::ServiceConfig config;
        ASSERT_TRUE(qebsim::ServiceGetConfig(L"QEBEvent", &config)) << "install " << cycle;
        EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), config.startType) << "install " << cycle;
        ASSERT_EQ(0u, Msiexec(L"/x \"" + Package(L"1.0.0.7") + L"\" /qn")) << "uninstall " << cycle;
        for (int i = 0; i < 100 && ServiceRegistered(); ++i) Sleep(100);
        EXPECT_FALSE(ServiceRegistered()) << "uninstall " << cycle;
    }
}

TEST(InstallWithoutDevice, ServiceRunsOnceTheDeviceIsThere) {
    ASSERT_EQ(0u, Msiexec(L"/i \"" + Package(L"1.0.0.7") + L"\" /qn"));
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
    EXPECT_EQ(0u, Msiexec(L"/x \"" + Package(L"1.0.0.7") + L"\" /qn"));
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
