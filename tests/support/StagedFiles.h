#pragma once
// Files that a test puts beside its program (stand-in installers and
// launchers, copies of the test program, side files) and takes away again.
// Header only: the helpers need nothing but Windows and the standard library.
#include <windows.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace staged {

// Full path of the running test program.
inline std::wstring OwnPath() {
    std::wstring path(32768, L'\0');
    path.resize(::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return path;
}

// Folder of a path, without the separator.
inline std::wstring FolderOf(const std::wstring& path) {
    return path.substr(0, path.find_last_of(L"\\/"));
}

// The folder of the running test program: build/test/bin, where every built
// program lies.
inline std::wstring OwnFolder() { return FolderOf(OwnPath()); }

inline std::wstring CurrentDirectory() {
    std::wstring directory(32768, L'\0');
    directory.resize(::GetCurrentDirectoryW(static_cast<DWORD>(directory.size()), directory.data()));
    return directory;
}

// The form of a full path that the file functions accept at any length.
inline std::wstring Unlimited(const std::wstring& path) {
    return path.compare(0, 4, L"\\\\?\\") == 0 ? path : L"\\\\?\\" + path;
}

inline bool Exists(const std::wstring& path) {
    return ::GetFileAttributesW(Unlimited(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline bool WriteText(const std::wstring& path, const std::wstring& text) {
    HANDLE file = ::CreateFileW(Unlimited(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::string bytes(text.size() * 4 + 1, '\0');
    bytes.resize(::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       bytes.data(), static_cast<int>(bytes.size()), nullptr,
                                       nullptr));
    DWORD written = 0;
    const BOOL ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                                nullptr);
    ::CloseHandle(file);
    return ok && written == bytes.size();
}

// The UTF-8 text of a file, or nothing when it cannot be read.
inline std::optional<std::wstring> ReadText(const std::wstring& path) {
    HANDLE file = ::CreateFileW(Unlimited(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    std::string bytes;
    char chunk[4096];
    DWORD read = 0;
    while (::ReadFile(file, chunk, sizeof(chunk), &read, nullptr) && read > 0) bytes.append(chunk, read);
    ::CloseHandle(file);
    std::wstring text(bytes.size(), L'\0');
    text.resize(::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()),
                                      text.data(), static_cast<int>(text.size())));
    return text;
}

// The lines of a text, without line ends; no empty last line.
inline std::vector<std::wstring> Lines(const std::wstring& text) {
    std::vector<std::wstring> lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find(L'\n', at);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = text.substr(at, end - at);
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        lines.push_back(line);
        at = end + 1;
    }
    return lines;
}

// What a stand-in wrote at each of its starts: "<command line> TAB <current
// directory>" per start. Empty when it never started.
struct Start {
    std::wstring commandLine;
    std::wstring currentDirectory;
};

inline std::vector<Start> StartsOf(const std::wstring& standIn) {
    std::vector<Start> starts;
    const auto text = ReadText(standIn + L".log");
    if (!text) return starts;
    for (const std::wstring& line : Lines(*text)) {
        const auto tab = line.rfind(L'\t');
        if (tab == std::wstring::npos) {
            starts.push_back({line, L""});
        } else {
            starts.push_back({line.substr(0, tab), line.substr(tab + 1)});
        }
    }
    return starts;
}

// When a stand-in last wrote its start, as system time (UTC, 100 ns units).
inline std::optional<ULONGLONG> StartTimeOf(const std::wstring& standIn) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(Unlimited(standIn + L".log").c_str(), GetFileExInfoStandard, &data)) {
        return std::nullopt;
    }
    return (static_cast<ULONGLONG>(data.ftLastWriteTime.dwHighDateTime) << 32) |
           data.ftLastWriteTime.dwLowDateTime;
}

inline ULONGLONG Now() {
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    return (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

// Everything a test puts on disk, taken away in reverse order when the test
// ends. Only what was created here is removed: a folder that already existed
// stays, and so does a folder that still holds something else.
class Stage {
public:
    Stage() = default;
    ~Stage() { Clear(); }
    Stage(const Stage&) = delete;
    Stage& operator=(const Stage&) = delete;

    // Creates the folder and every missing folder above it.
    bool Folder(const std::wstring& path) {
        if (Exists(path)) return true;
        const auto separator = path.find_last_of(L'\\');
        if (separator == std::wstring::npos) return false;
        const std::wstring parent = path.substr(0, separator);
        const bool driveRoot = parent.size() == 2 && parent[1] == L':';
        if (!driveRoot && !Folder(parent)) return false;
        if (!::CreateDirectoryW(Unlimited(path).c_str(), nullptr)) return false;
        m_created.push_back({path, true});
        return true;
    }

    // A copy of `source` at `target`, with a side file when `behaviour` is not
    // empty. The stand-in's side file and log go away with it.
    bool Copy(const std::wstring& source, const std::wstring& target,
              const std::wstring& behaviour = L"") {
        if (!Folder(FolderOf(target))) return false;
        Remember(target + L".log");
        Remember(target + L".behaviour");
        Remember(target);
        // A log left by an earlier, interrupted run would read as a start.
        ::DeleteFileW(Unlimited(target + L".log").c_str());
        if (!::CopyFileW(Unlimited(source).c_str(), Unlimited(target).c_str(), FALSE)) return false;
        return behaviour.empty() || WriteText(target + L".behaviour", behaviour);
    }

    // A stand-in program (StandInInstaller.exe or StandInLauncher.exe) at `target`.
    bool StandIn(const wchar_t* program, const std::wstring& target, const std::wstring& behaviour) {
        return Copy(OwnFolder() + L"\\" + program, target, behaviour);
    }

    bool File(const std::wstring& target, const std::wstring& text) {
        if (!Folder(FolderOf(target))) return false;
        Remember(target);
        return WriteText(target, text);
    }

    // A file the test does not write itself but that appears in the course of
    // the test (a result file, a log), removed with the rest.
    void Remember(const std::wstring& file) { m_created.push_back({file, false}); }

    void Clear() {
        for (auto it = m_created.rbegin(); it != m_created.rend(); ++it) {
            const std::wstring path = Unlimited(it->path);
            if (it->folder) {
                ::RemoveDirectoryW(path.c_str());
            } else {
                // A program that has just ended may still be held for a moment.
                for (int attempt = 0; attempt < 50 && !::DeleteFileW(path.c_str()) &&
                                      ::GetLastError() != ERROR_FILE_NOT_FOUND &&
                                      ::GetLastError() != ERROR_PATH_NOT_FOUND;
                     ++attempt) {
                    ::Sleep(20);
                }
            }
        }
        m_created.clear();
    }

private:
    struct Entry {
        std::wstring path;
        bool folder;
    };
    std::vector<Entry> m_created;
};

}  // namespace staged
