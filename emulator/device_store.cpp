#include "emulator/device_store.h"

#include <algorithm>

#include "emulator/device_image.h"

namespace talvo {

namespace {

// Where a pair keeps its data.
enum class Place : std::uint8_t {
    kRegister,       // one register per command
    kValueRegister,  // one per request value
    kSubRegister,    // one per (request value, payload[0])
    kMemoryBank,     // bytes at the 32-bit address payload[0..3], bank = request value
    kMemory16,       // bytes at the 16-bit address payload[0..1] (high byte first)
};

struct PairRule {
    Behaviour store;
    Behaviour load;
    Place place;
    std::uint8_t head;  // request bytes before the data; the get echoes them first
    bool keepsValue;    // the request value is kept and answered too
};

constexpr PairRule kPairs[] = {
    {Behaviour::kValuePayloadStore, Behaviour::kValuePayloadLoad, Place::kRegister, 0, true},
    {Behaviour::kPayloadStore, Behaviour::kPayloadLoad, Place::kRegister, 0, false},
    {Behaviour::kIndexedStore, Behaviour::kIndexedLoad, Place::kValueRegister, 0, false},
    {Behaviour::kSubIndexedStore, Behaviour::kSubIndexedLoad, Place::kSubRegister, 1, false},
    {Behaviour::kBlockStore, Behaviour::kBlockLoad, Place::kSubRegister, 2, false},
    {Behaviour::kMemoryStore, Behaviour::kMemoryLoad, Place::kMemoryBank, 6, false},
    {Behaviour::kAddressedStore, Behaviour::kAddressedLoad, Place::kMemory16, 3, false},
};

std::uint32_t RegisterKey(std::uint8_t group, std::uint8_t command, std::uint32_t index) {
    return (static_cast<std::uint32_t>(group) << 24) | (static_cast<std::uint32_t>(command) << 16) |
           (index & 0xFFFFu);
}

std::uint64_t MemoryKey(std::uint8_t group, std::uint8_t command, std::uint8_t bank,
                        std::uint32_t address) {
    return (static_cast<std::uint64_t>(group) << 56) | (static_cast<std::uint64_t>(command) << 48) |
           (static_cast<std::uint64_t>(bank) << 40) | address;
}

}  // namespace

bool DeviceStore::Carry(Behaviour behaviour, std::uint8_t group, std::uint8_t command,
                        std::uint8_t value, const std::uint8_t* p, std::size_t n,
                        DeviceAnswer& answer) {
    const auto rule = std::find_if(std::begin(kPairs), std::end(kPairs), [&](const PairRule& r) {
        return r.store == behaviour || r.load == behaviour;
    });
    if (rule == std::end(kPairs)) {
        return false;
    }
    const bool store = rule->store == behaviour;
    std::vector<std::uint8_t>& out = answer.payload;
    if (!store) {
        std::copy_n(p, std::min<std::size_t>(rule->head, out.size()), out.begin());
    }

    if (rule->place == Place::kMemoryBank || rule->place == Place::kMemory16) {
        const bool banked = rule->place == Place::kMemoryBank;
        const std::uint32_t address =
            banked ? DeviceLe32(p) : (static_cast<std::uint32_t>(p[0]) << 8) | p[1];
        const std::uint8_t bank = banked ? value : 0;
        if (store) {
            for (std::size_t i = 0; i + rule->head < n; ++i) {
                memory_[MemoryKey(group, command, bank, address + static_cast<std::uint32_t>(i))] =
                    p[rule->head + i];
            }
        } else {
            for (std::size_t i = rule->head; i < out.size(); ++i) {
                const auto it = memory_.find(MemoryKey(
                    group, command, bank, address + static_cast<std::uint32_t>(i - rule->head)));
                out[i] = it == memory_.end() ? 0 : it->second;
            }
        }
        return true;
    }

    std::uint32_t index = 0;
    if (rule->place == Place::kValueRegister) {
        index = value;
    } else if (rule->place == Place::kSubRegister) {
        index = (static_cast<std::uint32_t>(value) << 8) | p[0];
    }
    std::vector<std::uint8_t>& kept = registers_[RegisterKey(group, command, index)];
    if (store) {
        kept.clear();
        if (rule->keepsValue) {
            kept.push_back(value);
        }
        kept.insert(kept.end(), p + rule->head, p + n);
        return true;
    }
    std::size_t from = 0;
    if (rule->keepsValue && !kept.empty()) {
        answer.value = kept[0];
        from = 1;
    }
    for (std::size_t i = from; i < kept.size() && rule->head + i - from < out.size(); ++i) {
        out[rule->head + i - from] = kept[i];
    }
    return true;
}

}  // namespace talvo
