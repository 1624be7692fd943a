/* What the C++20 sources use of the standard library and Debian's emscripten
 * (3.1.6, whose libc++ is version 13) lacks, given to every C++ file of the
 * WebAssembly build with -include. Threads never start in that build (one
 * per worker), so jthread only needs to join as std::jthread does. */
#pragma once
#if defined(__cplusplus) && defined(__EMSCRIPTEN__)
#include <__config>
#if _LIBCPP_VERSION < 14000
#include <memory>
#include <thread>
#include <type_traits>
#include <utility>

namespace std {

template <class To, class From>
    requires(sizeof(To) == sizeof(From) && is_trivially_copyable_v<To> && is_trivially_copyable_v<From>)
constexpr To bit_cast(const From& from) noexcept
{
    return __builtin_bit_cast(To, from);
}

template <class T>
    requires is_unbounded_array_v<T>
unique_ptr<T> make_unique_for_overwrite(size_t n)
{
    return unique_ptr<T>(new remove_extent_t<T>[n]);
}

template <class T>
    requires(!is_array_v<T>)
unique_ptr<T> make_unique_for_overwrite()
{
    return unique_ptr<T>(new T);
}

class jthread {
public:
    jthread() noexcept = default;
    template <class F, class... Args>
    explicit jthread(F&& f, Args&&... args) : t_(std::forward<F>(f), std::forward<Args>(args)...) {}
    jthread(jthread&&) noexcept = default;
    jthread& operator=(jthread&& o) noexcept
    {
        if (t_.joinable())
            t_.join();
        t_ = std::move(o.t_);
        return *this;
    }
    ~jthread()
    {
        if (t_.joinable())
            t_.join();
    }
    bool joinable() const noexcept { return t_.joinable(); }
    void join() { t_.join(); }

private:
    thread t_;
};

} // namespace std
#endif
#endif
