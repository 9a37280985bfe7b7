#pragma once
#include <windows.h>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace platform {

// Owns one open registry key and closes it exactly once.
class RegKey {
public:
    RegKey() = default;
    ~RegKey() { reset(); }
    RegKey(RegKey&& other) noexcept : m_key(std::exchange(other.m_key, nullptr)) {}
    RegKey& operator=(RegKey&& other) noexcept {
        if (this != &other) {
            reset();
            m_key = std::exchange(other.m_key, nullptr);
        }
        return *this;
    }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    HKEY get() const { return m_key; }
    explicit operator bool() const { return m_key != nullptr; }
    void reset();
    // Receives a key from the registry functions below; any key held is closed first.
    HKEY* put() {
        reset();
        return &m_key;
    }

private:
    HKEY m_key = nullptr;
};

// Every path resolves in the caller's own registry view: no WOW64 view flag is
// ever added, so a 32-bit build reads and writes what 32-bit programs see.
LONG OpenKey(HKEY root, std::wstring_view subKey, REGSAM access, RegKey& key);
LONG CreateKeyEx(HKEY root, std::wstring_view subKey, REGSAM access, RegKey& key);
// Creates the key when absent, opens it otherwise, with the default access.
LONG CreateKey(HKEY root, std::wstring_view subKey, RegKey& key);
// Writes a REG_SZ value: the characters and the terminating NUL.
LONG SetStringValue(const RegKey& key, const wchar_t* name, std::wstring_view data);
// Which registry view this process sees, for the log: "32-bit view" for a
// 32-bit program on 64-bit Windows, "64-bit view", or "single view".
const wchar_t* OwnRegistryView();
// The value when it is a REG_DWORD of exactly four bytes; nothing otherwise.
std::optional<DWORD> QueryDwordValue(const RegKey& key, const wchar_t* name);

}  // namespace platform
