#pragma once
#include <windows.h>
#include <utility>

namespace platform {

// Owns one kernel handle (process, thread, token) and closes it exactly once.
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) : m_handle(handle) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept : m_handle(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    HANDLE get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE; }
    HANDLE release() { return std::exchange(m_handle, nullptr); }
    void reset(HANDLE handle = nullptr) {
        HANDLE old = std::exchange(m_handle, handle);
        if (old != nullptr && old != INVALID_HANDLE_VALUE) ::CloseHandle(old);
    }

private:
    HANDLE m_handle = nullptr;
};

}  // namespace platform
