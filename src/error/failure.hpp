#pragma once
// Operations that go through the key cache can meet, besides a RegistryError,
// an unexpected internal failure (the cache was poisoned by an earlier fault).
// Such a failure is not a RegistryError: the binding layer raises it as
// RuntimeError or PanicException instead of OSError/ValueError.

#include <string>
#include <variant>

#include "error/registry_error.hpp"

namespace orvane::error {

struct InternalFailure {
    std::string text;
};

class Failure {
public:
    Failure(RegistryError error) : kind_(std::move(error)) {}
    Failure(InternalFailure failure) : kind_(std::move(failure)) {}

    const RegistryError* registry_error() const noexcept { return std::get_if<RegistryError>(&kind_); }
    const InternalFailure* internal_failure() const noexcept { return std::get_if<InternalFailure>(&kind_); }

private:
    std::variant<RegistryError, InternalFailure> kind_;
};

}  // namespace orvane::error

namespace orvane {
template <class T>
using Checked = error::Expected<T, error::Failure>;
}  // namespace orvane
