#include "HostCpu.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>

namespace {

std::string ReadSmallFile(const std::wstring& path) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string text(4096, '\0');
    DWORD read = 0;
    ::ReadFile(file, text.data(), static_cast<DWORD>(text.size()), &read, nullptr);
    ::CloseHandle(file);
    text.resize(read);
    return text;
}

// The first field of a schedstat file: nanoseconds spent on a processor.
double SchedstatSeconds(const std::wstring& path) {
    unsigned long long nanoseconds = 0;
    if (std::sscanf(ReadSmallFile(path).c_str(), "%llu", &nanoseconds) != 1) return -1;
    return static_cast<double>(nanoseconds) / 1e9;
}

template <typename Visit>
void ForEachEntry(const std::wstring& folder, Visit visit) {
    WIN32_FIND_DATAW entry;
    HANDLE search = ::FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (entry.cFileName[0] >= L'0' && entry.cFileName[0] <= L'9' && !visit(entry.cFileName)) break;
    } while (::FindNextFileW(search, &entry));
    ::FindClose(search);
}

}  // namespace

unsigned long HostProcessId(const std::wstring& program) {
    std::string wanted(program.size(), '\0');
    std::transform(program.begin(), program.end(), wanted.begin(), [](wchar_t c) { return char(c); });
    unsigned long found = 0;
    ForEachEntry(L"Z:\\proc", [&](const wchar_t* name) {
        const std::string commandLine = ReadSmallFile(std::wstring(L"Z:\\proc\\") + name + L"\\cmdline");
        if (commandLine.find(wanted) == std::string::npos) return true;
        found = wcstoul(name, nullptr, 10);
        return false;
    });
    return found;
}

double HostProcessCpuSeconds(unsigned long hostId) {
    const std::wstring tasks = L"Z:\\proc\\" + std::to_wstring(hostId) + L"\\task";
    double seconds = 0;
    int threads = 0;
    ForEachEntry(tasks, [&](const wchar_t* name) {
        const double thread = SchedstatSeconds(tasks + L"\\" + name + L"\\schedstat");
        if (thread >= 0) {
            seconds += thread;
            ++threads;
        }
        return true;
    });
    return threads > 0 ? seconds : -1;
}

double HostThreadCpuSeconds() {
    // The file is opened by the calling thread, so the host's "thread-self"
    // is this Windows thread.
    return SchedstatSeconds(L"Z:\\proc\\thread-self\\schedstat");
}
