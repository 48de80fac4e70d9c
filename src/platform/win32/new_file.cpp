// New files through CreateFileW(CREATE_NEW). A file for its owner alone is
// created with a security descriptor of its own: one entry that gives the
// user the program runs as full access, protected from what the folder
// would pass on, so that no other account may open it at any moment.
#include "release/new_file.h"

#include <windows.h>

#include <algorithm>
#include <vector>

namespace release {

namespace {

// The security attributes that let the current user alone open a new file.
class OwnerOnly {
 public:
  // Builds them; on failure returns the system's error code.
  DWORD build() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return GetLastError();
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    user_.resize(size);
    const bool known = size > 0 && GetTokenInformation(token, TokenUser, user_.data(), size, &size);
    const DWORD tokenError = known ? 0 : GetLastError();
    CloseHandle(token);
    if (!known) return tokenError ? tokenError : ERROR_INVALID_SID;
    PSID user = reinterpret_cast<TOKEN_USER*>(user_.data())->User.Sid;

    acl_.resize(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + GetLengthSid(user));
    PACL acl = reinterpret_cast<PACL>(acl_.data());
    if (!InitializeAcl(acl, static_cast<DWORD>(acl_.size()), ACL_REVISION) ||
        !AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, user) ||
        !InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) ||
        !SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED))
      return GetLastError();
    attributes_ = {sizeof attributes_, &descriptor_, FALSE};
    return 0;
  }
  SECURITY_ATTRIBUTES* attributes() { return &attributes_; }

 private:
  std::vector<unsigned char> user_;  // TOKEN_USER and the SID it points to
  std::vector<unsigned char> acl_;
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
};

}  // namespace

NewFile writeNewFile(const std::filesystem::path& path, std::string_view bytes, bool ownerOnly,
                     std::error_code& error) {
  // A key that cannot be made private is not written at all.
  OwnerOnly security;
  if (ownerOnly) {
    if (const DWORD code = security.build()) {
      error.assign(static_cast<int>(code), std::system_category());
      return NewFile::Failed;
    }
  }
  HANDLE file =
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, ownerOnly ? security.attributes() : nullptr,
                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) return NewFile::Exists;
    error.assign(static_cast<int>(code), std::system_category());
    return NewFile::Failed;
  }
  DWORD failure = 0;
  while (!bytes.empty() && !failure) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1u << 20));
    if (!WriteFile(file, bytes.data(), chunk, &written, nullptr))
      failure = GetLastError();
    else if (written == 0)
      failure = ERROR_HANDLE_DISK_FULL;
    else
      bytes.remove_prefix(written);
  }
  if (!CloseHandle(file) && !failure) failure = GetLastError();
  if (!failure) return NewFile::Written;
  DeleteFileW(path.c_str());
  error.assign(static_cast<int>(failure), std::system_category());
  return NewFile::Failed;
}

}  // namespace release
