// One visitor made of several lambdas, one for each kind of control a
// std::visit over the control table meets.
#pragma once

namespace velkor::ui {

template <class... Ts>
struct Overloaded : Ts... {
  using Ts::operator()...;
};
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

}  // namespace velkor::ui
