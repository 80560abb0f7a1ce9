// Move-only owners for Win32 handles, one per close function.
#pragma once

#include "base/win.h"

#include <winhttp.h>

namespace mw {

// Owner of a value that one close function releases. reset() keeps GetLastError intact,
// so an owner may be reset between a failing call and reading its error code.
template <typename T, typename Traits>
class UniqueResource {
public:
    UniqueResource() = default;
    explicit UniqueResource(T value) : value_(value) {}
    ~UniqueResource() { reset(); }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    bool valid() const { return Traits::IsValid(value_); }
    explicit operator bool() const { return valid(); }
    T get() const { return value_; }
    T* put() {
        reset();
        return &value_;
    }
    T release() {
        T value = value_;
        value_ = Traits::Empty();
        return value;
    }
    void reset(T value = Traits::Empty()) {
        if (Traits::IsValid(value_)) {
            DWORD err = GetLastError();
            Traits::Close(value_);
            SetLastError(err);
        }
        value_ = value;
    }

private:
    T value_ = Traits::Empty();
};

struct KernelHandleTraits {
    static HANDLE Empty() { return nullptr; }
    static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { CloseHandle(h); }
};

struct RegKeyTraits {
    static HKEY Empty() { return nullptr; }
    static bool IsValid(HKEY h) { return h != nullptr; }
    static void Close(HKEY h) { RegCloseKey(h); }
};

struct ScHandleTraits {
    static SC_HANDLE Empty() { return nullptr; }
    static bool IsValid(SC_HANDLE h) { return h != nullptr; }
    static void Close(SC_HANDLE h) { CloseServiceHandle(h); }
};

struct InternetHandleTraits {
    static HINTERNET Empty() { return nullptr; }
    static bool IsValid(HINTERNET h) { return h != nullptr; }
    static void Close(HINTERNET h) { WinHttpCloseHandle(h); }
};

struct FindHandleTraits {
    static HANDLE Empty() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { FindClose(h); }
};

struct LocalMemoryTraits {
    static HLOCAL Empty() { return nullptr; }
    static bool IsValid(HLOCAL h) { return h != nullptr; }
    static void Close(HLOCAL h) { LocalFree(h); }
};

struct MappedViewTraits {
    static void* Empty() { return nullptr; }
    static bool IsValid(void* view) { return view != nullptr; }
    static void Close(void* view) { UnmapViewOfFile(view); }
};

struct EventSourceTraits {
    static HANDLE Empty() { return nullptr; }
    static bool IsValid(HANDLE h) { return h != nullptr; }
    static void Close(HANDLE h) { DeregisterEventSource(h); }
};

struct ModuleTraits {
    static HMODULE Empty() { return nullptr; }
    static bool IsValid(HMODULE h) { return h != nullptr; }
    static void Close(HMODULE h) { FreeLibrary(h); }
};

// CreateFileW returns INVALID_HANDLE_VALUE, most other kernel calls return NULL; both are empty.
using UniqueHandle = UniqueResource<HANDLE, KernelHandleTraits>;
using UniqueRegKey = UniqueResource<HKEY, RegKeyTraits>;
using UniqueScHandle = UniqueResource<SC_HANDLE, ScHandleTraits>;
using UniqueInternet = UniqueResource<HINTERNET, InternetHandleTraits>;
using UniqueFind = UniqueResource<HANDLE, FindHandleTraits>;
// Memory the system allocated for the caller (security descriptors, SDDL strings).
using UniqueLocalMemory = UniqueResource<HLOCAL, LocalMemoryTraits>;
using UniqueMappedView = UniqueResource<void*, MappedViewTraits>;
using UniqueEventSource = UniqueResource<HANDLE, EventSourceTraits>;
using UniqueModule = UniqueResource<HMODULE, ModuleTraits>;

}  // namespace mw
