// Windows result codes used across the platform seam. The services answer with
// the same numbers Windows gives (Win32 error codes, NET_API_STATUS), so a log
// line such as "Error=%d" reads the same on every platform. The names live in
// a namespace of their own so they never meet the macros of <windows.h>.
#pragma once

#include <cstdint>

namespace winerr {

constexpr uint32_t kSuccess = 0;
constexpr uint32_t kFileNotFound = 2;
constexpr uint32_t kPathNotFound = 3;
constexpr uint32_t kAccessDenied = 5;
constexpr uint32_t kInvalidHandle = 6;
constexpr uint32_t kNotEnoughMemory = 8;
constexpr uint32_t kInvalidData = 13;
constexpr uint32_t kOutOfMemory = 14;
constexpr uint32_t kNoMoreFiles = 18;
constexpr uint32_t kWriteProtect = 19;
constexpr uint32_t kSharingViolation = 32;
constexpr uint32_t kLockViolation = 33;
constexpr uint32_t kHandleEof = 38;
constexpr uint32_t kNotSupported = 50;
constexpr uint32_t kBadNetPath = 53;
constexpr uint32_t kFileExists = 80;
constexpr uint32_t kInvalidParameter = 87;
constexpr uint32_t kCallNotImplemented = 120;
constexpr uint32_t kInsufficientBuffer = 122;
constexpr uint32_t kInvalidName = 123;
constexpr uint32_t kInvalidLevel = 124;
constexpr uint32_t kDirNotEmpty = 145;
constexpr uint32_t kBadPathName = 161;
constexpr uint32_t kAlreadyExists = 183;
constexpr uint32_t kMoreData = 234;
constexpr uint32_t kNoMoreItems = 259;
constexpr uint32_t kDirectory = 267;
constexpr uint32_t kNoToken = 1008;
constexpr uint32_t kBadKey = 1010;
constexpr uint32_t kCantOpenKey = 1011;
constexpr uint32_t kCantRead = 1012;
constexpr uint32_t kCantWrite = 1013;
constexpr uint32_t kKeyDeleted = 1018;
constexpr uint32_t kInvalidServiceControl = 1052;
constexpr uint32_t kServiceAlreadyRunning = 1056;
constexpr uint32_t kServiceDisabled = 1058;
constexpr uint32_t kServiceDoesNotExist = 1060;
constexpr uint32_t kServiceCannotAcceptCtrl = 1061;
constexpr uint32_t kServiceNotActive = 1062;
constexpr uint32_t kProcessAborted = 1067;
constexpr uint32_t kNotAllAssigned = 1300;
constexpr uint32_t kInvalidOwner = 1307;
constexpr uint32_t kNoSuchPrivilege = 1313;
constexpr uint32_t kPrivilegeNotHeld = 1314;
constexpr uint32_t kNoneMapped = 1332;
constexpr uint32_t kInvalidAcl = 1336;
constexpr uint32_t kInvalidSid = 1337;
constexpr uint32_t kInvalidSecurityDescr = 1338;
constexpr uint32_t kSpecialAccount = 1371;
constexpr uint32_t kNoSuchAlias = 1376;
constexpr uint32_t kMemberNotInAlias = 1377;
constexpr uint32_t kMemberInAlias = 1378;
constexpr uint32_t kAliasExists = 1379;
constexpr uint32_t kNoSuchMember = 1387;
constexpr uint32_t kInvalidMember = 1388;
constexpr uint32_t kInvalidDatatype = 1804;

// NET_API_STATUS codes of the NetAPI.
constexpr uint32_t kNerrGroupNotFound = 2220;
constexpr uint32_t kNerrUserNotFound = 2221;
constexpr uint32_t kNerrGroupExists = 2223;
constexpr uint32_t kNerrUserExists = 2224;
constexpr uint32_t kNerrNotPrimary = 2226;
constexpr uint32_t kNerrInvalidComputer = 2351;

// HRESULTs of the COM objects behind the seam (the firewall's). A result
// failed when its severity bit is set (S_FALSE is a success).
constexpr bool Failed(uint32_t hr) { return (hr & 0x80000000u) != 0; }
constexpr uint32_t kSOk = 0;
constexpr uint32_t kSFalse = 1;
constexpr uint32_t kEPointer = 0x80004003;
constexpr uint32_t kEFail = 0x80004005;
constexpr uint32_t kEUnexpected = 0x8000FFFF;
constexpr uint32_t kEAccessDenied = 0x80070005;
constexpr uint32_t kEInvalidArg = 0x80070057;
constexpr uint32_t kRegdbEClassNotReg = 0x80040154;
// HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND): a collection has no such item.
constexpr uint32_t kHrFileNotFound = 0x80070002;
// HRESULT_FROM_WIN32(EPT_S_NOT_REGISTERED): the firewall service does not
// run, so its objects have no one to talk to.
constexpr uint32_t kHrFirewallServiceNotRunning = 0x800706D9;

}  // namespace winerr
