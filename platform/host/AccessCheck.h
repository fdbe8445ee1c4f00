// The access check of the simulated host: whether a process token gets the
// rights it asks for on an object with a given security descriptor, by the
// rules of Windows' AccessCheck (ACEs in order, the first one to decide a
// right wins, a NULL DACL allows everything, an empty one nothing, the owner
// may always read and change the DACL).
#pragma once

#include <cstdint>

#include "platform/host/Token.h"
#include "platform/winsec/AccessMask.h"
#include "platform/winsec/SecurityDescriptor.h"

namespace host {

// Returns 0 and the granted rights (`granted` may be null), or
// ERROR_ACCESS_DENIED (5), or ERROR_PRIVILEGE_NOT_HELD (1314) when
// ACCESS_SYSTEM_SECURITY is asked for without SeSecurityPrivilege enabled.
// Generic rights in `desired` and in the ACEs are mapped with `mapping`;
// MAXIMUM_ALLOWED asks for whatever the DACL allows (denied when nothing).
// Asking for no rights at all succeeds, as opening a key with access 0 does.
uint32_t CheckAccess(const winsec::SecurityDescriptor& sd, const Token& token, uint32_t desired,
                     const winsec::GenericMapping& mapping, uint32_t* granted = nullptr);

}  // namespace host
