#pragma once

namespace orvane::base {

// Builds one visitor for std::visit out of several lambdas.
template <class... Fs>
struct Overloaded : Fs... {
    using Fs::operator()...;
};
template <class... Fs>
Overloaded(Fs...) -> Overloaded<Fs...>;

}  // namespace orvane::base
