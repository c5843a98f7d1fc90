#include "tests/alpaca/ServerRig.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

bool ChildProcess::Start(const std::vector<std::string>& arguments, const std::string& out,
                         const std::string& err) {
    int input[2];
    if (pipe2(input, O_CLOEXEC) != 0) return false;
    m_pid = fork();
    if (m_pid < 0) return false;
    if (m_pid == 0) {
        const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(input[0], 0);
        dup2(o, 1);
        dup2(e, 2);
        std::vector<char*> argv;
        for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(input[0]);
    m_stdin = input[1];
    return true;
}

bool ChildProcess::WaitForLine(const std::string& file, const std::string& prefix,
                               std::string& rest, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        std::ifstream in(file);
        std::string line;
        while (std::getline(in, line)) {
            if (in.eof()) break;  // not yet whole
            const size_t at = line.find(prefix);
            if (at != std::string::npos) {
                rest = line.substr(at + prefix.size());
                return true;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

void ChildProcess::Send(const std::string& line) {
    const std::string text = line + "\n";
    if (m_stdin >= 0 && write(m_stdin, text.data(), text.size()) < 0) return;
}

bool ChildProcess::Wait(int timeoutMs, int& status) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (m_pid > 0) {
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

void ChildProcess::Signal(int signal) {
    if (m_pid > 0) kill(m_pid, signal);
}

void ChildProcess::Kill() {
    if (m_stdin >= 0) close(m_stdin);
    m_stdin = -1;
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
}

ServerRig::ServerRig() {
    char pattern[] = "/tmp/alpaca-rig-XXXXXX";
    folder = mkdtemp(pattern);
    settingsFile = folder + "/alpaca.conf";
}

ServerRig::~ServerRig() {
    server.Kill();
    sim.Kill();
    const std::string command = "rm -rf '" + folder + "'";
    if (std::system(command.c_str()) != 0) return;
}

bool ServerRig::Start(const std::vector<std::string>& simArguments,
                      const std::vector<std::string>& serverArguments) {
    // A link that follows the simulator's pty, even to a new one after "appear".
    std::vector<std::string> arguments = {FOCUSER_SIM_EXE, "--pty", "--quiet",
                                          "--link=" + folder + "/tty"};
    arguments.insert(arguments.end(), simArguments.begin(), simArguments.end());
    if (!sim.Start(arguments, folder + "/sim.out", folder + "/sim.err")) return false;
    // The device path is the whole first line.
    if (!ChildProcess::WaitForLine(folder + "/sim.out", "", device, 5000)) return false;
    return StartServer(server, port, "server", serverArguments);
}

bool ServerRig::StartServer(ChildProcess& child, uint16_t& boundPort, const std::string& name,
                            const std::vector<std::string>& extra) {
    std::vector<std::string> arguments = {FOCUSER_ALPACA_EXE,     "--serial",   device,
                                          "--listen",             "127.0.0.1:0", "--discovery-port",
                                          "0",                    "--settings", settingsFile};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    const std::string out = folder + "/" + name + ".out", err = folder + "/" + name + ".err";
    if (!child.Start(arguments, out, err)) return false;
    std::string rest;
    if (!ChildProcess::WaitForLine(out, "listening on http://127.0.0.1:", rest, 5000)) return false;
    boundPort = static_cast<uint16_t>(std::atoi(rest.c_str()));
    if (ChildProcess::WaitForLine(err, "answering on UDP port ", rest, 1000)) {
        discoveryPort = static_cast<uint16_t>(std::atoi(rest.c_str()));
    }
    return boundPort != 0;
}

httplib::Client ServerRig::Client() const {
    httplib::Client client("127.0.0.1", port);
    client.set_connection_timeout(2, 0);
    client.set_read_timeout(20, 0);
    return client;
}

bool ServerRig::Connect(int clientId) const {
    for (int attempt = 0; attempt < 3; ++attempt) {
        const nlohmann::json body = Put("connect", "ClientID=" + std::to_string(clientId));
        if (body.is_object() && body["ErrorNumber"] == 0) return true;
    }
    return false;
}

namespace {
nlohmann::json Parsed(const httplib::Result& result, int* status) {
    if (status != nullptr) *status = result ? result->status : -1;
    if (!result || result->status != 200) return nullptr;
    return nlohmann::json::parse(result->body, nullptr, false);
}
}  // namespace

nlohmann::json ServerRig::Get(const std::string& member, int* status, const std::string& query) const {
    httplib::Client client = Client();
    return Parsed(client.Get(("/api/v1/focuser/0/" + member + (query.empty() ? "" : "?" + query)).c_str()),
                  status);
}

nlohmann::json ServerRig::Put(const std::string& member, const std::string& form, int* status) const {
    httplib::Client client = Client();
    return Parsed(client.Put(("/api/v1/focuser/0/" + member).c_str(), form,
                             "application/x-www-form-urlencoded"),
                  status);
}
