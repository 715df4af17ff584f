// Move-only owners for Windows handles, COM pointers and clean-up actions.
// Every file of both programs uses these instead of hand-written close calls,
// so that each early return releases what was acquired.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <utility>

namespace qv {

// Owns one handle; Traits says which value is invalid and how to close it.
// Closing keeps the thread's last error, so a caller can still read the
// error of the call that failed before the handle went out of scope.
template <typename Traits>
class UniqueHandle {
public:
    using Value = typename Traits::Value;

    UniqueHandle() noexcept : value_(Traits::invalid()) {}
    explicit UniqueHandle(Value value) noexcept : value_(value) {}
    ~UniqueHandle() { reset(); }

    UniqueHandle(UniqueHandle&& other) noexcept : value_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    Value get() const noexcept { return value_; }
    bool valid() const noexcept { return value_ != Traits::invalid(); }
    explicit operator bool() const noexcept { return valid(); }

    // Gives up ownership without closing.
    Value release() noexcept { return std::exchange(value_, Traits::invalid()); }

    // Closes the current value (if any) and takes ownership of the new one.
    void reset(Value value = Traits::invalid()) noexcept {
        if (valid()) {
            DWORD lastError = GetLastError();
            Traits::close(value_);
            SetLastError(lastError);
        }
        value_ = value;
    }

    // For APIs that return a handle through an out-parameter.
    Value* put() noexcept {
        reset();
        return &value_;
    }

private:
    Value value_;
};

struct FileHandleTraits {
    using Value = HANDLE;
    static Value invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(Value value) noexcept { CloseHandle(value); }
};

struct KernelHandleTraits {
    using Value = HANDLE;
    static Value invalid() noexcept { return nullptr; }
    static void close(Value value) noexcept { CloseHandle(value); }
};

struct FindHandleTraits {
    using Value = HANDLE;
    static Value invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(Value value) noexcept { FindClose(value); }
};

struct RegKeyTraits {
    using Value = HKEY;
    static Value invalid() noexcept { return nullptr; }
    static void close(Value value) noexcept { RegCloseKey(value); }
};

struct LocalMemoryTraits {
    using Value = HLOCAL;
    static Value invalid() noexcept { return nullptr; }
    static void close(Value value) noexcept { LocalFree(value); }
};

struct ModuleTraits {
    using Value = HMODULE;
    static Value invalid() noexcept { return nullptr; }
    static void close(Value value) noexcept { FreeLibrary(value); }
};

struct GdiObjectTraits {
    using Value = HGDIOBJ;
    static Value invalid() noexcept { return nullptr; }
    static void close(Value value) noexcept { DeleteObject(value); }
};

struct MemoryDcTraits {
    using Value = HDC;
    static Value invalid() noexcept { return nullptr; }
    static void close(Value value) noexcept { DeleteDC(value); }
};

struct MappedViewTraits {
    using Value = void*;
    static Value invalid() noexcept { return nullptr; }
    static void close(Value value) noexcept { UnmapViewOfFile(value); }
};

// File handles from CreateFileW (INVALID_HANDLE_VALUE is invalid).
using FileHandle = UniqueHandle<FileHandleTraits>;
// Processes, threads, events, mappings (NULL is invalid).
using KernelHandle = UniqueHandle<KernelHandleTraits>;
// FindFirstFileExW listings.
using FindHandle = UniqueHandle<FindHandleTraits>;
using RegKey = UniqueHandle<RegKeyTraits>;
using LocalMemory = UniqueHandle<LocalMemoryTraits>;
using LoadedModule = UniqueHandle<ModuleTraits>;
using GdiObject = UniqueHandle<GdiObjectTraits>;
// Views from MapViewOfFile.
using MappedView = UniqueHandle<MappedViewTraits>;
// Device contexts from CreateCompatibleDC.
using MemoryDc = UniqueHandle<MemoryDcTraits>;

// Owns one reference to a COM interface.
template <typename T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ~ComPtr() { reset(); }
    ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            reset();
            ptr_ = std::exchange(other.ptr_, nullptr);
        }
        return *this;
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;

    T* get() const noexcept { return ptr_; }
    T* operator->() const noexcept { return ptr_; }
    explicit operator bool() const noexcept { return ptr_ != nullptr; }

    void reset() noexcept {
        if (ptr_) std::exchange(ptr_, nullptr)->Release();
    }
    // For CoCreateInstance and friends: releases the current pointer first.
    T** put() noexcept {
        reset();
        return &ptr_;
    }
    void** putVoid() noexcept { return reinterpret_cast<void**>(put()); }

    // QueryInterface into another ComPtr; returns the HRESULT.
    template <typename U>
    HRESULT as(ComPtr<U>& out) const noexcept {
        if (!ptr_) return E_POINTER;
        return ptr_->QueryInterface(__uuidof(U), out.putVoid());
    }

private:
    T* ptr_ = nullptr;
};

// Initialises COM for the current thread for the scope's lifetime; the
// CoUninitialize only happens when the initialisation succeeded.
class ComApartment {
public:
    explicit ComApartment(DWORD model = COINIT_APARTMENTTHREADED) noexcept
        : result_(CoInitializeEx(nullptr, model)) {}
    ~ComApartment() {
        if (SUCCEEDED(result_)) CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

    HRESULT result() const noexcept { return result_; }

private:
    HRESULT result_;
};

// Runs an action at scope exit unless dismissed.
template <typename F>
class ScopeGuard {
public:
    explicit ScopeGuard(F action) noexcept : action_(std::move(action)) {}
    ~ScopeGuard() {
        if (active_) action_();
    }
    ScopeGuard(const ScopeGuard&) = delete;
    ScopeGuard& operator=(const ScopeGuard&) = delete;

    void dismiss() noexcept { active_ = false; }

private:
    F action_;
    bool active_ = true;
};

// A lock guard for an SRW lock held exclusively.
class ExclusiveLock {
public:
    explicit ExclusiveLock(SRWLOCK& lock) noexcept : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
    ~ExclusiveLock() { ReleaseSRWLockExclusive(&lock_); }
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;

private:
    SRWLOCK& lock_;
};

}  // namespace qv
