#include "product/product_config.h"

#include <windows.h>
#include <shlobj.h>

#include "build_config.h"
#include "util/file_util_win.h"
#include "util/folder_security_win.h"

bool test_folder_access_at(const std::wstring& folder) {
    // An unknown folder must not turn into a test in the root of the current drive.
    if (folder.empty())
        return false;
    const std::wstring test_folder = folder + L"\\__test_for_create_folder__";
    if (path_exists(test_folder))
        delete_folder(test_folder);
    if (!ensure_folder(test_folder))
        return false;

    const std::wstring test_file = test_folder + L"\\__test_for_create_file__.txt";
    const std::wstring expected = L"access test";
    if (!write_text_file(test_file, expected, true, false))
        return false;
    const std::wstring read_back = read_text_file(test_file, 65001);
    if (read_back.empty())
        return false;
    const bool same = read_back == expected;
    const bool deleted = delete_folder(test_folder);
    return same && deleted;
}

bool test_folder_access(int csidl) {
    return test_folder_access_at(get_special_folder(csidl));
}

void ProductConfig::use_documents_folder(const std::wstring& folder) {
    m_documents_folder = folder;
    m_log_folder = m_documents_folder + L"\\Fenwa\\log";
    m_program_folder = m_documents_folder + L"\\Fenwa\\FenwaLauncher";
    m_service_exe_path = m_program_folder + L"\\FenwaHostSvr.exe";
}

bool ProductConfig::secure_folders() {
    // Only the one running copy walks the folder (the single-instance check comes first): a
    // second one would hold folders open under an update. A link there that cannot be
    // removed makes this documents folder unusable, and the personal one is tried.
    if (!folder_usable)
        return false;
    if (secure_program_root(m_documents_folder + L"\\Fenwa", current_user_sid()))
        return true;
    const std::wstring personal = get_special_folder(CSIDL_PERSONAL);
    folder_usable = personal != m_documents_folder && test_folder_access_at(personal) &&
                    secure_program_root(personal + L"\\Fenwa", current_user_sid());
    if (folder_usable)
        use_documents_folder(personal);
    return folder_usable;
}

ProductConfig::ProductConfig() {
    folder_usable = true;
    m_documents_folder = get_special_folder(CSIDL_COMMON_DOCUMENTS);
    folder_usable = test_folder_access(CSIDL_COMMON_DOCUMENTS);
    if (!folder_usable) {
        folder_usable = test_folder_access(CSIDL_PERSONAL);
        if (folder_usable)
            m_documents_folder = get_special_folder(CSIDL_PERSONAL);
    }

    m_program_name = L"FenwaLauncher";
    m_url_scheme = L"orvexlauncher.fenwa.service.host";
    m_url_scheme_description = L"URL:orvexlauncher Fenwa Service Protocol";
    m_browser_title_prefix = L"Fenwa Launcher - ";
    m_server_host = FENWA_SERVER_HOST;
    m_log_file_title = L"FenwaLauncher";
    m_download_path = L"download/Customer/program_kr";
    m_registry_key = L"Software\\Fenwa\\FenwaLauncher";

    use_documents_folder(m_documents_folder);
}
