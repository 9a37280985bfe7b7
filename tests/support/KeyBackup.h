#pragma once
// Keeps a registry key the test needs to change or remove (the user's RunOnce
// key, a Wine setting) and puts it back as it was when the test ends: copied
// away at the start with all its values and subkeys, copied back at the end;
// a key that did not exist is removed again. Header only.
#include <windows.h>

#include <string>
#include <utility>

class KeyBackup {
public:
    KeyBackup(HKEY root, std::wstring path)
        : m_root(root), m_path(std::move(path)), m_backupPath(NextBackupPath()) {
        DeleteTree(HKEY_CURRENT_USER, m_backupPath.c_str());
        HKEY source = nullptr;
        if (::RegOpenKeyExW(m_root, m_path.c_str(), 0, KEY_READ, &source) != ERROR_SUCCESS) return;
        HKEY backup = nullptr;
        if (::RegCreateKeyExW(HKEY_CURRENT_USER, m_backupPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &backup, nullptr) == ERROR_SUCCESS) {
            m_saved = ::RegCopyTreeW(source, nullptr, backup) == ERROR_SUCCESS;
            ::RegCloseKey(backup);
        }
        ::RegCloseKey(source);
    }

    ~KeyBackup() {
        DeleteTree(m_root, m_path.c_str());
        if (m_saved) {
            HKEY key = nullptr;
            if (::RegCreateKeyExW(m_root, m_path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                  nullptr) == ERROR_SUCCESS) {
                HKEY backup = nullptr;
                if (::RegOpenKeyExW(HKEY_CURRENT_USER, m_backupPath.c_str(), 0, KEY_READ, &backup) ==
                    ERROR_SUCCESS) {
                    ::RegCopyTreeW(backup, nullptr, key);
                    ::RegCloseKey(backup);
                }
                ::RegCloseKey(key);
            }
        }
        DeleteTree(HKEY_CURRENT_USER, m_backupPath.c_str());
        // Goes only once no other backup is kept there.
        ::RegDeleteKeyW(HKEY_CURRENT_USER, kBackupParent);
    }

    KeyBackup(const KeyBackup&) = delete;
    KeyBackup& operator=(const KeyBackup&) = delete;

    // Whether the key existed and was copied away.
    bool Saved() const { return m_saved; }

    static void DeleteTree(HKEY root, const wchar_t* path) {
        ::RegDeleteTreeW(root, path);
        ::RegDeleteKeyW(root, path);
    }

private:
    static constexpr const wchar_t* kBackupParent = L"Software\\Norvalis Tests";

    // One place per backup, so several keys can be kept at once.
    static std::wstring NextBackupPath() {
        static int count = 0;
        return std::wstring(kBackupParent) + L"\\Key Backup " + std::to_wstring(++count);
    }

    HKEY m_root;
    std::wstring m_path;
    std::wstring m_backupPath;
    bool m_saved = false;
};
