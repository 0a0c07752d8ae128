// Owners for platform handles. Close() is idempotent and the destructor calls it.
#pragma once

#include <windows.h>

template <typename Traits>
class ScopedHandle {
  public:
    using Handle = typename Traits::Handle;

    ScopedHandle() : handle_(Traits::Invalid()) {}
    explicit ScopedHandle(Handle h) : handle_(h) {}
    ~ScopedHandle() { Close(); }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.Release()) {}
    ScopedHandle& operator=(ScopedHandle&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }

    Handle Get() const { return handle_; }
    bool Valid() const { return handle_ != Traits::Invalid(); }
    explicit operator bool() const { return Valid(); }

    void Reset(Handle h) {
        Close();
        handle_ = h;
    }
    Handle Release() {
        Handle h = handle_;
        handle_ = Traits::Invalid();
        return h;
    }
    void Close() {
        if (Valid()) {
            Traits::Close(handle_);
            handle_ = Traits::Invalid();
        }
    }

  private:
    Handle handle_;
};

struct KernelHandleTraits {  // handles whose "none" is null: threads, mutexes
    using Handle = HANDLE;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { ::CloseHandle(h); }
};

struct FileHandleTraits {  // CreateFileW reports failure as INVALID_HANDLE_VALUE
    using Handle = HANDLE;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Handle h) { ::CloseHandle(h); }
};

struct FindHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Handle h) { ::FindClose(h); }
};

struct ModuleHandleTraits {
    using Handle = HMODULE;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { ::FreeLibrary(h); }
};

using ScopedKernelHandle = ScopedHandle<KernelHandleTraits>;
using ScopedFile = ScopedHandle<FileHandleTraits>;
using ScopedFind = ScopedHandle<FindHandleTraits>;
using ScopedModule = ScopedHandle<ModuleHandleTraits>;
