#pragma once

// The Win32 layer's owned handles: one type per kind, each closed exactly once
// on every path, in the manner of WIL's unique_any. Included only by the Win32
// layer (platform/win32/).

#include <windows.h>

#include "platform/win32/status_codes.h"

#include <cstdint>
#include <string>

template <typename Handle, auto close, intptr_t invalid_value = 0>
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(Handle handle) : handle_(handle) {}
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }

    static Handle invalid() { return (Handle)invalid_value; }  // NULL or INVALID_HANDLE_VALUE
    explicit operator bool() const { return handle_ != invalid(); }
    Handle get() const { return handle_; }
    // For out-parameters: closes what is held, then lends the slot.
    Handle* put() {
        reset();
        return &handle_;
    }
    Handle release() {
        Handle held = handle_;
        handle_ = invalid();
        return held;
    }
    void reset(Handle handle = invalid()) {
        if (handle_ != invalid()) close(handle_);
        handle_ = handle;
    }

private:
    Handle handle_ = invalid();
};

inline void free_local(void* memory) { LocalFree(memory); }

using unique_hkey = UniqueHandle<HKEY, RegCloseKey>;
using unique_hfind = UniqueHandle<HANDLE, FindClose, -1>;
using unique_argv = UniqueHandle<wchar_t**, free_local>;     // CommandLineToArgvW's list
using unique_handle = UniqueHandle<HANDLE, CloseHandle>;     // processes, threads, pipes
using unique_hfile = UniqueHandle<HANDLE, CloseHandle, -1>;  // CreateFileW

// Win32 strings are the portable String's units as wchar_t (16 bits here).
static_assert(sizeof(wchar_t) == sizeof(char16_t), "the Win32 layer needs 16-bit wchar_t");
inline const wchar_t* wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }
inline std::u16string from_wide(const wchar_t* text) { return std::u16string(reinterpret_cast<const char16_t*>(text)); }
inline std::u16string from_wide(const wchar_t* text, size_t length) {
    return std::u16string(reinterpret_cast<const char16_t*>(text), length);
}
