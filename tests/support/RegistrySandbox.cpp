#include "RegistrySandbox.h"

#include <gtest/gtest.h>

#include "platform/RegKey.h"

RegistrySandbox::RegistrySandbox(std::vector<std::pair<HKEY, std::wstring>> keys)
    : m_keys(std::move(keys)) {
    Clear();
}

RegistrySandbox::~RegistrySandbox() { Clear(); }

void RegistrySandbox::Clear() const {
    for (const auto& [root, path] : m_keys) {
        const LONG result = ::RegDeleteTreeW(root, path.c_str());
        if (result == ERROR_SUCCESS) ::RegDeleteKeyW(root, path.c_str());
    }
}

void CreateTestKey(HKEY root, const std::wstring& path, REGSAM view) {
    platform::RegKey key;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0,
                                               KEY_ALL_ACCESS | view, nullptr, key.put(), nullptr))
        << "cannot create test key";
}

void SetTestValue(HKEY root, const std::wstring& path, const wchar_t* name, DWORD type,
                  const void* data, DWORD size, REGSAM view) {
    platform::RegKey key;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0,
                                               KEY_ALL_ACCESS | view, nullptr, key.put(), nullptr));
    EXPECT_EQ(ERROR_SUCCESS,
              ::RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data), size));
}

bool TestKeyExists(HKEY root, const std::wstring& path, REGSAM view) {
    platform::RegKey key;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, key.put()) != ERROR_SUCCESS) return false;
    return true;
}

bool ReadTestString(HKEY root, const std::wstring& path, const wchar_t* name, std::wstring& value,
                    DWORD* bytes, REGSAM view) {
    platform::RegKey key;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, key.put()) != ERROR_SUCCESS) return false;
    DWORD type = 0;
    DWORD size = 0;
    bool ok = ::RegQueryValueExW(key.get(), name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
              type == REG_SZ;
    if (ok) {
        std::wstring buffer(size / sizeof(wchar_t) + 1, L'\0');
        ok = ::RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                                &size) == ERROR_SUCCESS;
        buffer.resize(size / sizeof(wchar_t));
        if (!buffer.empty() && buffer.back() == L'\0') buffer.pop_back();
        value = buffer;
        if (bytes != nullptr) *bytes = size;
    }
    return ok;
}
