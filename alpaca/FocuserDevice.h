#pragma once
// The focuser as the server's clients share it: one thread owns the session
// and the line, every request takes its turn there, and status reads that
// wait together share one exchange (ReadScheduler). The connection is shared:
// the line opens on the first client's connect and closes when the last one
// that connected has disconnected. Thread-safe; every wait is bounded.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "alpaca/ApiRequest.h"
#include "alpaca/ApiResponse.h"
#include "alpaca/EventLog.h"
#include "alpaca/ReadScheduler.h"
#include "alpaca/ServerSettings.h"
#include "link/FocuserSession.h"

class FocuserDevice {
public:
    // How long a request waits for its turn on the line before it gives up
    // with a busy error; far beyond what a full queue of requests needs.
    static constexpr std::chrono::seconds kTurnBound{15};
    // The longest a status read waits for more clients to join it: about a
    // twentieth of an exchange. A read that arrives just after an exchange
    // began waits for that one, this pause and its own, so the pause is what
    // an answer may take beyond two exchanges.
    static constexpr std::chrono::microseconds kGatherBound{1000};

    FocuserDevice(FocuserSession::Opener opener, ServerSettings& store,
                  const ServerSettingsValues& settings, EventLog& log);
    ~FocuserDevice();
    FocuserDevice(const FocuserDevice&) = delete;
    FocuserDevice& operator=(const FocuserDevice&) = delete;

    DeviceAnswer Call(const ApiCall& call);

    bool IsConnected() const;
    ServerSettingsValues Settings() const;
    // Saves through the store and uses them from now on; the UniqueID stays.
    // A different device while connected is refused, with the reason.
    bool ChangeSettings(const ServerSettingsValues& values, std::string& message);
    DeviceAnswer ZeroPosition();
    DeviceAnswer FindHome();

    // Ends the line's thread after the exchange in progress and closes the
    // line; requests still waiting get an error. Called by the destructor.
    void Shutdown();

private:
    struct ReadResult {
        bool ok = false;
        int32_t position = 0;
        float temperature = 0.0f;
        bool moving = false;
        std::string message;
    };
    struct Job {
        std::function<DeviceAnswer()> run;
        DeviceAnswer answer;
        bool done = false;
    };

    void OwnLine();
    ReadResult Exchange(ReadKind kind);
    // Waits for kind's next exchange; false (with the answer set) when it
    // cannot be had.
    bool Read(ReadKind kind, ReadResult& result, DeviceAnswer& failure);
    DeviceAnswer RunOnLine(std::function<DeviceAnswer()> run);
    DeviceAnswer Connect(uint32_t clientId);
    DeviceAnswer Disconnect(uint32_t clientId);
    DeviceAnswer Move(int32_t target);
    DeviceAnswer SetupCommand(bool home);
    DeviceAnswer DeviceState();
    DeviceAnswer Failure(const char* what, const std::string& message);

    FocuserSession::Opener m_opener;
    ServerSettings& m_store;
    EventLog& m_log;
    FocuserSession m_session;  // only the line's thread touches it

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;  // the line's thread: work or stop
    std::condition_variable m_done;  // requesters: a turn has ended
    ReadScheduler m_scheduler;
    std::deque<std::shared_ptr<Job>> m_jobs;
    ReadResult m_results[ReadScheduler::kKinds];
    ServerSettingsValues m_settings;
    std::set<uint32_t> m_clients;
    bool m_connected = false;
    bool m_stopping = false;
    // Set when the controller accepts a motion, cleared by the first status
    // reply after that which says it is not moving, so a client never sees
    // false between its move and the controller's own word. Line thread only.
    bool m_motionLatched = false;
    std::thread m_owner;
};
