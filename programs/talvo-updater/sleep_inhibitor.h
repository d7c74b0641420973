// Keeping the computer awake while a firmware update runs: an update cut
// short by suspend can leave the device without working firmware.
//
// The desktop implementation asks systemd-logind over the system D-Bus for a
// "sleep:idle" block inhibitor and holds the file descriptor it hands out
// until Release. Where there is no system bus or no logind, Acquire quietly
// holds nothing.
#pragma once

#include <QString>
#include <utility>

namespace talvo::qt {

class ISleepInhibitor {
  public:
    virtual ~ISleepInhibitor() = default;
    // Asks the system to stay awake; false when nothing is held.
    virtual bool Acquire() = 0;
    // Gives the request back (nothing when none is held).
    virtual void Release() = 0;
};

class LogindInhibitor final : public ISleepInhibitor {
  public:
    // `who` and `why` are what the system shows of the block (the product
    // title and "Updating..." in the user's language).
    LogindInhibitor(QString who, QString why) : who_(std::move(who)), why_(std::move(why)) {}
    ~LogindInhibitor() override { Release(); }
    LogindInhibitor(const LogindInhibitor&) = delete;
    LogindInhibitor& operator=(const LogindInhibitor&) = delete;

    bool Acquire() override;
    void Release() override;

  private:
    QString who_;
    QString why_;
    int fd_ = -1;  // the inhibitor lock; closing it ends the block
};

}  // namespace talvo::qt
