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
    // `failureNote` goes to standard error the first time logind will not
    // keep the computer awake (empty: nothing is said).
    LogindInhibitor(QString who, QString why, QString failureNote = QString())
        : who_(std::move(who)), why_(std::move(why)), failureNote_(std::move(failureNote)) {}
    ~LogindInhibitor() override { End(); }
    LogindInhibitor(const LogindInhibitor&) = delete;
    LogindInhibitor& operator=(const LogindInhibitor&) = delete;

    bool Begin() override;
    void End() override;

  private:
    bool Inhibit();

    QString who_;
    QString why_;
    int fd_ = -1;  // the inhibitor lock; closing it ends the block
    QString failureNote_;
    bool failureSaid_ = false;
};

}  // namespace talvo::qt
