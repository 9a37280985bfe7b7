#pragma once
#include <windows.h>
#include <initializer_list>
#include <string>
#include <string_view>

#include "platform/UniqueHandle.h"

namespace platform {

// The run's log: UTF-8 lines, each stamped with the UTC time and handed to
// the file system at once, so whatever ends the process (a crash, a kill, a
// restart) finds every earlier line in the file. A log that is not open
// takes every line and writes nothing: the run never depends on it.
class Log {
public:
    Log() = default;
    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;

    // Appends to `path`, creating the file when it does not exist.
    bool OpenForAppend(const std::wstring& path);
    // Creates `path`; fails when the file exists already.
    bool OpenNew(const std::wstring& path);

    bool IsOpen() const { return static_cast<bool>(m_file); }
    const std::wstring& Path() const { return m_path; }

    // One line, made of these pieces. Safe from the worker and the main
    // thread alike: each line is a single append.
    void Write(std::initializer_list<std::wstring_view> pieces) const;

private:
    bool Open(const std::wstring& path, DWORD disposition);

    UniqueHandle m_file;
    std::wstring m_path;
};

// A log that writes nothing, for callers that keep none.
const Log& NoLog();

// "1603 (0x00000643)": how the log shows codes, so they can be looked up either way.
std::wstring CodeText(DWORD code);
std::wstring Decimal(unsigned long long value);
// Upper-case hex digits, at least `digits` of them, without "0x".
std::wstring Hex(DWORD value, int digits);

}  // namespace platform
