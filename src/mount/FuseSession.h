#pragma once
// The kernel's side of the phone folder: libfuse's low-level session, its loop on a thread of
// its own. Every request is posted to the Qt thread, where TPhoneMount answers it; the reply
// goes back to the kernel from there, whenever it is ready, so a long download never holds up
// other requests. Built without libfuse 3, Start says that mounting is not available.
#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include <QObject>

#include "mount/MountRules.h"

class TPhoneMount;

class TFuseSession : public QObject {
    Q_OBJECT
public:
    explicit TFuseSession(TPhoneMount& mount, QObject* parent = nullptr);
    ~TFuseSession() override;

    // Whether this build can mount at all.
    static bool Available();
    // Mounts the phone at `mountpoint` (fsname=tarvel:<port>, subtype=tarvel, the options) and
    // starts the loop. False with the reason in `error`.
    bool Start(const std::string& mountpoint, const std::string& port, const MountOptions& options, std::string* error);
    // Unmounts (if still mounted) and waits for the loop to end; the session stays, so that
    // replies still due go nowhere harmlessly.
    void Unmount();
    // Unmounts and ends the session: no reply may follow.
    void Stop();
    bool Running() const { return running_; }
    const std::string& MountPoint() const { return mountpoint_; }

    struct Impl;

signals:
    // The loop has ended: the folder was unmounted (by Stop, fusermount3 -u or the system).
    void Ended();

private:
    TPhoneMount& mount_;
    std::unique_ptr<Impl> impl_;
    std::string mountpoint_;
    std::thread thread_;
    std::atomic<bool> running_{false};
};
