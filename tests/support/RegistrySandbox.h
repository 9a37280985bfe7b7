#pragma once
#include <windows.h>
#include <string>
#include <utility>
#include <vector>

// Removes the registry keys a test touches before the test and again after it,
// so tests never see each other's keys. Keys are named in the test program's
// own registry view.
class RegistrySandbox {
public:
    explicit RegistrySandbox(std::vector<std::pair<HKEY, std::wstring>> keys);
    ~RegistrySandbox();
    RegistrySandbox(const RegistrySandbox&) = delete;
    RegistrySandbox& operator=(const RegistrySandbox&) = delete;

    void Clear() const;

private:
    std::vector<std::pair<HKEY, std::wstring>> m_keys;
};

// Small registry helpers for arranging test cases.
void CreateTestKey(HKEY root, const std::wstring& path, REGSAM view = 0);
void SetTestValue(HKEY root, const std::wstring& path, const wchar_t* name, DWORD type,
                  const void* data, DWORD size, REGSAM view = 0);
bool TestKeyExists(HKEY root, const std::wstring& path, REGSAM view = 0);
// The REG_SZ value, or nothing when absent or of another type.
bool ReadTestString(HKEY root, const std::wstring& path, const wchar_t* name,
                    std::wstring& value, DWORD* bytes = nullptr, REGSAM view = 0);
