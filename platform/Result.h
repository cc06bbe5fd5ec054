#pragma once

#include "platform/Error.h"

#include <utility>
#include <variant>

namespace platform {

// A value or the error that kept it from being made.
template <typename T>
class Result
{
public:
    Result(T value) : m_state(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : m_state(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return m_state.index() == 0; }
    explicit operator bool() const { return ok(); }

    // Only when ok().
    const T &value() const & { return std::get<0>(m_state); }
    T &value() & { return std::get<0>(m_state); }
    T value() && { return std::get<0>(std::move(m_state)); }

    // The value, or `fallback` when there is none.
    T valueOr(T fallback) const & { return ok() ? value() : std::move(fallback); }
    T valueOr(T fallback) && { return ok() ? std::get<0>(std::move(m_state)) : std::move(fallback); }

    // A null error when ok().
    Error error() const { return ok() ? Error{} : std::get<1>(m_state); }

private:
    std::variant<T, Error> m_state;
};

} // namespace platform
