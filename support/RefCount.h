#pragma once
// Handle and representation: cheap handles (CRefCount) that share one
// reference-counted representation (derived from CRefCountRep). The
// counting policy decides whether the count is thread-safe; the handles of
// this system live on one thread and use CRefCounterNonMT.
#include <atomic>
#include <utility>

class CRefCountRep {
public:
    CRefCountRep() = default;
    CRefCountRep(const CRefCountRep&) = delete;
    CRefCountRep& operator=(const CRefCountRep&) = delete;
    virtual ~CRefCountRep() = default;

    long m_nRefs = 1;  // a new representation belongs to the handle that made it
};

// Plain, not thread-safe counting.
struct CRefCounterNonMT {
    static long Increment(long& n) { return ++n; }
    static long Decrement(long& n) { return --n; }
};

// Thread-safe counting for representations shared across threads.
struct CRefCounterMT {
    static long Increment(long& n) { return std::atomic_ref<long>(n).fetch_add(1) + 1; }
    static long Decrement(long& n) { return std::atomic_ref<long>(n).fetch_sub(1) - 1; }
};

template <class Rep, class Counter = CRefCounterNonMT>
class CRefCount {
public:
    CRefCount() = default;
    // Takes over a new representation (count 1) without adding a reference.
    explicit CRefCount(Rep* rep) : m_rep(rep) {}
    CRefCount(const CRefCount& other) : m_rep(other.m_rep) {
        if (m_rep)
            Counter::Increment(m_rep->m_nRefs);
    }
    CRefCount(CRefCount&& other) noexcept : m_rep(std::exchange(other.m_rep, nullptr)) {}
    ~CRefCount() { Release(); }

    CRefCount& operator=(const CRefCount& other) {
        CRefCount tmp(other);
        std::swap(m_rep, tmp.m_rep);
        return *this;
    }
    CRefCount& operator=(CRefCount&& other) noexcept {
        if (this != &other) {
            Release();
            m_rep = std::exchange(other.m_rep, nullptr);
        }
        return *this;
    }

    Rep* GetRep() const { return m_rep; }
    Rep* operator->() const { return m_rep; }
    Rep& operator*() const { return *m_rep; }
    explicit operator bool() const { return m_rep != nullptr; }
    long GetRefCount() const { return m_rep ? m_rep->m_nRefs : 0; }

    // Drops this handle's share; the last share destroys the representation.
    void Release() {
        if (Rep* rep = std::exchange(m_rep, nullptr)) {
            if (Counter::Decrement(rep->m_nRefs) == 0)
                delete rep;
        }
    }
    // Takes over a new representation, dropping the old one.
    void Reset(Rep* rep = nullptr) {
        Release();
        m_rep = rep;
    }

private:
    Rep* m_rep = nullptr;
};
