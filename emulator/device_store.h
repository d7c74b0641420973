// What the set/get pairs of the command table keep: registers (a value
// and/or payload per command, per index) and addressed memory areas. Each
// pair is one row of a rule table: how the set finds its place and data in
// the request, and what the get echoes before answering what was kept.
// Not thread-safe; the device core holds its lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include "emulator/command_catalogue.h"
#include "emulator/device_steps.h"

namespace talvo {

class DeviceStore {
  public:
    // Carries out `behaviour` when it is one of the set/get pairs' (the
    // answer's payload is already sized); false for any other behaviour.
    bool Carry(Behaviour behaviour, std::uint8_t group, std::uint8_t command, std::uint8_t value,
               const std::uint8_t* payload, std::size_t length, DeviceAnswer& answer);

  private:
    std::map<std::uint32_t, std::vector<std::uint8_t>> registers_;
    std::map<std::uint64_t, std::uint8_t> memory_;
};

}  // namespace talvo
