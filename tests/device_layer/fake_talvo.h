// A small scripted TALVO on the emulated bus for the device-layer tests: it
// reassembles requests, answers them (by default as a cooperative device
// would, or as the test's hook says) and changes mode on command 1.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "hid/emulated_bus.h"

namespace talvo::testing {

struct FakeRequest {
    std::uint8_t kind = 0;
    std::uint8_t command = 0;
    std::uint8_t group = 0;
    std::uint8_t value = 0;
    std::vector<std::uint8_t> payload;
};

struct FakeAnswer {
    std::uint8_t status = 0;
    std::vector<std::uint8_t> payload;
    bool drop = false;
};

class FakeTalvo {
  public:
    explicit FakeTalvo(EmulatedBus& bus);
    ~FakeTalvo();

    // 0 unplugs; 1 and 2 plug the normal- or update-mode identity.
    void SetMode(int mode);
    int Mode() const;

    // Delay (current clock) between answering command 1 and leaving, and
    // the time away before the new identity appears.
    std::uint32_t leaveDelayMs = 50;
    std::uint32_t awayMs = 300;
    // Whether command 1 makes the device change mode.
    std::atomic<bool> followRestart{true};

    // Asked first for every request; an answer replaces the default one.
    std::function<std::optional<FakeAnswer>(const FakeRequest&)> hook;

    // "g/c v=N" per request, in order.
    std::vector<std::string> Log() const;
    // Image bytes received with FU_FWLOAD since the last FU_SETINFO.
    std::vector<std::uint8_t> Loaded() const;
    // Sends one notification report (marker 0x90, event, two value bytes).
    bool Notify(std::uint8_t event, std::uint8_t high, std::uint8_t low);
    // After the current request: leave the bus and come back in `mode`.
    void ScheduleRestart(int mode);
    std::string version = "1.05";

  private:
    void Loop();
    void Handle(const FakeRequest& request);
    void Send(const FakeRequest& request, const FakeAnswer& answer);

    EmulatedBus& bus_;
    mutable std::mutex mutex_;
    std::shared_ptr<EmulatedEndpoint> endpoint_;
    int mode_ = 0;
    std::vector<std::string> log_;
    std::vector<std::uint8_t> loaded_;
    int pendingMode_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace talvo::testing
