#pragma once

#include <optional>
#include <string>
#include <utility>

namespace zrx {

// Why something could not be done, in the words a message shows the user.
struct Failure {
    std::string why;
};

// What a routine that can fail gives back: done, or a failure that says why. The core's one way
// of saying a failure (see STYLE.md): `return Failure{"... cannot be read"};`, `return {};`.
class [[nodiscard]] Outcome {
public:
    Outcome() = default;
    Outcome(Failure failure) : m_failed(true), m_why(std::move(failure.why)) {}  // NOLINT: implicit by design

    explicit operator bool() const { return !m_failed; }
    bool Failed() const { return m_failed; }
    const std::string& Why() const { return m_why; }

private:
    bool m_failed = false;
    std::string m_why;
};

// A value, or why there is none.
template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : m_value(std::move(value)) {}                  // NOLINT: implicit by design
    Result(Failure failure) : m_why(std::move(failure.why)) {}      // NOLINT: implicit by design

    explicit operator bool() const { return m_value.has_value(); }
    bool Failed() const { return !m_value.has_value(); }
    const std::string& Why() const { return m_why; }
    T& operator*() { return *m_value; }
    const T& operator*() const { return *m_value; }
    T* operator->() { return &*m_value; }
    const T* operator->() const { return &*m_value; }
    // The value, or `fallback` when there is none.
    T value_or(T fallback) const& { return m_value ? *m_value : std::move(fallback); }
    // The outcome without the value.
    Outcome AsOutcome() const { return m_value ? Outcome() : Outcome(Failure{m_why}); }

private:
    std::optional<T> m_value;
    std::string m_why;
};

}  // namespace zrx
