// The access check of the simulated host against the token of its
// (administrator) user: ACE order, NULL and empty DACLs, the owner's
// implicit rights, inherit-only ACEs, generic rights and MAXIMUM_ALLOWED.
#include <gtest/gtest.h>

#include "platform/WinError.h"
#include "platform/host/AccessCheck.h"
#include "platform/host/Host.h"
#include "platform/winsec/Sddl.h"
#include "support/TestHost.h"

namespace {

using namespace winsec;

class SecurityAccessCheckTest : public ::testing::Test {
 protected:
  // A descriptor from SDDL where "ME" stands for the host's user.
  SecurityDescriptor Sd(std::string sddl) {
    for (size_t pos = sddl.find("ME"); pos != std::string::npos; pos = sddl.find("ME", pos)) {
      sddl.replace(pos, 2, host_.Host().UserSid());
    }
    SecurityDescriptor sd;
    EXPECT_EQ(SecurityDescriptorFromSddl(sddl, &sd), 0u) << sddl;
    return sd;
  }
  uint32_t Check(const std::string& sddl, uint32_t desired, uint32_t* granted = nullptr,
                 const GenericMapping& mapping = kFileGenericMapping) {
    return host::CheckAccess(Sd(sddl), token(), desired, mapping, granted);
  }
  host::Token& token() { return host_.Host().SecurityImpl().ProcessToken(); }

  TestHost host_;
};

TEST_F(SecurityAccessCheckTest, TheFirstAceThatNamesARightDecidesIt) {
  // Allow before deny: the right is granted; deny before allow: refused.
  EXPECT_EQ(Check("O:SYD:(A;;FA;;;ME)(D;;FA;;;ME)", kFileWriteData), winerr::kSuccess);
  EXPECT_EQ(Check("O:SYD:(D;;FA;;;ME)(A;;FA;;;ME)", kFileWriteData), winerr::kAccessDenied);
  // A deny of one right leaves the others to later ACEs.
  EXPECT_EQ(Check("O:SYD:(D;;WD;;;BA)(A;;FA;;;BA)", kFileReadData), winerr::kSuccess);
  EXPECT_EQ(Check("O:SYD:(D;;WD;;;BA)(A;;FA;;;BA)", kWriteDac), winerr::kAccessDenied);
}

TEST_F(SecurityAccessCheckTest, AllRightsAskedForMustBeGrantedTogether) {
  EXPECT_EQ(Check("O:SYD:(A;;FR;;;BU)", kFileReadData), winerr::kSuccess);
  EXPECT_EQ(Check("O:SYD:(A;;FR;;;BU)", kFileReadData | kFileWriteData), winerr::kAccessDenied);
  // Grants add up across ACEs of different groups of the token.
  EXPECT_EQ(Check("O:SYD:(A;;FR;;;BU)(A;;FW;;;WD)", kFileReadData | kFileWriteData), winerr::kSuccess);
  // ACEs of SIDs the token does not hold count for nothing.
  EXPECT_EQ(Check("O:SYD:(A;;FA;;;BG)", kFileReadData), winerr::kAccessDenied);
}

TEST_F(SecurityAccessCheckTest, NullDaclAllowsAllAndEmptyDaclNothing) {
  uint32_t granted = 0;
  EXPECT_EQ(Check("O:SYD:NO_ACCESS_CONTROL", kFileAllAccess, &granted), winerr::kSuccess);
  EXPECT_EQ(granted, kFileAllAccess);
  EXPECT_EQ(Check("O:SY", kFileAllAccess), winerr::kSuccess) << "no DACL at all";
  EXPECT_EQ(Check("O:SYD:", kFileReadData), winerr::kAccessDenied);
}

TEST_F(SecurityAccessCheckTest, TheOwnerMayAlwaysReadAndChangeTheDacl) {
  EXPECT_EQ(Check("O:MED:", kReadControl | kWriteDac), winerr::kSuccess);
  EXPECT_EQ(Check("O:BAD:", kReadControl | kWriteDac), winerr::kSuccess) << "owner through a group";
  EXPECT_EQ(Check("O:MED:(D;;WD;;;ME)", kWriteDac), winerr::kSuccess) << "implicit rights come first";
  EXPECT_EQ(Check("O:MED:", kFileReadData), winerr::kAccessDenied);
  EXPECT_EQ(Check("O:MED:", kWriteOwner), winerr::kAccessDenied);
  // An OWNER RIGHTS ACE replaces the implicit rights.
  EXPECT_EQ(Check("O:MED:(A;;RC;;;OW)", kWriteDac), winerr::kAccessDenied);
  EXPECT_EQ(Check("O:MED:(A;;RC;;;OW)", kReadControl), winerr::kSuccess);
}

TEST_F(SecurityAccessCheckTest, InheritOnlyAcesDoNotApplyToTheObject) {
  EXPECT_EQ(Check("O:SYD:(A;OICIIO;FA;;;BA)", kFileReadData), winerr::kAccessDenied);
  EXPECT_EQ(Check("O:SYD:(D;OICIIO;FA;;;BA)(A;;FA;;;BA)", kFileReadData), winerr::kSuccess);
}

TEST_F(SecurityAccessCheckTest, GenericRightsAreMappedOnBothSides) {
  EXPECT_EQ(Check("O:SYD:(A;;GR;;;BU)", kFileReadData), winerr::kSuccess);
  EXPECT_EQ(Check("O:SYD:(A;;FR;;;BU)", kGenericRead), winerr::kSuccess);
  EXPECT_EQ(Check("O:SYD:(A;;FR;;;BU)", kGenericWrite), winerr::kAccessDenied);
  EXPECT_EQ(Check("O:SYD:(A;;GA;;;BA)", kKeyAllAccess, nullptr, kRegistryGenericMapping), winerr::kSuccess);
}

TEST_F(SecurityAccessCheckTest, MaximumAllowedGrantsWhatTheDaclAllows) {
  uint32_t granted = 0;
  EXPECT_EQ(Check("O:SYD:(A;;KR;;;BU)(D;;KW;;;BU)", kMaximumAllowed, &granted, kRegistryGenericMapping),
            winerr::kSuccess);
  EXPECT_EQ(granted, kKeyRead);
  EXPECT_EQ(Check("O:SYD:(A;;KR;;;BG)", kMaximumAllowed, &granted, kRegistryGenericMapping),
            winerr::kAccessDenied);
  EXPECT_EQ(Check("O:SYD:", 0), winerr::kSuccess) << "asking for nothing";
}

TEST_F(SecurityAccessCheckTest, PrivilegesGrantWhatTheDaclCannot) {
  EXPECT_EQ(Check("O:SYD:", kAccessSystemSecurity), winerr::kPrivilegeNotHeld);
  EXPECT_EQ(Check("O:SYD:", kWriteOwner), winerr::kAccessDenied);
  uint64_t luid = 0;
  plat::ISecurity& security = host_.Platform().Security();
  security.LookupPrivilegeValue(plat::kSeTakeOwnershipPrivilege, &luid);
  ASSERT_EQ(security.AdjustTokenPrivilege(luid, plat::kSePrivilegeEnabled), winerr::kSuccess);
  EXPECT_EQ(Check("O:SYD:", kWriteOwner), winerr::kSuccess);
  security.LookupPrivilegeValue("SeSecurityPrivilege", &luid);
  ASSERT_EQ(security.AdjustTokenPrivilege(luid, plat::kSePrivilegeEnabled), winerr::kSuccess);
  EXPECT_EQ(Check("O:SYD:", kAccessSystemSecurity), winerr::kSuccess);
}

}  // namespace
