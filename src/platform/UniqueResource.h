#pragma once
#include <windows.h>
#include <utility>

namespace platform {

// Owns one Windows resource (a kernel handle, a registry key, a SID, a
// module) and gives it back exactly once, through `Release`. Move-only. An
// empty owner holds the null value; INVALID_HANDLE_VALUE, which some calls
// answer instead of null, counts as empty too.
template <typename T, auto Release>
class UniqueResource {
public:
    UniqueResource() = default;
    explicit UniqueResource(T value) : m_value(value) {}
    ~UniqueResource() { reset(); }
    UniqueResource(UniqueResource&& other) noexcept : m_value(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;

    T get() const { return m_value; }
    explicit operator bool() const { return Held(m_value); }
    // Hands the resource over to the caller, who then gives it back.
    T release() { return std::exchange(m_value, T{}); }
    void reset(T value = T{}) {
        const T old = std::exchange(m_value, value);
        if (Held(old)) Release(old);
    }
    // Receives a resource from a call that writes it out; any held is given
    // back first.
    T* put() {
        reset();
        return &m_value;
    }

private:
    static bool Held(T value) { return value != T{} && value != reinterpret_cast<T>(INVALID_HANDLE_VALUE); }

    T m_value{};
};

using UniqueHandle = UniqueResource<HANDLE, &::CloseHandle>;  // process, thread, token, mutex, file
using RegKey = UniqueResource<HKEY, &::RegCloseKey>;
using UniqueSid = UniqueResource<PSID, &::FreeSid>;           // from AllocateAndInitializeSid
using UniqueModule = UniqueResource<HMODULE, &::FreeLibrary>;

}  // namespace platform
