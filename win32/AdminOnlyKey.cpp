#include "win32/AdminOnlyKey.h"

#include "win32/DynamicCalls.h"
#include "win32/Platform.h"

namespace win32 {
namespace {

// The security of an administrators-only key in absolute form. It points into
// its own members, so it is neither copied nor moved; the two SIDs are freed
// with it.
class AdminOnlyDescriptor {
 public:
  AdminOnlyDescriptor() = default;
  ~AdminOnlyDescriptor() {
    if (administrators_) Advapi32().FreeSid(administrators_);
    if (system_) Advapi32().FreeSid(system_);
  }
  AdminOnlyDescriptor(const AdminOnlyDescriptor&) = delete;
  AdminOnlyDescriptor& operator=(const AdminOnlyDescriptor&) = delete;

  // Builds it through the run-time bound functions; false where one of them
  // is missing or fails.
  bool Build();
  PSECURITY_DESCRIPTOR get() { return &descriptor_; }

 private:
  bool MakeSids();

  PSID administrators_ = nullptr;  // BUILTIN\Administrators, S-1-5-32-544
  PSID system_ = nullptr;          // LocalSystem, S-1-5-18
  DWORD acl_[32] = {};             // room for the ACL, aligned as an ACL must be
  SECURITY_DESCRIPTOR descriptor_ = {};
};

bool AdminOnlyDescriptor::MakeSids() {
  const Advapi32Calls& api = Advapi32();
  SID_IDENTIFIER_AUTHORITY nt = {SECURITY_NT_AUTHORITY};
  return api.AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS,
                                      0, 0, 0, 0, 0, 0, &administrators_) &&
         api.AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0,
                                      &system_);
}

bool AdminOnlyDescriptor::Build() {
  const Advapi32Calls& api = Advapi32();
  if (!api.InitializeSecurityDescriptor || !api.SetSecurityDescriptorDacl ||
      !api.SetSecurityDescriptorOwner || !api.InitializeAcl || !api.AddAccessAllowedAce ||
      !api.AllocateAndInitializeSid || !api.FreeSid || !api.GetLengthSid || !MakeSids())
    return false;
  // Each ACCESS_ALLOWED_ACE ends in the first DWORD of its SID.
  const DWORD aceHeader = sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD);
  const DWORD aclSize =
      sizeof(ACL) + 2 * aceHeader + api.GetLengthSid(administrators_) + api.GetLengthSid(system_);
  if (aclSize > sizeof acl_) return false;
  PACL acl = reinterpret_cast<PACL>(acl_);
  if (!api.InitializeAcl(acl, aclSize, ACL_REVISION) ||
      !api.AddAccessAllowedAce(acl, ACL_REVISION, KEY_ALL_ACCESS, administrators_) ||
      !api.AddAccessAllowedAce(acl, ACL_REVISION, KEY_ALL_ACCESS, system_) ||
      !api.InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
      !api.SetSecurityDescriptorOwner(&descriptor_, administrators_, FALSE) ||
      !api.SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE))
    return false;
  // Windows 2000 and later inherit the parent's entries into a key unless its
  // DACL is protected; NT 4.0 knows no such inheritance (and no such call).
  return !api.SetSecurityDescriptorControl ||
         api.SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
}

// Gives an open key the owner and DACL of the descriptor.
bool ApplyTo(const RegKey& key, AdminOnlyDescriptor& descriptor) {
  return Advapi32().RegSetKeySecurity(key.get(),
                                      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                      descriptor.get()) == ERROR_SUCCESS;
}

}  // namespace

bool CreateAdminOnlyKey(HKEY parent, const char* subkey, RegKey& key) {
  key.reset();
  if (!IsNtPlatform()) {
    return RegCreateKeyExA(parent, subkey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                           nullptr) == ERROR_SUCCESS;
  }
  AdminOnlyDescriptor descriptor;
  if (!descriptor.Build()) return false;
  // A new key gets the security as it is made, so that nobody else can open
  // it in between; it is set again afterwards all the same, for a key that
  // was there already and for systems that ignore the creator's security
  // (Wine does).
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor.get(), FALSE};
  if (RegCreateKeyExA(parent, subkey, 0, nullptr, 0, KEY_ALL_ACCESS, &attributes, key.put(),
                      nullptr) != ERROR_SUCCESS)
    return false;
  if (ApplyTo(key, descriptor)) return true;
  key.reset();
  return false;
}

bool OpenAdminOnlyKey(HKEY parent, const char* subkey, RegKey& key) {
  if (RegOpenKeyExA(parent, subkey, 0, KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS) return false;
  if (!IsNtPlatform()) return true;
  AdminOnlyDescriptor descriptor;
  if (descriptor.Build() && ApplyTo(key, descriptor)) return true;
  key.reset();
  return false;
}

}  // namespace win32
