#include <memory>
#include <vector>

#include "FileSecurity.h"
#include "WinCalls_win.h"
#include "WinSupport_win.h"

namespace kestrove::platform {

namespace {

// A security descriptor the system allocated, freed with LocalFree.
struct LocalDeleter {
    void operator()(void* memory) const { LocalFree(memory); }
};
using SystemDescriptor = std::unique_ptr<void, LocalDeleter>;

// File systems without security (FAT, exFAT, some network shares) answer with one of these.
bool MeansNoSecurity(DWORD error) {
    return error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION ||
           error == ERROR_INVALID_PARAMETER;
}

// The user this process runs as, and a descriptor whose access list lets only that user in.
class OwnerOnly {
  public:
    OwnerOnly() {
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
            return;
        }
        DWORD size = 0;
        GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        m_user.resize(size);
        const bool known =
            size > 0 && GetTokenInformation(token, TokenUser, m_user.data(), size, &size) != FALSE;
        CloseHandle(token);
        if (known) {
            Build(reinterpret_cast<TOKEN_USER*>(m_user.data())->User.Sid);
        }
    }

    SECURITY_ATTRIBUTES* attributes() { return m_ready ? &m_attributes : nullptr; }

  private:
    void Build(PSID user) {
        const auto aclSize =
            static_cast<DWORD>(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(user));
        m_acl.resize(aclSize);
        auto* acl = reinterpret_cast<ACL*>(m_acl.data());
        m_ready = InitializeAcl(acl, aclSize, ACL_REVISION) &&
                  AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, user) &&
                  InitializeSecurityDescriptor(&m_descriptor, SECURITY_DESCRIPTOR_REVISION) &&
                  SetSecurityDescriptorDacl(&m_descriptor, TRUE, acl, FALSE) &&
                  SetSecurityDescriptorControl(&m_descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
        m_attributes = SECURITY_ATTRIBUTES{sizeof(SECURITY_ATTRIBUTES), &m_descriptor, FALSE};
    }

    std::vector<BYTE> m_user;
    std::vector<BYTE> m_acl;
    SECURITY_DESCRIPTOR m_descriptor{};
    SECURITY_ATTRIBUTES m_attributes{};
    bool m_ready = false;
};

// Whether a file's integrity label (its mandatory label) was given to the file itself rather than
// inherited from its folder, as a program of low integrity gives its files: a new file in the same
// folder would not have it.
bool HasOwnLabel(PACL label) {
    if (label == nullptr) {
        return false;
    }
    for (DWORD i = 0; i < label->AceCount; ++i) {
        void* entry = nullptr;
        if (!GetAce(label, i, &entry) ||
            (static_cast<ACE_HEADER*>(entry)->AceFlags & INHERITED_ACE) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

void* OwnerOnlySecurityAttributes() {
    static OwnerOnly ownerOnly;
    return ownerOnly.attributes();
}

namespace {

// What CopyOwner and CopyAccessList return when the system had nothing to say against it.
IoResult<bool> Copied(bool copied) {
    return {std::nullopt, copied};
}

}  // namespace

IoResult<bool> CopyOwner(std::intptr_t from, std::intptr_t to) {
    PSID wanted = nullptr;
    PSECURITY_DESCRIPTOR wantedHolder = nullptr;
    DWORD error = win::GetSecurity(AsHandle(from), OWNER_SECURITY_INFORMATION, &wanted, nullptr,
                                   nullptr, nullptr, &wantedHolder);
    const SystemDescriptor wantedDescriptor(wantedHolder);
    if (error != ERROR_SUCCESS) {
        if (MeansNoSecurity(error)) {
            return Copied(true);  // no owners here: nothing that a new file could lose
        }
        return {ErrorFromCode(static_cast<int>(error))};
    }
    if (wanted == nullptr) {
        return Copied(true);  // an original without owner has none to lose
    }
    PSID current = nullptr;
    PSECURITY_DESCRIPTOR currentHolder = nullptr;
    error = win::GetSecurity(AsHandle(to), OWNER_SECURITY_INFORMATION, &current, nullptr, nullptr,
                             nullptr, &currentHolder);
    const SystemDescriptor currentDescriptor(currentHolder);
    if (error == ERROR_SUCCESS && current != nullptr && EqualSid(wanted, current)) {
        return Copied(true);
    }
    error = win::SetSecurity(AsHandle(to), OWNER_SECURITY_INFORMATION, wanted, nullptr, nullptr,
                             nullptr);
    if (error == ERROR_SUCCESS) {
        return Copied(true);
    }
    // Not allowed, or not possible on a file that has an owner to read: the file is rewritten
    // in place instead, and keeps its owner.
    if (error == ERROR_INVALID_OWNER || error == ERROR_ACCESS_DENIED ||
        error == ERROR_PRIVILEGE_NOT_HELD || MeansNoSecurity(error)) {
        return Copied(false);
    }
    return {ErrorFromCode(static_cast<int>(error))};
}

IoResult<bool> CopyAccessList(std::intptr_t from, std::intptr_t to) {
    PACL list = nullptr;
    PSECURITY_DESCRIPTOR holder = nullptr;
    DWORD error = win::GetSecurity(AsHandle(from), DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                   &list, nullptr, &holder);
    const SystemDescriptor descriptor(holder);
    if (error != ERROR_SUCCESS) {
        if (MeansNoSecurity(error)) {
            return Copied(true);  // no access lists here: nothing that a new file could lose
        }
        return {ErrorFromCode(static_cast<int>(error))};
    }
    // Asked on its own: a file system that keeps access lists but no labels refuses the question.
    PACL label = nullptr;
    PSECURITY_DESCRIPTOR labelHolder = nullptr;
    error = win::GetSecurity(AsHandle(from), LABEL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                             &label, &labelHolder);
    const SystemDescriptor labelDescriptor(labelHolder);
    if (error != ERROR_SUCCESS && !MeansNoSecurity(error)) {
        return {ErrorFromCode(static_cast<int>(error))};
    }
    if (error == ERROR_SUCCESS && HasOwnLabel(label)) {
        return Copied(false);
    }
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (!GetSecurityDescriptorControl(holder, &control, &revision)) {
        return {ErrorFromCode(static_cast<int>(GetLastError()))};
    }
    if ((control & SE_DACL_PRESENT) == 0) {
        return Copied(true);  // the file system keeps no access list for it
    }
    // Unprotected, the inherited entries come from the folder again, which is the same folder.
    const SECURITY_INFORMATION what =
        DACL_SECURITY_INFORMATION |
        ((control & SE_DACL_PROTECTED) != 0 ? PROTECTED_DACL_SECURITY_INFORMATION
                                            : UNPROTECTED_DACL_SECURITY_INFORMATION);
    error = win::SetSecurity(AsHandle(to), what, nullptr, nullptr, list, nullptr);
    if (error != ERROR_SUCCESS) {
        return {ErrorFromCode(static_cast<int>(error))};
    }
    return Copied(true);
}

}  // namespace kestrove::platform
