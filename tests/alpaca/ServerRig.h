#pragma once
// The simulator on a pseudo-terminal and the device server on it, as child
// processes, for the server's tests and its benchmark. Their output goes to
// files in a folder of the rig's own; every wait is bounded.
#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include <httplib.h>
#include <nlohmann/json.hpp>

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess() { Kill(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // stdout and stderr to the two files; stdin a pipe kept open for Send.
    bool Start(const std::vector<std::string>& arguments, const std::string& out,
               const std::string& err);
    // Waits for a line of file that starts with prefix; the rest of it.
    static bool WaitForLine(const std::string& file, const std::string& prefix, std::string& rest,
                            int timeoutMs);
    void Send(const std::string& line);
    // True when it ended within timeoutMs; its wait status in status.
    bool Wait(int timeoutMs, int& status);
    void Signal(int signal);
    void Kill();
    pid_t Pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
    int m_stdin = -1;
};

class ServerRig {
public:
    ServerRig();
    ~ServerRig();

    // Starts the simulator (with simArguments) and the server on its pty.
    bool Start(const std::vector<std::string>& simArguments = {},
               const std::vector<std::string>& serverArguments = {});
    // Another server on the same settings and device (for the exclusive-open test).
    bool StartServer(ChildProcess& server, uint16_t& port, const std::string& name,
                     const std::vector<std::string>& extra);

    httplib::Client Client() const;
    // PUT connect for clientId, tried up to three times: on a loaded machine
    // the simulator can be starved past the handshake's read window, which
    // is not what the tests that connect first are about.
    bool Connect(int clientId) const;
    // GET or PUT /api/v1/focuser/0/<member>; the parsed body (null when the
    // status is not 200) and the status.
    nlohmann::json Get(const std::string& member, int* status = nullptr,
                       const std::string& query = "") const;
    nlohmann::json Put(const std::string& member, const std::string& form,
                       int* status = nullptr) const;

    ChildProcess sim;
    ChildProcess server;
    std::string folder;
    std::string device;
    std::string settingsFile;
    uint16_t port = 0;
    uint16_t discoveryPort = 0;
};
