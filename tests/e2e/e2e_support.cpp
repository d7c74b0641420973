#include "tests/e2e/e2e_support.h"

#include <cstring>

#include "tools/fw_image_builder.h"

namespace talvo::e2e {

Rig::Rig(double speedup) : clock_(speedup) {}

Rig::~Rig() {
    session.reset();
    talvo.reset();
}

void Rig::Sink(const wchar_t* line, void* self) {
    auto* rig = static_cast<Rig*>(self);
    std::string text;
    for (const wchar_t* c = line; *c != L'\0'; ++c) {
        text.push_back(static_cast<char>(*c));
    }
    std::lock_guard<std::mutex> lock(rig->linesMutex_);
    rig->lines_.push_back(text);
}

bool Rig::Connect(const Scenario& scenario) {
    session.reset();
    talvo.reset();
    {
        std::lock_guard<std::mutex> lock(linesMutex_);
        lines_.clear();
    }
    talvo = std::make_unique<EmulatedTalvo>(bus_, scenario);
    session = std::make_unique<CUpdateSession>();
    CUpdateSession& s = *session;
    return s.Begin() && s.PumpUntil([&] { return s.DeviceReady(); }, 60000);
}

Outcome Rig::Run(const Scenario& scenario, const FirmwarePackage& package,
                 const std::function<void(EmulatedTalvo&, CUpdateSession&)>& beforeStart,
                 std::uint32_t limitMs) {
    Outcome outcome;
    if (!Connect(scenario)) {
        return outcome;
    }
    CUpdateSession& s = *session;
    s.onMessage = [&](const ThreadMessage& message) {
        if (message.message == kMsgUpdateProgress) {
            outcome.progress.push_back(static_cast<unsigned>(message.wParam));
        } else if (message.message == kMsgUpdateEnded) {
            ++outcome.endMessages;
            outcome.commands = talvo->CommandNames();
        }
    };
    talvo->Core().ClearCommands();
    if (beforeStart) {
        beforeStart(*talvo, s);
    }
    if (!s.StartUpdate(package)) {
        return outcome;
    }
    // Longer than the longest run the updater can make against these faults.
    outcome.ended =
        s.PumpUntil([&] { return s.GetState() == CUpdateSession::State::kEnded; }, limitMs);
    // Anything still queued behind the end message (nothing should follow it).
    while (s.Pump(0)) {
    }
    outcome.success = s.Succeeded();
    outcome.result = s.Result();
    {
        std::lock_guard<std::mutex> lock(linesMutex_);
        outcome.lines = lines_;
    }
    outcome.flashIsPackage = true;
    for (int slot = 0; slot < kImageTypeCount; ++slot) {
        if (package.HasImage(slot)) {
            const std::vector<std::uint8_t> expected(
                package.imageData[slot].get(),
                package.imageData[slot].get() + package.imageLength[slot]);
            if (talvo->Flash(TypeCode(slot)) != expected) {
                outcome.flashIsPackage = false;
            }
        }
    }
    // The updater was taken down with its end message; the watcher ends
    // when asked.
    const bool updaterGone = !s.UpdateRunning();
    outcome.threadsGone = s.End() && updaterGone;
    return outcome;
}

bool TakesClosingCommand(const EmulatedTalvo& talvo, std::uint32_t limitMs) {
    IClock& clock = Clock::Current();
    const std::uint32_t start = clock.TickCount();
    for (;;) {
        const std::vector<std::string> names = talvo.CommandNames();
        if (!names.empty() && names.back() == kClosing) {
            return true;
        }
        if (clock.TickCount() - start > limitMs) {
            return false;
        }
        clock.Sleep(100);
    }
}

namespace {

void Put(FirmwarePackage& package, int slot, const std::uint8_t* bytes, std::uint32_t length,
         const std::u16string& version) {
    package.imageData[slot].reset(new std::uint8_t[length]);
    std::memcpy(package.imageData[slot].get(), bytes, length);
    package.imageLength[slot] = length;
    package.imageVersion[slot] = version;
}

}  // namespace

const FirmwarePackage& ShippedPackage() {
    static const FirmwarePackage* package = [] {
        auto* p = new FirmwarePackage;
        LoadFirmwarePackage(*p);
        return p;
    }();
    return *package;
}

const FirmwarePackage& UpdaterPackage() {
    static const FirmwarePackage* package = [] {
        auto* p = new FirmwarePackage;
        const fwtools::Bytes fwup = fwtools::BuildImage(
            fwtools::SeededImage("FWUP", "1.07", 15000, 0x3107, 0x2468ACE1u, 0x13579BDFu));
        Put(*p, 0, fwup.data(), static_cast<std::uint32_t>(fwup.size()), u"1.07");
        const FirmwarePackage& shipped = ShippedPackage();
        Put(*p, 1, shipped.imageData[1].get(), shipped.imageLength[1], shipped.imageVersion[1]);
        return p;
    }();
    return *package;
}

int TypeCode(int slot) {
    return slot == 2 ? 3 : slot;
}

std::uint32_t PieceCount(const FirmwarePackage& package, int slot) {
    return (package.imageLength[slot] + 10239) / 10240;
}

std::uint32_t PieceSize(const FirmwarePackage& package, int slot, std::uint32_t piece) {
    const std::uint32_t rest = package.imageLength[slot] - piece * 10240;
    return rest < 10240 ? rest : 10240;
}

std::vector<std::string> ImageCommands(const FirmwarePackage& package, int slot, int pieces) {
    std::vector<std::string> out;
    out.push_back("FU_SETINFO type=" + std::to_string(TypeCode(slot)) +
                  " length=" + std::to_string(package.imageLength[slot]));
    const std::uint32_t count = PieceCount(package, slot);
    for (std::uint32_t piece = 0; piece < count; ++piece) {
        if (pieces >= 0 && piece >= static_cast<std::uint32_t>(pieces)) {
            break;
        }
        out.push_back("FU_FWLOAD offset=" + std::to_string(piece * 10240) +
                      " size=" + std::to_string(PieceSize(package, slot, piece)));
        out.push_back("FU_WRITEFW");
    }
    return out;
}

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> out;
    for (const auto& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

Scenario Named(const std::string& name) {
    return Scenario::Named(name);
}

}  // namespace talvo::e2e
