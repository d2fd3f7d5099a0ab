#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <vector>

#include "service_dacl.h"

namespace qebcheck {
namespace {

std::string Narrow(const std::wstring& s) { return std::string(s.begin(), s.end()); }

// A self-relative descriptor from SDDL, as the service manager hands it out.
std::vector<BYTE> Descriptor(const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    ULONG size = 0;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd, &size)) {
        ADD_FAILURE() << "SDDL refused: " << Narrow(sddl) << ", error " << GetLastError();
        return {};
    }
    std::vector<BYTE> bytes(static_cast<BYTE*>(sd), static_cast<BYTE*>(sd) + size);
    LocalFree(sd);
    return bytes;
}

std::string Granted(const ControlRights& rights) {
    std::string names;
    for (const auto& sid : rights.granted) names += (names.empty() ? "" : ",") + Narrow(SidDisplayName(sid));
    return names;
}

TEST(QebCheckServiceDacl, WhoMaySendUserDefinedControls) {
    struct Case {
        const char* what;
        const wchar_t* sddl;
        const char* granted;
        Outcome outcome;
    } cases[] = {
        {"the package's descriptor",
         L"D:(A;;CCLCSWRPWPDTLOCRRC;;;SY)(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;BA)(A;;CCLCSWLORC;;;IU)(A;;CCLCSWLORC;;;SU)"
         L"S:(AU;FA;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;WD)",
         "SYSTEM,Administrators", Outcome::Pass},
        {"a service's default descriptor (interactive users may send them)",
         L"D:(A;;CCLCSWRPWPDTLOCRRC;;;SY)(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;BA)(A;;CCLCSWLOCRRC;;;IU)(A;;CCLCSWLOCRRC;;;SU)",
         "SYSTEM,Administrators,INTERACTIVE,SERVICE", Outcome::Fail},
        {"generic execute for Everyone", L"D:(A;;GX;;;WD)(A;;CR;;;SY)(A;;CR;;;BA)", "Everyone,SYSTEM,Administrators",
         Outcome::Fail},
        {"a deny before the allow decides", L"D:(D;;CR;;;IU)(A;;CR;;;SY)(A;;CR;;;BA)(A;;CR;;;IU)",
         "SYSTEM,Administrators", Outcome::Pass},
        {"an allow before the deny decides", L"D:(A;;CR;;;SY)(A;;CR;;;BA)(A;;CR;;;IU)(D;;CR;;;IU)",
         "SYSTEM,Administrators,INTERACTIVE", Outcome::Fail},
        {"an inherit-only ACE grants nothing here", L"D:(A;;CR;;;SY)(A;;CR;;;BA)(A;IO;CR;;;IU)",
         "SYSTEM,Administrators", Outcome::Pass},
        {"Administrators only", L"D:(A;;CCLCSWRPWPDTLOCRRC;;;BA)(A;;CCLCSWLORC;;;SY)", "Administrators", Outcome::Fail},
        {"nobody", L"D:(A;;CCLCSWLORC;;;SY)(A;;CCLCSWLORC;;;BA)", "", Outcome::Fail},
    };
    for (const Case& c : cases) {
        std::vector<BYTE> sd = Descriptor(c.sddl);
        ControlRights rights = ReadControlRights(sd.data(), sd.size());
        ASSERT_TRUE(rights.parsed) << c.what << ": " << Narrow(rights.problem);
        EXPECT_FALSE(rights.nullDacl) << c.what;
        EXPECT_EQ(c.granted, Granted(rights)) << c.what;
        std::wstring seen;
        EXPECT_EQ(c.outcome, JudgeControlRights(rights, &seen)) << c.what << ": " << Narrow(seen);
    }
}

TEST(QebCheckServiceDacl, TheLinesSayWhoHoldsTheRight) {
    std::vector<BYTE> package = Descriptor(L"D:(A;;CCLCSWRPWPDTLOCRRC;;;SY)(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;BA)(A;;CCLCSWLORC;;;IU)");
    std::wstring seen;
    JudgeControlRights(ReadControlRights(package.data(), package.size()), &seen);
    EXPECT_EQ("controls 128 to 133 (user-defined control right) granted to SYSTEM, Administrators only", Narrow(seen));
    std::vector<BYTE> open = Descriptor(L"D:(A;;CR;;;SY)(A;;CR;;;BA)(A;;CR;;;IU)");
    JudgeControlRights(ReadControlRights(open.data(), open.size()), &seen);
    EXPECT_EQ("expected controls 128 to 133 for SYSTEM and Administrators only, got SYSTEM, Administrators, INTERACTIVE",
              Narrow(seen));
}

TEST(QebCheckServiceDacl, NoDaclEmptyDaclAndBrokenDescriptors) {
    // Self-relative, built by hand (Wine's SDDL parser gives an empty DACL
    // for NO_ACCESS_CONTROL): a DACL present with offset 0, and no DACL.
    const BYTE nullDacl[20] = {SECURITY_DESCRIPTOR_REVISION, 0, 0x04, 0x80};
    const BYTE noDacl[20] = {SECURITY_DESCRIPTOR_REVISION, 0, 0x00, 0x80};
    for (const BYTE* sd : {nullDacl, noDacl}) {
        ControlRights rights = ReadControlRights(sd, 20);
        EXPECT_TRUE(rights.parsed);
        EXPECT_TRUE(rights.nullDacl);
        std::wstring seen;
        EXPECT_EQ(Outcome::Fail, JudgeControlRights(rights, &seen));
        EXPECT_EQ("expected controls 128 to 133 for SYSTEM and Administrators only, got no DACL: everyone may send them",
                  Narrow(seen));
    }
    const BYTE absolute[20] = {SECURITY_DESCRIPTOR_REVISION, 0, 0x04, 0x00};
    EXPECT_FALSE(ReadControlRights(absolute, 20).parsed);

    std::vector<BYTE> empty = Descriptor(L"D:");
    ControlRights rights = ReadControlRights(empty.data(), empty.size());
    EXPECT_TRUE(rights.parsed);
    EXPECT_FALSE(rights.nullDacl);
    EXPECT_EQ(0u, rights.aceCount);

    // Cut anywhere inside the DACL, the package's descriptor is refused,
    // never read past its end.
    std::vector<BYTE> whole = Descriptor(L"D:(A;;CR;;;SY)(A;;CR;;;BA)");
    for (size_t size = 0; size < whole.size(); ++size) {
        std::vector<BYTE> cut(whole.begin(), whole.begin() + size);
        ControlRights partial = ReadControlRights(cut.data(), cut.size());
        EXPECT_FALSE(partial.parsed && partial.granted.size() == 2) << "cut at " << size;
    }
}

}  // namespace
}  // namespace qebcheck
