// Conversions between the system ANSI code page and UTF-16, and integer formatting.
#pragma once

#include <string>

// Room for the text of any 32-bit value in any radix, terminator included.
constexpr int kIntTextChars = 64;

// Replaces result with the conversion; a failed conversion yields an empty result.
void AnsiToWide(const char* source, std::wstring& result);
void WideToAnsi(const wchar_t* source, std::string& result);

// Strict UTF-8 (no invalid or overlong sequences, no NUL) to UTF-16; false leaves result empty.
bool Utf8ToWide(const std::string& source, std::wstring& result);

// Writes the signed text of value in the given radix (2..36) into buffer.
void IntToWide(int value, wchar_t (&buffer)[kIntTextChars], int radix);

// The signed decimal text of value, as IntToWide writes it.
std::wstring DecimalText(int value);
