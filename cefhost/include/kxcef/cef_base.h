// Reference counting, strings and list values of the browser host's API.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "kxcef/export.h"

// Wide text, as the engine's API hands it out.
using CefString = std::wstring;

// Base of every reference-counted object of the API.
class KXCEF2_API CefBaseRefCounted {
public:
    virtual void AddRef() const = 0;
    virtual bool Release() const = 0;  // true when this call deleted the object
    virtual bool HasOneRef() const = 0;

protected:
    virtual ~CefBaseRefCounted() = default;
};

// The shared reference count of a class; objects delete themselves at zero.
class CefRefCount {
public:
    void AddRef() const { count_.fetch_add(1, std::memory_order_relaxed); }
    bool Release() const { return count_.fetch_sub(1, std::memory_order_acq_rel) == 1; }
    bool HasOneRef() const { return count_.load(std::memory_order_acquire) == 1; }

private:
    mutable std::atomic<int> count_{0};
};

#define KXCEF_IMPLEMENT_REFCOUNTING(ClassName)                                  \
public:                                                                        \
    void AddRef() const override { ref_count_.AddRef(); }                      \
    bool Release() const override {                                            \
        if (ref_count_.Release()) {                                            \
            delete static_cast<const ClassName*>(this);                        \
            return true;                                                       \
        }                                                                      \
        return false;                                                          \
    }                                                                          \
    bool HasOneRef() const override { return ref_count_.HasOneRef(); }        \
                                                                               \
private:                                                                       \
    CefRefCount ref_count_

// Counted reference to a CefBaseRefCounted object.
template <class T>
class CefRefPtr {
public:
    CefRefPtr() = default;
    CefRefPtr(std::nullptr_t) {}
    CefRefPtr(T* p) : ptr_(p) {
        if (ptr_) ptr_->AddRef();
    }
    CefRefPtr(const CefRefPtr& r) : CefRefPtr(r.ptr_) {}
    template <class U>
    CefRefPtr(const CefRefPtr<U>& r) : CefRefPtr(r.get()) {}
    CefRefPtr(CefRefPtr&& r) noexcept : ptr_(std::exchange(r.ptr_, nullptr)) {}
    ~CefRefPtr() {
        if (ptr_) ptr_->Release();
    }
    CefRefPtr& operator=(CefRefPtr r) noexcept {
        std::swap(ptr_, r.ptr_);
        return *this;
    }
    T* get() const { return ptr_; }
    T* operator->() const { return ptr_; }
    T& operator*() const { return *ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }
    bool operator==(const CefRefPtr& r) const { return ptr_ == r.ptr_; }
    bool operator!=(const CefRefPtr& r) const { return ptr_ != r.ptr_; }
    bool operator==(std::nullptr_t) const { return ptr_ == nullptr; }
    bool operator!=(std::nullptr_t) const { return ptr_ != nullptr; }
    bool operator==(const T* p) const { return ptr_ == p; }
    bool operator!=(const T* p) const { return ptr_ != p; }

private:
    T* ptr_ = nullptr;
};

enum CefValueType {
    VTYPE_INVALID = 0,
    VTYPE_NULL,
    VTYPE_BOOL,
    VTYPE_INT,
    VTYPE_DOUBLE,
    VTYPE_STRING,
    VTYPE_BINARY,
    VTYPE_DICTIONARY,
    VTYPE_LIST,
};

// An ordered list of values: the argument list of a bridge process message.
// Setting an index past the end grows the list; the new entries read as null.
class KXCEF2_API CefListValue : public CefBaseRefCounted {
public:
    static CefRefPtr<CefListValue> Create();

    size_t GetSize() const;
    bool SetSize(size_t size);
    void Clear();
    CefValueType GetType(size_t index) const;  // VTYPE_INVALID past the end

    bool GetBool(size_t index) const;
    int GetInt(size_t index) const;       // 0 unless the entry is an int (a double is truncated)
    double GetDouble(size_t index) const; // an int entry reads as its value
    CefString GetString(size_t index) const;
    CefRefPtr<CefListValue> GetList(size_t index) const;

    bool SetNull(size_t index);
    bool SetBool(size_t index, bool value);
    bool SetInt(size_t index, int value);
    bool SetDouble(size_t index, double value);
    bool SetString(size_t index, const CefString& value);
    bool SetList(size_t index, CefRefPtr<CefListValue> value);

    // UTF-8 form of a string entry without a round trip through wide text.
    std::string GetStringUtf8(size_t index) const;
    bool SetStringUtf8(size_t index, const std::string& value);
    // The same without copying the text: the entry's own text (null when the
    // entry is no string), and a setter that keeps valid text as it is.
    const std::string* StringUtf8(size_t index) const;
    bool SetStringUtf8(size_t index, std::string&& value);

private:
    CefListValue();
    ~CefListValue() override;
    struct Entry;
    std::vector<Entry> entries_;
    KXCEF_IMPLEMENT_REFCOUNTING(CefListValue);
};
