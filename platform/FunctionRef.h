#pragma once
// A non-owning reference to a callable, for calls that run before the caller returns (a
// synchronised call, a wait condition). Unlike std::function it never allocates, which
// matters on the path every captured frame takes. The callable must outlive the reference;
// a temporary lambda passed as an argument lives until the call it is passed to returns.
#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

namespace platform {

template <class Signature>
class FunctionRef;

template <class R, class... Args>
class FunctionRef<R(Args...)> {
 public:
  template <class F>
    requires(!std::is_same_v<std::remove_cvref_t<F>, FunctionRef> &&
             std::is_invocable_r_v<R, F&, Args...>)
  FunctionRef(F&& f) noexcept
      : object_(const_cast<void*>(static_cast<const void*>(std::addressof(f)))),
        invoke_([](void* object, Args... args) -> R {
          return std::invoke(*static_cast<std::remove_reference_t<F>*>(object),
                             std::forward<Args>(args)...);
        }) {}

  R operator()(Args... args) const { return invoke_(object_, std::forward<Args>(args)...); }

 private:
  void* object_;
  R (*invoke_)(void*, Args...);
};

}  // namespace platform
