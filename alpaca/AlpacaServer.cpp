#include "alpaca/AlpacaServer.h"

#include "alpaca/ApiRequest.h"
#include "alpaca/ApiResponse.h"
#include "alpaca/ConnectionQueue.h"

#include <strings.h>
#include <sys/socket.h>

namespace {

constexpr const char kJson[] = "application/json";
constexpr const char kText[] = "text/plain; charset=utf-8";
constexpr const char kHtml[] = "text/html; charset=utf-8";
constexpr const char kForm[] = "application/x-www-form-urlencoded";

Parameters QueryOf(const httplib::Request& request) {
    const size_t mark = request.target.find('?');
    return mark == std::string::npos ? Parameters() : ApiRequest::ParseParameters(request.target.substr(mark + 1));
}

Parameters FormOf(const httplib::Request& request) {
    if (request.get_header_value("Content-Type").rfind(kForm, 0) != 0) return Parameters();
    return ApiRequest::ParseParameters(request.body);
}

void Refuse(httplib::Response& response, int status, const std::string& reason) {
    response.status = status;
    response.set_content(reason + "\n", kText);
}

}  // namespace

AlpacaServer::AlpacaServer(FocuserDevice& device, EventLog& log, std::string machineName)
    : m_device(device), m_log(log), m_machineName(std::move(machineName)), m_pages(device) {
    m_http.new_task_queue = [] { return new ConnectionQueue(kConnectionCap, kSpareThreads); };
    m_http.set_payload_max_length(kBodyLimit);
    // A client that stalls mid-request or mid-answer is dropped after this.
    m_http.set_read_timeout(5, 0);
    m_http.set_write_timeout(5, 0);
    // An idle kept-alive connection holds a thread; give it back soon.
    m_http.set_keep_alive_timeout(2);
    m_http.set_keep_alive_max_count(1000);
    m_http.set_tcp_nodelay(true);
    Routes();
}

uint32_t AlpacaServer::NextTransaction() {
    // From 1, skipping 0 (which means "none") when it wraps.
    uint32_t id = ++m_transaction;
    while (id == 0) id = ++m_transaction;
    return id;
}

void AlpacaServer::Http::WidenBacklog(int backlog) {
    // listen() again on a listening socket only changes its backlog.
    ::listen(svr_sock_, backlog);
}

bool AlpacaServer::Bind(const std::string& host, int port, std::string& error) {
    if (port == 0) {
        const int bound = m_http.bind_to_any_port(host);
        if (bound > 0) {
            m_port = static_cast<uint16_t>(bound);
            m_http.WidenBacklog(static_cast<int>(kConnectionCap));
            return true;
        }
    } else if (m_http.bind_to_port(host, port)) {
        m_port = static_cast<uint16_t>(port);
        m_http.WidenBacklog(static_cast<int>(kConnectionCap));
        return true;
    }
    error = "cannot listen on " + host + ":" + std::to_string(port) +
            " (address in use, or not an address of this machine)";
    return false;
}

bool AlpacaServer::FromThisServer(const httplib::Request& request, httplib::Response& response) {
    std::string reason;
    if (SetupPages::NamesServer(request.get_header_value("Host"), request.get_header_value("Origin"),
                                m_port, m_machineName, reason)) {
        return true;
    }
    m_log.Write("refused " + request.method + " " + request.path + ": " + reason);
    Refuse(response, 403, reason);
    return false;
}

void AlpacaServer::Routes() {
    m_http.set_pre_routing_handler([](const httplib::Request&, httplib::Response& response) {
        if (!ConnectionQueue::Refusing()) return httplib::Server::HandlerResponse::Unhandled;
        Refuse(response, 503, "Too many connections; try again shortly.");
        response.set_header("Connection", "close");
        response.set_header("Retry-After", "1");
        return httplib::Server::HandlerResponse::Handled;
    });
    const auto api = [this](const httplib::Request& request, httplib::Response& response) {
        Api(request, response);
    };
    m_http.Get("/api/.*", api);
    m_http.Put("/api/.*", api);
    m_http.Post("/api/.*", api);
    m_http.Delete("/api/.*", api);
    m_http.Patch("/api/.*", api);

    m_http.Get("/management/apiversions",
               [this](const httplib::Request& request, httplib::Response& response) {
                   Management(request, response, nlohmann::json::array({1}));
               });
    m_http.Get("/management/v1/description",
               [this](const httplib::Request& request, httplib::Response& response) {
                   Management(request, response,
                              {{"ServerName", "Tavrilen Focuser device server"},
                               {"Manufacturer", "Tavrilen"},
                               {"ManufacturerVersion", FOCUSER_VERSION},
                               {"Location", m_machineName}});
               });
    m_http.Get("/management/v1/configureddevices",
               [this](const httplib::Request& request, httplib::Response& response) {
                   const nlohmann::json device = {{"DeviceName", "Tavrilen Focuser"},
                                                  {"DeviceType", "Focuser"},
                                                  {"DeviceNumber", 0},
                                                  {"UniqueID", m_device.Settings().uniqueId}};
                   Management(request, response, nlohmann::json::array({device}));
               });

    const auto setup = [this](const httplib::Request& request, httplib::Response& response) {
        Setup(request, response);
    };
    for (const char* path : {"/setup", "/setup/v1/focuser/0/setup"}) {
        m_http.Get(path, setup);
        m_http.Post(path, setup);
        m_http.Put(path, setup);
    }
    m_http.set_error_handler([](const httplib::Request&, httplib::Response& response) {
        if (response.body.empty()) {
            Refuse(response, response.status,
                   response.status == 404 ? "Not found" : "Request not understood");
        }
    });
}

void AlpacaServer::Api(const httplib::Request& request, httplib::Response& response) {
    const Verb verb = request.method == "GET" ? Verb::Get
                      : request.method == "PUT" ? Verb::Put
                                                : Verb::Other;
    // Browsers send Origin; other clients do not. A browser's request must
    // come from this server's own pages, not from a site or a rebound name.
    if (verb != Verb::Get && request.has_header("Origin") && !FromThisServer(request, response)) {
        return;
    }
    ApiCall call;
    std::string reason;
    const Parameters query = QueryOf(request);
    const Parameters form = verb == Verb::Put ? FormOf(request) : Parameters();
    const uint32_t transaction = NextTransaction();
    if (!ApiRequest::Parse(request.path, verb, query, form, call, reason)) {
        Refuse(response, 400, reason);
        return;
    }
    const DeviceAnswer answer = m_device.Call(call);
    response.set_content(
        ApiResponse::Body(call.clientTransactionId, transaction, answer, verb == Verb::Get), kJson);
}

void AlpacaServer::Management(const httplib::Request& request, httplib::Response& response,
                              const nlohmann::json& value) {
    uint32_t clientTransactionId = 0;
    for (const auto& parameter : QueryOf(request)) {
        if (strcasecmp(parameter.first.c_str(), "ClientTransactionID") != 0 &&
            strcasecmp(parameter.first.c_str(), "ClientID") != 0) {
            continue;
        }
        uint32_t id = 0;
        if (!ApiRequest::ParseId(parameter.second, id)) {
            Refuse(response, 400, parameter.first + " must be a whole number from 0 to 4294967295");
            return;
        }
        if (strcasecmp(parameter.first.c_str(), "ClientTransactionID") == 0) clientTransactionId = id;
    }
    response.set_content(ApiResponse::Management(clientTransactionId, NextTransaction(), value), kJson);
}

void AlpacaServer::Setup(const httplib::Request& request, httplib::Response& response) {
    if (request.method == "GET") {
        response.set_content(m_pages.Page(""), kHtml);
        return;
    }
    if (!FromThisServer(request, response)) return;
    int status = 200;
    const std::string page = m_pages.Post(FormOf(request), status);
    response.status = status;
    response.set_content(page, kHtml);
}
