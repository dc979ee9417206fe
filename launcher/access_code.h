#pragma once
// The access-code dialog's text rules and the last check on the parameter before it reaches
// the host program's command line. No Win32: tested natively.
#include <cstddef>
#include <cstdint>
#include <string>

// The code box holds six digits shown as "123 456".
constexpr int k_code_box_limit = 7;
constexpr size_t k_code_space_at = 3;
// The server's title keys all have this length; anything else is taken as no answer.
constexpr size_t k_title_key_length = 45;

// What the code box shows after the user changed it to `text`: a space after the third
// character once there are four or more and none was typed. Returns `text` unchanged
// otherwise.
std::wstring code_box_text(const std::wstring& text);

// The code without its spaces.
std::wstring code_digits(const std::wstring& text);

// Connect may be pressed: some characters, and apart from spaces only the digits 0-9.
bool is_valid_access_code(const std::wstring& text);

// The code as the server is asked for it: the digits up to the first other character, in
// decimal; 0 when there are none or the number does not fit a positive 32-bit value.
int32_t access_code_number(const std::wstring& text);

bool is_accepted_title_key(const std::wstring& key);

// The parameter as it goes onto the host program's command line "-i PARAM": its first word,
// without the characters that would quote, escape or redirect anything on the way there and
// without leading switch characters, so that it always stays one plain argument.
std::wstring host_safe_param(const std::wstring& param);
