// The server as a client sees it, against the simulator on a pseudo-terminal
// at the real pace: the protocol's rules, the members and their errors, the
// shared connection, discovery, the setup page, faults and stopping.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "tests/alpaca/ServerRig.h"

namespace {

using Clock = std::chrono::steady_clock;

long Ms(Clock::time_point since) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

int Error(const nlohmann::json& body) { return body.is_object() ? body.value("ErrorNumber", -1) : -2; }

// Polls ismoving until false; false when it stays true past the bound.
bool WaitUntilStill(const ServerRig& rig, int boundMs) {
    const auto start = Clock::now();
    while (Ms(start) < boundMs) {
        if (rig.Get("ismoving")["Value"] == false) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

class AlpacaServer : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(rig.Start({"--position=500"})) << ReadFile(rig.folder + "/server.err");
    }
    ServerRig rig;
};

TEST_F(AlpacaServer, StatusCodesFollowTheProtocol) {
    struct Case {
        const char* method;
        const char* path;
        const char* body;
        int status;
    } cases[] = {
        {"GET", "/api/v1/focuser/0/name", "", 200},
        {"GET", "/api/v1/focuser/0/name?ClientID=1&ClientTransactionID=2&Extra=3", "", 200},
        {"GET", "/api/v1/focuser/0/name?ClientTransactionID=-1", "", 400},
        {"GET", "/api/v1/focuser/0/name?ClientID=", "", 400},
        {"GET", "/api/v1/FOCUSER/0/name", "", 400},
        {"GET", "/api/v1/focuser/1/name", "", 400},
        {"GET", "/api/v1/focuser/0/descrip", "", 400},
        {"GET", "/api/v2/focuser/0/name", "", 400},
        {"POST", "/api/v1/focuser/0/connected", "Connected=true", 400},
        {"PUT", "/api/v1/focuser/0/move", "pOSITION=10", 400},
        {"PUT", "/api/v1/focuser/0/move", "Position=abc", 400},
        {"PUT", "/api/v1/focuser/0/connected", "Connected=maybe", 400},
        {"PUT", "/api/v1/focuser/0/tempcomp", "TempComp=FALSE", 200},
        {"GET", "/nothing/here", "", 404},
        {"GET", "/management/apiversions", "", 200},
        {"GET", "/setup", "", 200},
    };
    httplib::Client client = rig.Client();
    for (const Case& c : cases) {
        const std::string method = c.method;
        httplib::Result result =
            method == "GET"  ? client.Get(c.path)
            : method == "PUT" ? client.Put(c.path, c.body, "application/x-www-form-urlencoded")
                              : client.Post(c.path, c.body, "application/x-www-form-urlencoded");
        ASSERT_TRUE(result) << c.path;
        EXPECT_EQ(result->status, c.status) << c.method << " " << c.path << ": " << result->body;
        if (result->status == 400) {
            EXPECT_EQ(result->get_header_value("Content-Type").rfind("text/plain", 0), 0u);
            EXPECT_FALSE(result->body.empty());
        }
    }
}

TEST_F(AlpacaServer, EveryAnswerCarriesTheEnvelope) {
    uint32_t last = 0;
    struct Case {
        std::string form;
        uint32_t echoed;
    } puts[] = {
        {"TempComp=false&ClientID=5&ClientTransactionID=77", 77},
        {"TempComp=false&clienttransactionid=77", 0},  // not spelt exactly: absent
        {"TempComp=false", 0},
    };
    for (const auto& c : puts) {
        const nlohmann::json body = rig.Put("tempcomp", c.form);
        ASSERT_TRUE(body.is_object());
        EXPECT_EQ(body["ClientTransactionID"], c.echoed) << c.form;
        EXPECT_GT(body["ServerTransactionID"].get<uint32_t>(), last);
        last = body["ServerTransactionID"];
        EXPECT_EQ(body["ErrorNumber"], 0);
        EXPECT_EQ(body["ErrorMessage"], "");
        EXPECT_FALSE(body.contains("Value"));
    }
    const nlohmann::json body = rig.Get("interfaceversion", nullptr, "clienttransactionid=12");
    EXPECT_EQ(body["Value"], 4);
    EXPECT_EQ(body["ClientTransactionID"], 12);
    EXPECT_EQ(body["ServerTransactionID"], last + 1);
}

TEST_F(AlpacaServer, MembersWhileNotConnected) {
    struct Case {
        const char* member;
        int error;
    } cases[] = {
        {"position", 0x407}, {"ismoving", 0x407}, {"temperature", 0x407},
        {"name", 0},         {"description", 0},  {"driverinfo", 0},
        {"driverversion", 0}, {"interfaceversion", 0}, {"supportedactions", 0},
        {"absolute", 0},     {"maxstep", 0},      {"maxincrement", 0},
        {"stepsize", 0},     {"tempcomp", 0},     {"tempcompavailable", 0},
        {"connected", 0},    {"connecting", 0},   {"devicestate", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(Error(rig.Get(c.member)), c.error) << c.member;
    EXPECT_EQ(Error(rig.Put("move", "Position=10")), 0x407);
    EXPECT_EQ(rig.Get("devicestate")["Value"], nlohmann::json::array());
    EXPECT_EQ(rig.Get("stepsize")["Value"], 1.27);
    EXPECT_EQ(rig.Get("driverversion")["Value"], FOCUSER_VERSION);
}

TEST_F(AlpacaServer, ConnectedMembersAndMoves) {
    // A short travel keeps the moves to the ends short.
    ASSERT_EQ(rig.Client().Post("/setup", "MaxPosition=1500", "application/x-www-form-urlencoded")->status, 200);
    ASSERT_TRUE(rig.Connect(1));
    EXPECT_EQ(rig.Get("connected")["Value"], true);
    const int32_t maxStep = rig.Get("maxstep")["Value"];
    const nlohmann::json temperature = rig.Get("temperature");
    EXPECT_EQ(Error(temperature), 0);
    EXPECT_TRUE(temperature["Value"].is_number());
    const int32_t start = rig.Get("position")["Value"];

    // Returns once the controller took it, and reads as moving from then on.
    const auto sent = Clock::now();
    ASSERT_EQ(Error(rig.Put("move", "Position=" + std::to_string(start + 800))), 0);
    EXPECT_LT(Ms(sent), 1000);
    EXPECT_EQ(rig.Get("ismoving")["Value"], true);
    EXPECT_EQ(Error(rig.Put("move", "Position=10")), 0x40B);
    ASSERT_TRUE(WaitUntilStill(rig, 5000));
    EXPECT_EQ(rig.Get("position")["Value"], start + 800);

    // Targets beyond the ends stop at the ends, without an error.
    struct Case {
        int64_t target;
        int32_t reached;
    } cases[] = {{-10, 0}, {int64_t(maxStep) + 10, maxStep}};
    for (const Case& c : cases) {
        EXPECT_EQ(Error(rig.Put("move", "Position=" + std::to_string(c.target))), 0);
        ASSERT_TRUE(WaitUntilStill(rig, 30000));
        EXPECT_EQ(rig.Get("position")["Value"], c.reached) << c.target;
    }

    const nlohmann::json state = rig.Get("devicestate")["Value"];
    std::vector<std::string> names;
    for (const auto& entry : state) names.push_back(entry["Name"]);
    EXPECT_EQ(names, (std::vector<std::string>{"IsMoving", "Position", "Temperature", "TimeStamp"}));

    struct Refusal {
        const char* member;
        const char* form;
        int error;
    } refusals[] = {
        {"halt", "", 0x400},
        {"tempcomp", "TempComp=true", 0x400},
        {"action", "Action=Dance&Parameters=", 0x40C},
        {"commandblind", "Command=FG&Raw=true", 0x400},
        {"commandstring", "Command=FG&Raw=false", 0x400},
    };
    for (const Refusal& r : refusals) EXPECT_EQ(Error(rig.Put(r.member, r.form)), r.error) << r.member;
}

TEST_F(AlpacaServer, TheConnectionIsSharedByClientId) {
    struct Step {
        const char* member;
        const char* form;
        bool connectedAfter;
    } steps[] = {
        {"connected", "Connected=true&ClientID=1", true},
        {"connect", "ClientID=2", true},
        {"connected", "Connected=False&ClientID=1", true},
        {"disconnect", "ClientID=1", true},  // again: not an error, still shared
        {"disconnect", "ClientID=2", false},
        {"disconnect", "ClientID=2", false},
    };
    for (const Step& s : steps) {
        EXPECT_EQ(Error(rig.Put(s.member, s.form)), 0) << s.form;
        EXPECT_EQ(rig.Get("connected")["Value"], s.connectedAfter) << s.member << " " << s.form;
        EXPECT_EQ(Error(rig.Get("position")), s.connectedAfter ? 0 : 0x407) << s.form;
    }
    // The line is really closed: a second server can now have the device.
    ChildProcess other;
    uint16_t otherPort = 0;
    ASSERT_TRUE(rig.StartServer(other, otherPort, "other", {}));
    ASSERT_TRUE(rig.Connect(1));
    httplib::Client second("127.0.0.1", otherPort);
    httplib::Result result = second.Put("/api/v1/focuser/0/connect", "ClientID=9",
                                        "application/x-www-form-urlencoded");
    ASSERT_TRUE(result);
    const nlohmann::json refused = nlohmann::json::parse(result->body);
    EXPECT_EQ(refused["ErrorNumber"], 0x500);
    EXPECT_NE(refused["ErrorMessage"].get<std::string>().find("Could not open port " + rig.device),
              std::string::npos)
        << refused["ErrorMessage"];
}

TEST_F(AlpacaServer, DiscoveryAnswersOnLoopback) {
    ASSERT_NE(rig.discoveryPort, 0);
    sockaddr_in to4 = {};
    to4.sin_family = AF_INET;
    to4.sin_port = htons(rig.discoveryPort);
    to4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sockaddr_in6 to6 = {};
    to6.sin6_family = AF_INET6;
    to6.sin6_port = htons(rig.discoveryPort);
    to6.sin6_addr = in6addr_loopback;
    struct Case {
        std::string datagram;
        bool answered;
    } cases[] = {{"hello", false}, {"alpacadiscovery1", true}, {"alpacadiscovery1 and more", true}};
    for (int family : {AF_INET, AF_INET6}) {
        const int fd = socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const sockaddr* to = family == AF_INET ? reinterpret_cast<const sockaddr*>(&to4)
                                               : reinterpret_cast<const sockaddr*>(&to6);
        const socklen_t size = family == AF_INET ? sizeof to4 : sizeof to6;
        for (const Case& c : cases) {
            sendto(fd, c.datagram.data(), c.datagram.size(), 0, to, size);
            pollfd ready = {fd, POLLIN, 0};
            char reply[128] = {};
            const bool got = poll(&ready, 1, c.answered ? 2000 : 300) == 1 &&
                             recv(fd, reply, sizeof reply - 1, 0) > 0;
            EXPECT_EQ(got, c.answered) << c.datagram << (family == AF_INET ? " to 127.0.0.1" : " to ::1");
            if (got) {
                EXPECT_EQ(std::string(reply), "{\"AlpacaPort\":" + std::to_string(rig.port) + "}");
            }
        }
        close(fd);
    }
}

TEST_F(AlpacaServer, TheSetupPageSavesAndRefusesForeignPages) {
    const std::string own = "127.0.0.1:" + std::to_string(rig.port);
    struct Case {
        const char* origin;
        const char* host;  // nullptr: the right one
        const char* form;
        int status;
        int32_t maxStep;
    } cases[] = {
        {"http://evil.example", nullptr, "Do=save&MaxPosition=500", 403, 20000},
        {nullptr, "rebound.example", "Do=save&MaxPosition=600", 403, 20000},
        {"", nullptr, "Do=save&MaxPosition=700&StepSize=2.5&Speed=2", 200, 700},
        {"", nullptr, "Do=save&MaxPosition=900000", 200, 100000},
        {"", nullptr, "Do=zero", 409, 100000},  // nothing connected
    };
    for (const Case& c : cases) {
        httplib::Headers headers = {{"Host", c.host != nullptr ? c.host + (":" + std::to_string(rig.port)) : own}};
        if (c.origin != nullptr) headers.emplace("Origin", *c.origin ? c.origin : "http://" + own);
        httplib::Client client = rig.Client();
        httplib::Result result = client.Post("/setup/v1/focuser/0/setup", headers, c.form,
                                             "application/x-www-form-urlencoded");
        ASSERT_TRUE(result);
        EXPECT_EQ(result->status, c.status) << c.form << ": " << result->body;
        EXPECT_EQ(rig.Get("maxstep")["Value"], c.maxStep) << c.form;
        EXPECT_NE(ReadFile(rig.settingsFile).find("MaxPosition=" + std::to_string(c.maxStep)),
                  std::string::npos);
    }
    // A device change while connected is refused, with the reason.
    ASSERT_TRUE(rig.Connect(3));
    httplib::Client client = rig.Client();
    httplib::Result result = client.Post("/setup", {{"Origin", "http://" + own}},
                                         "Do=save&Device=/dev/null", "application/x-www-form-urlencoded");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 409);
    EXPECT_NE(result->body.find("cannot be changed while clients are connected"), std::string::npos);
    // Find Home asks first.
    result = client.Post("/setup", {{"Origin", "http://" + own}}, "Do=home",
                         "application/x-www-form-urlencoded");
    ASSERT_TRUE(result);
    EXPECT_NE(result->body.find("Continue?"), std::string::npos);
    EXPECT_EQ(rig.Get("ismoving")["Value"], false);
    struct Command {
        const char* form;
        const char* notice;
    } commands[] = {{"Do=zero", "Position set to zero."}, {"Do=home-confirmed", "Finding home."}};
    for (const Command& command : commands) {
        result = client.Post("/setup", {{"Origin", "http://" + own}}, command.form,
                             "application/x-www-form-urlencoded");
        ASSERT_TRUE(result);
        EXPECT_EQ(result->status, 200) << command.form;
        EXPECT_NE(result->body.find(command.notice), std::string::npos) << result->body;
    }
    EXPECT_EQ(rig.Get("ismoving")["Value"], true) << "homing";
    // A browser's PUT to the API from elsewhere is refused too.
    result = client.Put("/api/v1/focuser/0/move", {{"Origin", "http://evil.example"}}, "Position=5",
                        "application/x-www-form-urlencoded");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 403);
}

TEST_F(AlpacaServer, ManagementNamesTheDevice) {
    httplib::Client client = rig.Client();
    const nlohmann::json versions = nlohmann::json::parse(client.Get("/management/apiversions")->body);
    EXPECT_EQ(versions["Value"], nlohmann::json::array({1}));
    const nlohmann::json devices =
        nlohmann::json::parse(client.Get("/management/v1/configureddevices")->body);
    ASSERT_EQ(devices["Value"].size(), 1u);
    EXPECT_EQ(devices["Value"][0]["DeviceType"], "Focuser");
    EXPECT_EQ(devices["Value"][0]["DeviceNumber"], 0);
    const std::string id = devices["Value"][0]["UniqueID"];
    EXPECT_NE(ReadFile(rig.settingsFile).find("UniqueID=" + id), std::string::npos);
    const nlohmann::json description =
        nlohmann::json::parse(client.Get("/management/v1/description")->body);
    EXPECT_EQ(description["Value"]["Manufacturer"], "Tavrilen");
    EXPECT_EQ(description["Value"]["ManufacturerVersion"], FOCUSER_VERSION);
}

TEST_F(AlpacaServer, LimitsAnswerWithHttpErrors) {
    httplib::Client client = rig.Client();
    httplib::Result big = client.Put("/api/v1/focuser/0/move", std::string(20000, 'x'),
                                     "application/x-www-form-urlencoded");
    ASSERT_TRUE(big);
    EXPECT_EQ(big->status, 413);

    // Idle connections up to the cap, then one more request.
    std::vector<int> idle;
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(rig.port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int i = 0; i < 32; ++i) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
        idle.push_back(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));  // accepted, not queued
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    int status = 0;
    rig.Get("name", &status);
    EXPECT_EQ(status, 503);
    for (int fd : idle) close(fd);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    rig.Get("name", &status);
    EXPECT_EQ(status, 200);
}

TEST_F(AlpacaServer, StopsWithinASecondOnSignal) {
    ASSERT_TRUE(rig.Connect(1));
    httplib::Client keptAlive = rig.Client();
    ASSERT_TRUE(keptAlive.Get("/api/v1/focuser/0/position"));
    for (int signal : {SIGTERM}) {
        const auto sent = Clock::now();
        rig.server.Signal(signal);
        int status = 0;
        ASSERT_TRUE(rig.server.Wait(1000, status)) << "still running after 1 s";
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        EXPECT_LT(Ms(sent), 1000);
    }
    int status = 0;
    rig.Get("name", &status);
    EXPECT_EQ(status, -1) << "the port is closed";
}

}  // namespace
