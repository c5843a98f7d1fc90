#include "alpaca/FocuserDevice.h"

#include <sys/time.h>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace {

constexpr const char kNotConnected[] = "Not connected";
constexpr const char kStopping[] = "Server is shutting down";
constexpr const char kBusy[] = "Focuser busy: no turn on the line in time";

// "2026-12-09T13:00:00.123Z"
std::string TimeStamp() {
    timeval now = {};
    gettimeofday(&now, nullptr);
    tm utc = {};
    gmtime_r(&now.tv_sec, &utc);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(now.tv_usec / 1000));
    return text;
}

}  // namespace

FocuserDevice::FocuserDevice(FocuserSession::Opener opener, ServerSettings& store,
                             const ServerSettingsValues& settings, EventLog& log)
    : m_opener(std::move(opener)),
      m_store(store),
      m_log(log),
      m_session(&log),
      m_settings(settings),
      m_owner([this] { OwnLine(); }) {}

FocuserDevice::~FocuserDevice() { Shutdown(); }

void FocuserDevice::Shutdown() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_done.notify_all();
    if (m_owner.joinable()) m_owner.join();
}

bool FocuserDevice::IsConnected() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_connected;
}

ServerSettingsValues FocuserDevice::Settings() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_settings;
}

void FocuserDevice::OwnLine() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stopping) {
        ReadKind kind = ReadKind::Position;
        if (m_scheduler.Gathering(kind)) {
            const auto until = std::chrono::steady_clock::now() + kGatherBound;
            m_wake.wait_until(lock, until, [&] { return m_stopping || !m_scheduler.Gathering(kind); });
        }
        const ReadScheduler::Turn turn = m_scheduler.Next(kind);
        if (turn == ReadScheduler::Turn::None) {
            // No time-out: an idle server does not wake up.
            m_wake.wait(lock);
            continue;
        }
        if (turn == ReadScheduler::Turn::Read) {
            lock.unlock();
            ReadResult result = Exchange(kind);
            lock.lock();
            m_results[static_cast<int>(kind)] = std::move(result);
            m_scheduler.Finished(kind);
        } else {
            std::shared_ptr<Job> job = m_jobs.front();
            m_jobs.pop_front();
            lock.unlock();
            DeviceAnswer answer = job->run();
            lock.lock();
            job->answer = std::move(answer);
            job->done = true;
        }
        m_done.notify_all();
    }
    lock.unlock();
    if (m_session.IsConnected()) {
        m_session.Disconnect();
        m_log.Write("disconnect: line closed at shutdown");
    }
}

FocuserDevice::ReadResult FocuserDevice::Exchange(ReadKind kind) {
    ReadResult result;
    if (!m_session.IsConnected()) {
        result.message = kNotConnected;
        return result;
    }
    const char* message = nullptr;
    switch (kind) {
        case ReadKind::Position:
            result.ok = m_session.ReadPosition(result.position, message);
            break;
        case ReadKind::Temperature:
            result.ok = m_session.ReadTemperature(result.temperature, message);
            break;
        case ReadKind::Moving: {
            ControllerStatus status;
            result.ok = m_session.ReadStatus(status);
            if (result.ok) {
                if (!status.Moving()) m_motionLatched = false;
                result.moving = status.Moving() || m_motionLatched;
            } else {
                message = focuser_message::kLinkFail;
            }
            break;
        }
    }
    if (!result.ok) {
        result.message = message != nullptr ? message : focuser_message::kLinkFail;
        const char* names[] = {"position", "ismoving", "temperature"};
        m_log.Write(std::string("error ") + names[static_cast<int>(kind)] + ": " + result.message +
                    " (" + m_log.LastExchange() + ")");
    }
    return result;
}

bool FocuserDevice::Read(ReadKind kind, ReadResult& result, DeviceAnswer& failure) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_connected) {
        failure = DeviceAnswer::Error(ascom_error::kNotConnected, kNotConnected);
        return false;
    }
    const uint64_t ticket = m_scheduler.Request(kind);
    m_wake.notify_one();
    const bool answered = m_done.wait_for(lock, kTurnBound, [&] {
        return m_stopping || m_scheduler.Answered(kind, ticket);
    });
    if (m_stopping) {
        failure = DeviceAnswer::Error(ascom_error::kBusy, kStopping);
        return false;
    }
    if (!answered) {
        failure = DeviceAnswer::Error(ascom_error::kBusy, kBusy);
        return false;
    }
    result = m_results[static_cast<int>(kind)];
    if (result.ok) return true;
    failure = result.message == kNotConnected
                  ? DeviceAnswer::Error(ascom_error::kNotConnected, kNotConnected)
                  : DeviceAnswer::DriverError(result.message);
    return false;
}

DeviceAnswer FocuserDevice::RunOnLine(std::function<DeviceAnswer()> run) {
    auto job = std::make_shared<Job>();
    job->run = std::move(run);
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_stopping) return DeviceAnswer::Error(ascom_error::kBusy, kStopping);
    m_jobs.push_back(job);
    m_scheduler.RequestJob();
    m_wake.notify_one();
    const bool done = m_done.wait_for(lock, kTurnBound, [&] { return m_stopping || job->done; });
    if (job->done) return job->answer;
    return DeviceAnswer::Error(ascom_error::kBusy, done ? kStopping : kBusy);
}

DeviceAnswer FocuserDevice::Failure(const char* what, const std::string& message) {
    m_log.Write(std::string("error ") + what + ": " + message + " (" + m_log.LastExchange() + ")");
    return DeviceAnswer::DriverError(message);
}

DeviceAnswer FocuserDevice::Connect(uint32_t clientId) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_connected) {
            if (m_clients.insert(clientId).second) {
                m_log.Write("connect: client " + std::to_string(clientId) + " shares " +
                            m_settings.device);
            }
            return DeviceAnswer::Value(nullptr);
        }
    }
    return RunOnLine([this, clientId]() {
        std::unique_lock<std::mutex> lock(m_mutex);
        const ServerSettingsValues settings = m_settings;
        if (!m_connected) {
            lock.unlock();
            m_log.Write("connect: client " + std::to_string(clientId) + " opens " +
                        settings.device);
            std::string reason;
            const ConnectResult result =
                m_session.Connect(m_opener, settings.device.c_str(), settings.speed, reason);
            if (result != ConnectResult::Connected) {
                return Failure("connect",
                               ConnectFailureMessage(result, settings.device.c_str(), reason));
            }
            m_motionLatched = false;
            lock.lock();
            m_connected = true;
        } else {
            m_log.Write("connect: client " + std::to_string(clientId) + " shares " +
                        settings.device);
        }
        m_clients.insert(clientId);
        return DeviceAnswer::Value(nullptr);
    });
}

DeviceAnswer FocuserDevice::Disconnect(uint32_t clientId) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_clients.erase(clientId) == 0) return DeviceAnswer::Value(nullptr);
        m_log.Write("disconnect: client " + std::to_string(clientId) + ", " +
                    std::to_string(m_clients.size()) + " still connected");
        if (!m_clients.empty()) return DeviceAnswer::Value(nullptr);
    }
    return RunOnLine([this]() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            // Someone connected again while this waited for its turn.
            if (!m_clients.empty() || !m_connected) return DeviceAnswer::Value(nullptr);
            m_connected = false;
        }
        m_session.Disconnect();
        m_log.Write("disconnect: line closed");
        return DeviceAnswer::Value(nullptr);
    });
}

DeviceAnswer FocuserDevice::Move(int32_t target) {
    int32_t maxPosition = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_connected) return DeviceAnswer::Error(ascom_error::kNotConnected, kNotConnected);
        maxPosition = m_settings.maxPosition;
    }
    // Clients of the network interface expect a target beyond the ends to
    // stop at the end; the DLL's callers expect its range error instead.
    const int32_t clamped = std::max(0, std::min(target, maxPosition));
    return RunOnLine([this, clamped, maxPosition]() {
        if (!m_session.IsConnected()) {
            return DeviceAnswer::Error(ascom_error::kNotConnected, kNotConnected);
        }
        const char* message = nullptr;
        if (!m_session.Move(clamped, maxPosition, message)) {
            if (std::string(message) == focuser_message::kAlreadyMoving) {
                return DeviceAnswer::Error(ascom_error::kInvalidOperation, message);
            }
            return Failure("move", message);
        }
        m_motionLatched = true;
        return DeviceAnswer::Value(nullptr);
    });
}

DeviceAnswer FocuserDevice::ZeroPosition() { return SetupCommand(false); }

DeviceAnswer FocuserDevice::FindHome() { return SetupCommand(true); }

DeviceAnswer FocuserDevice::SetupCommand(bool home) {
    if (!IsConnected()) return DeviceAnswer::Error(ascom_error::kNotConnected, kNotConnected);
    const int32_t speed = Settings().speed;
    // As the setup dialog does: the command runs at the stored speed.
    return RunOnLine([this, speed, home]() {
        const char* what = home ? "find home" : "zero position";
        m_session.ApplySpeed(speed);
        if (!(home ? m_session.FindHome() : m_session.ZeroPosition())) {
            return Failure(what, focuser_message::kLinkFail);
        }
        // Homing is a motion like a move.
        if (home) m_motionLatched = true;
        m_log.Write(what);
        return DeviceAnswer::Value(nullptr);
    });
}

bool FocuserDevice::ChangeSettings(const ServerSettingsValues& values, std::string& message) {
    ServerSettingsValues changed = values;
    bool speedChanged = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        changed.uniqueId = m_settings.uniqueId;
        if (m_stopping) {
            message = kStopping;
            return false;
        }
        if (m_connected && changed.device != m_settings.device) {
            message = "The serial device cannot be changed while clients are connected to " +
                      m_settings.device + "; disconnect them first.";
            return false;
        }
        if (!m_store.Save(changed, message)) {
            m_log.Write("error saving settings: " + message);
            return false;
        }
        speedChanged = m_connected && changed.speed != m_settings.speed;
        m_settings = changed;
    }
    m_log.Write("settings saved to " + m_store.Path());
    if (speedChanged) {
        const int32_t speed = changed.speed;
        RunOnLine([this, speed]() {
            m_session.ApplySpeed(speed);
            return DeviceAnswer::Value(nullptr);
        });
    }
    return true;
}

DeviceAnswer FocuserDevice::DeviceState() {
    nlohmann::json state = nlohmann::json::array();
    if (!IsConnected()) return DeviceAnswer::Value(state);
    ReadResult moving, position, temperature;
    DeviceAnswer ignored;
    if (Read(ReadKind::Moving, moving, ignored)) {
        state.push_back({{"Name", "IsMoving"}, {"Value", moving.moving}});
    }
    if (Read(ReadKind::Position, position, ignored)) {
        state.push_back({{"Name", "Position"}, {"Value", position.position}});
    }
    if (Read(ReadKind::Temperature, temperature, ignored)) {
        state.push_back(
            {{"Name", "Temperature"}, {"Value", ApiResponse::Decimal(temperature.temperature)}});
    }
    if (!state.empty()) state.push_back({{"Name", "TimeStamp"}, {"Value", TimeStamp()}});
    return DeviceAnswer::Value(state);
}

DeviceAnswer FocuserDevice::Call(const ApiCall& call) {
    const bool put = call.verb == Verb::Put;
    const ServerSettingsValues settings = Settings();
    ReadResult result;
    DeviceAnswer failure;
    switch (call.member) {
        case Member::Connected:
            if (!put) return DeviceAnswer::Value(IsConnected());
            return call.flag ? Connect(call.clientId) : Disconnect(call.clientId);
        case Member::Connect: return Connect(call.clientId);
        case Member::Disconnect: return Disconnect(call.clientId);
        // Connect finishes before it answers, so there is never one under way.
        case Member::Connecting: return DeviceAnswer::Value(false);
        case Member::DeviceState: return DeviceState();
        case Member::Absolute: return DeviceAnswer::Value(true);
        case Member::MaxIncrement:
        case Member::MaxStep: return DeviceAnswer::Value(settings.maxPosition);
        case Member::StepSize: return DeviceAnswer::Value(ApiResponse::Decimal(settings.stepSize));
        case Member::TempCompAvailable: return DeviceAnswer::Value(false);
        case Member::TempComp:
            if (put && call.flag) {
                return DeviceAnswer::Error(ascom_error::kNotImplemented,
                                           "Temperature compensation is not available");
            }
            return DeviceAnswer::Value(false);
        case Member::IsMoving:
            if (!Read(ReadKind::Moving, result, failure)) return failure;
            return DeviceAnswer::Value(result.moving);
        case Member::Position:
            if (!Read(ReadKind::Position, result, failure)) return failure;
            return DeviceAnswer::Value(result.position);
        case Member::Temperature:
            if (!Read(ReadKind::Temperature, result, failure)) return failure;
            return DeviceAnswer::Value(ApiResponse::Decimal(result.temperature));
        case Member::Halt:
            return DeviceAnswer::Error(ascom_error::kNotImplemented,
                                       "Halt is not supported: the controller has no stop command");
        case Member::Move: return Move(call.position);
        case Member::Description: return DeviceAnswer::Value("Tavrilen Astrograph motorised focuser");
        case Member::DriverInfo:
            return DeviceAnswer::Value(std::string("Tavrilen Focuser device server for Linux, version ") +
                                       FOCUSER_VERSION);
        case Member::DriverVersion: return DeviceAnswer::Value(FOCUSER_VERSION);
        case Member::InterfaceVersion: return DeviceAnswer::Value(4);
        case Member::Name: return DeviceAnswer::Value("Tavrilen Focuser");
        case Member::SupportedActions: return DeviceAnswer::Value(nlohmann::json::array());
        case Member::Action:
            return DeviceAnswer::Error(ascom_error::kActionNotImplemented,
                                       "Action '" + call.action.substr(0, 40) + "' is not implemented");
        case Member::CommandBlind:
        case Member::CommandBool:
        case Member::CommandString:
            return DeviceAnswer::Error(ascom_error::kNotImplemented,
                                       "Raw controller commands are not supported");
    }
    return DeviceAnswer::Error(ascom_error::kNotImplemented, "Not implemented");
}
