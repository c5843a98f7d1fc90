#pragma once
// A virtual null-modem for Wine: each pair joins two COM ports of a Wine prefix
// back to back, so a program on one port talks to a program on the other. Each
// port is a pseudo-terminal whose slave the prefix's dosdevices link points at;
// the bridge copies whatever one master yields into the other. A small control
// socket lets tests pull a port's plug and put it back.
#include <signal.h>

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace nullmodem {

// One end of a pair: the port a Wine program opens.
struct Side {
    std::string name;  // "com3"
    std::string link;  // <dosdevices>/com3
    int master = -1;
    // Held open for as long as the port is plugged: once every slave descriptor
    // is closed the master reads EIO, and the Wine program on this port closes
    // and reopens it as it pleases.
    int slave = -1;
    std::string slavePath;
    std::string backlog;  // bytes from the peer waiting for this master to take them
    size_t dropped = 0;
    Side* peer = nullptr;

    bool Plugged() const { return master >= 0; }
};

class Bridge {
public:
    Bridge(std::string dosdevices, std::string unpluggedTarget)
        : m_dosdevices(std::move(dosdevices)), m_unplugged(std::move(unpluggedTarget)) {}
    ~Bridge();

    bool AddPair(const std::string& a, const std::string& b);
    bool Listen();
    unsigned short ControlPort() const { return m_controlPort; }
    // Runs until a stop signal sets stop; runMask is the signal mask while it
    // waits, the only time a stop signal may arrive. False on a fault that
    // leaves it unable to go on.
    bool Run(const sigset_t& runMask, const volatile sig_atomic_t& stop);
    void RemoveLinks();

private:
    struct Client {
        int fd = -1;
        std::string input;
    };

    Side* Find(const std::string& name);
    bool Plug(Side& side);
    bool Unplug(Side& side);
    void Pump(Side& from);
    void Flush(Side& to);
    void Restart(Side& side, const char* why);
    void Accept();
    bool ServeClient(Client& client);  // false: close it
    std::string Execute(const std::string& line);

    std::string m_dosdevices;
    std::string m_unplugged;
    std::vector<std::unique_ptr<Side>> m_sides;
    int m_listener = -1;
    unsigned short m_controlPort = 0;
    std::vector<Client> m_clients;
};

}  // namespace nullmodem
