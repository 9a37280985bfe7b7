#include "platform/Log.h"

#include <string>

namespace platform {

namespace {

void AppendDigits(std::wstring& text, unsigned value, int width) {
    wchar_t digits[10];
    for (int i = width - 1; i >= 0; --i) {
        digits[i] = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    }
    text.append(digits, static_cast<size_t>(width));
}

// 2026-12-11 16:40:12.345Z
std::wstring UtcStamp() {
    SYSTEMTIME now;
    ::GetSystemTime(&now);
    std::wstring stamp;
    stamp.reserve(24);
    AppendDigits(stamp, now.wYear, 4);
    stamp += L'-';
    AppendDigits(stamp, now.wMonth, 2);
    stamp += L'-';
    AppendDigits(stamp, now.wDay, 2);
    stamp += L' ';
    AppendDigits(stamp, now.wHour, 2);
    stamp += L':';
    AppendDigits(stamp, now.wMinute, 2);
    stamp += L':';
    AppendDigits(stamp, now.wSecond, 2);
    stamp += L'.';
    AppendDigits(stamp, now.wMilliseconds, 3);
    stamp += L'Z';
    return stamp;
}

std::string Utf8(std::wstring_view text) {
    if (text.empty()) return {};
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) {
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(),
                              size, nullptr, nullptr);
    }
    return bytes;
}

}  // namespace

bool Log::Open(const std::wstring& path, DWORD disposition) {
    // Appending only: two runs that share a log (or a reader that has it
    // open) never overwrite each other's lines.
    UniqueHandle file(::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    m_file = std::move(file);
    m_path = path;
    return true;
}

bool Log::OpenForAppend(const std::wstring& path) { return Open(path, OPEN_ALWAYS); }

bool Log::OpenNew(const std::wstring& path) { return Open(path, CREATE_NEW); }

void Log::Write(std::initializer_list<std::wstring_view> pieces) const {
    if (!m_file) return;
    std::wstring line = UtcStamp();
    line += L' ';
    for (std::wstring_view piece : pieces) line += piece;
    line += L"\r\n";
    const std::string bytes = Utf8(line);
    DWORD written = 0;
    ::WriteFile(m_file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

const Log& NoLog() {
    static const Log none;
    return none;
}

std::wstring Decimal(unsigned long long value) {
    wchar_t digits[24];
    size_t at = 24;
    do {
        digits[--at] = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    } while (value != 0);
    return std::wstring(digits + at, 24 - at);
}

std::wstring Hex(DWORD value, int digits) {
    static const wchar_t kHex[] = L"0123456789ABCDEF";
    std::wstring text;
    for (int shift = 28; shift >= 0; shift -= 4) {
        if (shift < digits * 4 || (value >> shift) != 0) text += kHex[(value >> shift) & 0xF];
    }
    return text;
}

std::wstring CodeText(DWORD code) { return Decimal(code) + L" (0x" + Hex(code, 8) + L")"; }

}  // namespace platform
