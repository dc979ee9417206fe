#include "util/folder_security.h"

#include "util/text_util.h"

const wchar_t k_program_root_sddl[] =
    L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
const wchar_t k_taken_over_sddl[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

bool is_trusted_owner(const std::wstring& owner_sid, const std::wstring& user_sid) {
    static const wchar_t* const trusted[] = {
        L"s-1-5-18",     // SYSTEM
        L"s-1-5-32-544", // Administrators
        // TrustedInstaller (the service SID of NT SERVICE\TrustedInstaller)
        L"s-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",
    };
    // The string form's only letter is the leading "S"; compare without its case.
    const std::wstring owner = to_lower(owner_sid);
    if (owner.empty())
        return false;
    for (const wchar_t* sid : trusted) {
        if (owner == sid)
            return true;
    }
    return !user_sid.empty() && owner == to_lower(user_sid);
}
