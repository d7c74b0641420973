// The desktop program's way of keeping the computer awake while a firmware
// update runs (shell/keep_awake.h): it asks systemd-logind over the system
// D-Bus for a "sleep:idle" block inhibitor and holds the file descriptor it
// hands out until End. Where there is no system bus or no logind, Begin
// holds nothing and says so.
#pragma once

#include <QString>
#include <utility>

#include "shell/keep_awake.h"

namespace talvo::qt {

class LogindInhibitor final : public IKeepAwake {
  public:
    // `who` and `why` are what the system shows of the block (the product
    // title and "Updating..." in the user's language).
    LogindInhibitor(QString who, QString why) : who_(std::move(who)), why_(std::move(why)) {}
    ~LogindInhibitor() override { End(); }
    LogindInhibitor(const LogindInhibitor&) = delete;
    LogindInhibitor& operator=(const LogindInhibitor&) = delete;

    bool Begin() override;
    void End() override;

  private:
    QString who_;
    QString why_;
    int fd_ = -1;  // the inhibitor lock; closing it ends the block
};

}  // namespace talvo::qt
