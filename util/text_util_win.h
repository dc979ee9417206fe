#pragma once
// Text through the platform: printf-style formatting, the ANSI code page, natural order.
#include <cstdarg>
#include <string>

// printf-style formatting with the platform's wide conventions (%s takes a wide string).
std::wstring format_text(const wchar_t* format, ...);
std::wstring format_text_v(const wchar_t* format, va_list args);

// UTF-8 bytes (up to the first zero) as the ANSI code page can hold them.
std::wstring utf8_to_text(const std::string& bytes);
std::string to_ansi(const std::wstring& text);
std::wstring from_ansi(const std::string& bytes);

bool compare_natural(const std::wstring& a, const std::wstring& b);
