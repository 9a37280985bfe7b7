#include "platform/RegKey.h"

#include "platform/Seam.h"

namespace platform {

namespace {

void Record(HKEY root, std::wstring_view subKey) {
    if (auto* log = Seam().openedKeys) {
        std::wstring name = root == HKEY_CURRENT_USER ? L"HKCU\\"
                          : root == HKEY_LOCAL_MACHINE ? L"HKLM\\" : L"?\\";
        log->push_back(name.append(subKey));
    }
}

}  // namespace

void RegKey::reset() {
    if (m_key != nullptr) {
        ::RegCloseKey(m_key);
        m_key = nullptr;
    }
}

LONG OpenKey(HKEY root, std::wstring_view subKey, REGSAM access, RegKey& key) {
    Record(root, subKey);
    const std::wstring path(subKey);
    LONG result = ::RegOpenKeyExW(root, path.c_str(), 0, access, key.put());
    if (result != ERROR_SUCCESS) key.reset();
    return result;
}

LONG CreateKeyEx(HKEY root, std::wstring_view subKey, REGSAM access, RegKey& key) {
    Record(root, subKey);
    const std::wstring path(subKey);
    LONG result = ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                    access, nullptr, key.put(), nullptr);
    if (result != ERROR_SUCCESS) key.reset();
    return result;
}

LONG CreateKey(HKEY root, std::wstring_view subKey, RegKey& key) {
    Record(root, subKey);
    const std::wstring path(subKey);
    LONG result = ::RegCreateKeyW(root, path.c_str(), key.put());
    if (result != ERROR_SUCCESS) key.reset();
    return result;
}

LONG SetStringValue(const RegKey& key, const wchar_t* name, std::wstring_view data) {
    if (Seam().refuseRegistryWrites) return ERROR_ACCESS_DENIED;
    const std::wstring text(data);
    const DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    return ::RegSetValueExW(key.get(), name, 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(text.c_str()), bytes);
}

const wchar_t* OwnRegistryView() {
    if (sizeof(void*) == 8) return L"64-bit view";
    BOOL wow64 = FALSE;
    return ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64 ? L"32-bit view" : L"single view";
}

std::optional<DWORD> QueryDwordValue(const RegKey& key, const wchar_t* name) {
    DWORD type = REG_NONE;
    DWORD value = 0;
    DWORD size = sizeof(value);
    // A value of another type or length is not a release number: rejecting it
    // here keeps bytes the query did not fill out of any comparison.
    if (::RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&value),
                           &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(value)) {
        return std::nullopt;
    }
    return value;
}

}  // namespace platform
