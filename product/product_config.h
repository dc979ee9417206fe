#pragma once
// Every product-specific name, the server endpoint, the registry key and the folders the
// launcher works in. Filled once at static initialisation.
#include <cstdint>
#include <string>

class ProductConfig {
public:
    ProductConfig();

    std::wstring program_name() const { return m_program_name; }
    std::wstring url_scheme() const { return m_url_scheme; }
    std::wstring url_scheme_description() const { return m_url_scheme_description; }
    std::wstring server_host() const { return m_server_host; }
    std::wstring browser_title_prefix() const { return m_browser_title_prefix; }
    std::wstring documents_folder() const { return m_documents_folder; }
    std::wstring log_folder() const { return m_log_folder; }
    std::wstring log_file_title() const { return m_log_file_title; }
    std::wstring program_folder() const { return m_program_folder; }
    std::wstring download_path() const { return m_download_path; }
    std::wstring service_exe_path() const { return m_service_exe_path; }
    // Where a replaced launcher that was still running waits to be deleted by a later start.
    std::wstring old_launcher_path() const {
        return m_program_folder + L"\\" + m_program_name + L".exe.old";
    }
    std::wstring registry_key() const { return m_registry_key; }

    // Set at start-up, before anything reads it.
    bool folder_usable = false;

    // Makes <documents>\Fenwa the administrators' own before anything below it is used;
    // falls back to the personal documents folder as the start-up's access test does.
    bool secure_folders();

private:
    void use_documents_folder(const std::wstring& folder);
    std::wstring m_program_name;
    std::wstring m_url_scheme;
    std::wstring m_url_scheme_description;
    std::wstring m_server_host;
    std::wstring m_browser_title_prefix;
    std::wstring m_documents_folder;
    std::wstring m_log_folder;
    std::wstring m_log_file_title;
    std::wstring m_program_folder;
    std::wstring m_download_path;
    std::wstring m_service_exe_path;
    std::wstring m_registry_key;
};

// Can the process create, write, read back and delete a folder below this special folder?
bool test_folder_access(int csidl);
// The same test on a folder given by path.
bool test_folder_access_at(const std::wstring& folder);

// Read-only for everything but the start-up, which alone holds the writable one.
extern const ProductConfig& g_product;
ProductConfig& product_config_for_start_up();
