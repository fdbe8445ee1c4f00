// Access-mask bits as Windows defines them: standard and generic rights, the
// rights of files, folders and registry keys, and the COM rights of DCOM
// launch and access descriptors. Also the generic mappings that turn
// GENERIC_* bits into the specific rights of a file or a registry key.
#pragma once

#include <cstdint>

namespace winsec {

// Standard rights.
constexpr uint32_t kDelete = 0x00010000;
constexpr uint32_t kReadControl = 0x00020000;
constexpr uint32_t kWriteDac = 0x00040000;
constexpr uint32_t kWriteOwner = 0x00080000;
constexpr uint32_t kSynchronize = 0x00100000;
constexpr uint32_t kStandardRightsRequired = 0x000F0000;
constexpr uint32_t kStandardRightsRead = kReadControl;
constexpr uint32_t kStandardRightsWrite = kReadControl;
constexpr uint32_t kStandardRightsExecute = kReadControl;
constexpr uint32_t kStandardRightsAll = 0x001F0000;
constexpr uint32_t kSpecificRightsAll = 0x0000FFFF;
constexpr uint32_t kAccessSystemSecurity = 0x01000000;
constexpr uint32_t kMaximumAllowed = 0x02000000;

// Generic rights.
constexpr uint32_t kGenericAll = 0x10000000;
constexpr uint32_t kGenericExecute = 0x20000000;
constexpr uint32_t kGenericWrite = 0x40000000;
constexpr uint32_t kGenericRead = 0x80000000;
constexpr uint32_t kGenericRightsMask = kGenericAll | kGenericExecute | kGenericWrite | kGenericRead;

// Files and directories (several names share a bit).
constexpr uint32_t kFileReadData = 0x0001;
constexpr uint32_t kFileListDirectory = 0x0001;
constexpr uint32_t kFileWriteData = 0x0002;
constexpr uint32_t kFileAddFile = 0x0002;
constexpr uint32_t kFileAppendData = 0x0004;
constexpr uint32_t kFileAddSubdirectory = 0x0004;
constexpr uint32_t kFileCreatePipeInstance = 0x0004;
constexpr uint32_t kFileReadEa = 0x0008;
constexpr uint32_t kFileWriteEa = 0x0010;
constexpr uint32_t kFileExecute = 0x0020;
constexpr uint32_t kFileTraverse = 0x0020;
constexpr uint32_t kFileDeleteChild = 0x0040;
constexpr uint32_t kFileReadAttributes = 0x0080;
constexpr uint32_t kFileWriteAttributes = 0x0100;
constexpr uint32_t kFileAllAccess = 0x001F01FF;
constexpr uint32_t kFileGenericRead = 0x00120089;
constexpr uint32_t kFileGenericWrite = 0x00120116;
constexpr uint32_t kFileGenericExecute = 0x001200A0;
// The composites the permission dialogs show.
constexpr uint32_t kFileReadAndExecute = 0x001200A9;
constexpr uint32_t kFileModify = 0x001301BF;

// Registry keys. SYNCHRONIZE is not part of any registry composite.
constexpr uint32_t kKeyQueryValue = 0x0001;
constexpr uint32_t kKeySetValue = 0x0002;
constexpr uint32_t kKeyCreateSubKey = 0x0004;
constexpr uint32_t kKeyEnumerateSubKeys = 0x0008;
constexpr uint32_t kKeyNotify = 0x0010;
constexpr uint32_t kKeyCreateLink = 0x0020;
constexpr uint32_t kKeyWow64_64Key = 0x0100;
constexpr uint32_t kKeyWow64_32Key = 0x0200;
constexpr uint32_t kKeyWow64Res = 0x0300;
constexpr uint32_t kKeyRead = 0x00020019;
constexpr uint32_t kKeyExecute = 0x00020019;
constexpr uint32_t kKeyWrite = 0x00020006;
constexpr uint32_t kKeyAllAccess = 0x000F003F;

// COM rights in DCOM launch and access descriptors.
constexpr uint32_t kComRightsExecute = 0x01;
constexpr uint32_t kComRightsExecuteLocal = 0x02;
constexpr uint32_t kComRightsExecuteRemote = 0x04;
constexpr uint32_t kComRightsActivateLocal = 0x08;
constexpr uint32_t kComRightsActivateRemote = 0x10;

// What each generic bit stands for on one kind of object.
struct GenericMapping {
  uint32_t genericRead;
  uint32_t genericWrite;
  uint32_t genericExecute;
  uint32_t genericAll;
};

constexpr GenericMapping kFileGenericMapping{kFileGenericRead, kFileGenericWrite,
                                             kFileGenericExecute, kFileAllAccess};
constexpr GenericMapping kRegistryGenericMapping{kKeyRead, kKeyWrite, kKeyExecute, kKeyAllAccess};

// Replaces the generic bits of `mask` by the specific rights they stand for
// (MapGenericMask); the other bits stay as they are.
constexpr uint32_t MapGenericRights(uint32_t mask, const GenericMapping& mapping) {
  uint32_t result = mask & ~kGenericRightsMask;
  if (mask & kGenericRead) result |= mapping.genericRead;
  if (mask & kGenericWrite) result |= mapping.genericWrite;
  if (mask & kGenericExecute) result |= mapping.genericExecute;
  if (mask & kGenericAll) result |= mapping.genericAll;
  return result;
}

}  // namespace winsec
