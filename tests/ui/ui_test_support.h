// Test support for the headless dialog layer: a UI thread that runs the
// backend's message loop, and a way to run dialog code on it.
#pragma once

#include <future>
#include <memory>
#include <optional>
#include <thread>
#include <type_traits>

#include "tests/headless_ui/headless_backend.h"
#include "tests/headless_ui/headless_platform.h"
#include "tests/headless_ui/headless_user.h"

namespace talvo::testing {

// Runs the backend's outer loop on its own thread for the life of the
// object and installs the backend for the dialogs, with a headless platform
// (locale, named mutexes, resources; see Platform). The test thread acts as
// the user.
class UiThread {
  public:
    explicit UiThread(HeadlessBackend& backend)
        : backend_(backend),
          scoped_(backend),
          scopedPlatform_(platform_),
          thread_([this] { code_ = backend_.RunMessageLoop(); }) {
        // Wait until the loop runs, so Invoke has a UI thread to go to.
        backend_.WaitIdle();
    }
    ~UiThread() {
        if (thread_.joinable()) {
            backend_.PostQuit(0);
            thread_.join();
        }
    }
    UiThread(const UiThread&) = delete;
    UiThread& operator=(const UiThread&) = delete;

    // Starts `f` on the UI thread and returns at once.
    template <class F>
    auto Async(F f) -> std::future<std::invoke_result_t<F>> {
        using R = std::invoke_result_t<F>;
        auto promise = std::make_shared<std::promise<R>>();
        auto future = promise->get_future();
        backend_.PostTask([promise, f]() mutable {
            if constexpr (std::is_void_v<R>) {
                f();
                promise->set_value();
            } else {
                promise->set_value(f());
            }
        });
        return future;
    }

    // Runs `f` on the UI thread and returns its result.
    template <class F>
    auto Call(F f) -> std::invoke_result_t<F> {
        using R = std::invoke_result_t<F>;
        if constexpr (std::is_void_v<R>) {
            backend_.Invoke([&] { f(); });
        } else {
            std::optional<R> r;
            backend_.Invoke([&] { r.emplace(f()); });
            return std::move(*r);
        }
    }

    // The locale, named mutexes and resources the dialogs see.
    HeadlessPlatform& Platform() { return platform_; }

    // Waits for the outer loop to end and returns the quit code.
    int Join() {
        thread_.join();
        return code_;
    }

  private:
    HeadlessBackend& backend_;
    ScopedUiBackend scoped_;
    HeadlessPlatform platform_;
    ScopedAppPlatform scopedPlatform_;
    int code_ = -1;
    std::thread thread_;
};

template <class T>
bool Ready(std::future<T>& f, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    return f.wait_for(limit) == std::future_status::ready;
}

}  // namespace talvo::testing

namespace talvo::testing {

// A dialog object that lives on the UI thread: made there and destroyed
// there, so its window goes where the window lives.
template <class T>
class UiObject {
  public:
    template <class... Args>
    explicit UiObject(UiThread& ui, Args&&... args) : ui_(ui) {
        ui_.Call([&] { object_ = std::make_unique<T>(std::forward<Args>(args)...); });
    }
    ~UiObject() {
        ui_.Call([&] { object_.reset(); });
    }
    UiObject(const UiObject&) = delete;
    UiObject& operator=(const UiObject&) = delete;
    T* operator->() { return object_.get(); }
    T& operator*() { return *object_; }

  private:
    UiThread& ui_;
    std::unique_ptr<T> object_;
};

}  // namespace talvo::testing
