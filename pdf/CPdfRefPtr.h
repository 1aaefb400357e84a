#pragma once

#include <utility>

// Holds one reference to a reference-counted value (stream, array, dictionary)
// and drops it when it goes out of scope, also when an exception passes.
template <class T>
class CPdfRefPtr {
public:
    CPdfRefPtr() = default;
    // Takes over a reference the caller already owns (a new object's count of 1).
    static CPdfRefPtr adopt(T* value) { return CPdfRefPtr(value); }
    // Adds a reference of its own.
    static CPdfRefPtr share(T* value)
    {
        if (value)
            value->addRef();
        return CPdfRefPtr(value);
    }

    CPdfRefPtr(const CPdfRefPtr&) = delete;
    CPdfRefPtr& operator=(const CPdfRefPtr&) = delete;
    CPdfRefPtr(CPdfRefPtr&& other) noexcept : m_value(std::exchange(other.m_value, nullptr)) {}
    CPdfRefPtr& operator=(CPdfRefPtr&& other) noexcept
    {
        if (this != &other) {
            reset();
            m_value = std::exchange(other.m_value, nullptr);
        }
        return *this;
    }
    ~CPdfRefPtr() { reset(); }

    T* get() const { return m_value; }
    T* operator->() const { return m_value; }
    explicit operator bool() const { return m_value != nullptr; }

    // Hands the reference to the caller, who must release it.
    T* detach() { return std::exchange(m_value, nullptr); }
    void reset()
    {
        if (m_value)
            std::exchange(m_value, nullptr)->release();
    }

private:
    explicit CPdfRefPtr(T* value) : m_value(value) {}
    T* m_value = nullptr;
};
