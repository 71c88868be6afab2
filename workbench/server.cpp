#include "workbench/server.hpp"

#include <httplib.h>

#include <array>
#include <fstream>
#include <random>
#include <sstream>

#include "platform/file_system.hpp"
#include "workbench/pages.hpp"
#include "workbench/request_parsing.hpp"

namespace georef::workbench {

namespace {

using httplib::Request;
using httplib::Response;

// Worker threads answering requests: a fix runs in one while the page keeps
// loading crops and tiles in the others.
constexpr std::size_t kWorkerThreads = 8;
constexpr int kKeepAliveSeconds = 2;
constexpr int kLargestReducedSide = 4000;  // pixels of a reduced scan
constexpr int kLargestCrop = 1024;         // pixels a side of a crop
constexpr const char* kDefaultLeaflet = "/usr/share/javascript/leaflet";
// The files of the Leaflet package the map page uses.
const std::array<const char*, 6> kLeafletFiles = {"leaflet.js", "leaflet.css", "images/layers.png",
                                                  "images/layers-2x.png", "images/marker-icon.png",
                                                  "images/marker-shadow.png"};

std::string ContentType(const std::string& name) {
    const std::string::size_type dot = name.rfind('.');
    const std::string extension = dot == std::string::npos ? std::string() : name.substr(dot + 1);
    if (extension == "html") return "text/html; charset=utf-8";
    if (extension == "jpg") return "image/jpeg";
    if (extension == "png") return "image/png";
    if (extension == "css") return "text/css";
    if (extension == "js") return "text/javascript";
    if (extension == "json") return "application/json";
    return "application/octet-stream";
}

// The file's bytes; empty when it cannot be read.
std::optional<std::string> ReadBytes(const std::string& path) {
    if (!platform::Exists(path) || platform::IsDirectory(path)) {
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void SendFile(Response& res, const std::string& path, const std::string& name) {
    const std::optional<std::string> bytes = ReadBytes(path);
    if (!bytes) {
        throw RequestError(404, "no " + name);
    }
    res.set_content(*bytes, ContentType(name).c_str());
}

std::string Parameter(const Request& req, const char* name) {
    if (!req.has_param(name)) {
        throw RequestError(400, std::string("missing parameter ") + name);
    }
    return req.get_param_value(name);
}

}  // namespace

std::string NewToken() {
    std::random_device device;  // the system's source of randomness
    std::ostringstream text;
    for (int i = 0; i < 4; ++i) {
        char part[9];
        std::snprintf(part, sizeof part, "%08x", static_cast<unsigned>(device()));
        text << part;
    }
    return text.str();
}

Server::Server(Workbench& workbench, const ServerOptions& options)
    : m_workbench(workbench), m_options(options), m_token(options.token.empty() ? NewToken() : options.token),
      m_http(std::make_unique<httplib::Server>()) {
    if (m_options.leafletDirectory.empty()) {
        m_options.leafletDirectory = kDefaultLeaflet;
    }
    m_http->new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
    m_http->set_payload_max_length(kMaxBodyBytes);
    m_http->set_keep_alive_timeout(kKeepAliveSeconds);
    m_http->set_read_timeout(5, 0);
    m_http->set_write_timeout(5, 0);
    Route();
    if (options.port == 0) {
        m_port = m_http->bind_to_any_port(m_options.bindAddress);
    } else if (m_http->bind_to_port(m_options.bindAddress, options.port)) {
        m_port = options.port;
    } else {
        m_port = -1;
    }
    if (m_port <= 0) {
        throw WorkbenchError("cannot listen on " + m_options.bindAddress + " port " + std::to_string(options.port));
    }
}

Server::~Server() = default;

std::string Server::Address() const {
    const std::string host = m_options.bindAddress == "0.0.0.0" ? "127.0.0.1" : m_options.bindAddress;
    return "http://" + host + ":" + std::to_string(m_port) + "/?token=" + m_token;
}

void Server::Run() { m_http->listen_after_bind(); }

void Server::Stop() { m_http->stop(); }

void Server::Route() {
    httplib::Server& http = *m_http;
    // Every request: the token, in the address or the cookie; a change also
    // the header no foreign page can set.
    http.set_pre_routing_handler([this](const Request& req, Response& res) {
        res.set_header("Cache-Control", "no-store");
        res.set_header("X-Content-Type-Options", "nosniff");
        res.set_header("Referrer-Policy", "no-referrer");
        res.set_header("X-Frame-Options", "DENY");
        const auto refuse = [&](int status, const std::string& message) {
            res.status = status;
            res.set_content(message + "\n", "text/plain; charset=utf-8");
            return httplib::Server::HandlerResponse::Handled;
        };
        if (req.method != "GET" && req.method != "POST" && req.method != "HEAD") {
            return refuse(405, "only GET and POST are answered");
        }
        const bool inAddress = req.has_param("token") && SameSecret(req.get_param_value("token"), m_token);
        const bool inCookie = SameSecret(CookieValue(req.get_header_value("Cookie"), kTokenCookie), m_token);
        if (!inAddress && !inCookie) {
            return refuse(403, "open the address georef-review printed, with its token");
        }
        if (req.method == "POST" && req.get_header_value(kChangeHeader) != "1") {
            return refuse(403, std::string("a change needs the header ") + kChangeHeader);
        }
        if (inAddress) {
            res.set_header("Set-Cookie", std::string(kTokenCookie) + "=" + m_token +
                                             "; Path=/; HttpOnly; SameSite=Strict");
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    http.set_exception_handler([](const Request&, Response& res, std::exception_ptr thrown) {
        try {
            std::rethrow_exception(thrown);
        } catch (const RequestError& error) {
            res.status = error.Status();
            res.set_content(std::string(error.what()) + "\n", "text/plain; charset=utf-8");
        } catch (const std::exception& error) {
            res.status = 500;
            res.set_content(std::string(error.what()) + "\n", "text/plain; charset=utf-8");
        } catch (...) {
            res.status = 500;
            res.set_content("failed\n", "text/plain; charset=utf-8");
        }
    });
    http.set_error_handler([](const Request&, Response& res) {
        if (res.body.empty()) {
            res.set_content("HTTP status " + std::to_string(res.status) + "\n", "text/plain; charset=utf-8");
        }
    });

    http.Get("/", [](const Request&, Response& res) { res.set_redirect("/review/index.html", 303); });
    http.Get("/review/(.+)", [this](const Request& req, Response& res) {
        const std::string name = req.matches[1];
        if (!m_workbench.IsReviewFile(name)) {
            throw RequestError(404, "the review page has no " + name);
        }
        const std::string path = platform::JoinPath(platform::JoinPath(m_workbench.Options().outputDirectory,
                                                                       "review"), name);
        if (name == "index.html") {
            const std::optional<std::string> page = ReadBytes(path);
            if (!page) {
                throw RequestError(404, "no review page yet");
            }
            res.set_content(WithNavigation(*page, m_workbench.Sheets()), "text/html; charset=utf-8");
            return;
        }
        SendFile(res, path, name);
    });
    http.Get("/corners/([0-9]{5})\\.png", [this](const Request& req, Response& res) {
        const SheetState state = m_workbench.Sheet(ParseSheetNumber(req.matches[1]));
        SendFile(res,
                 platform::JoinPath(platform::JoinPath(m_workbench.Options().outputDirectory, "corners"),
                                    state.sheetText + ".png"),
                 state.sheetText + ".png");
    });
    http.Get("/leaflet/(.+)", [this](const Request& req, Response& res) {
        const std::string name = req.matches[1];
        for (const char* file : kLeafletFiles) {
            if (name == file) {
                SendFile(res, platform::JoinPath(m_options.leafletDirectory, file), name);
                return;
            }
        }
        throw RequestError(404, "no " + name + " in Leaflet");
    });
    http.Get("/map", [](const Request&, Response& res) { res.set_content(MapPage(), "text/html; charset=utf-8"); });
    http.Get("/api/area", [this](const Request&, Response& res) {
        res.set_content(m_workbench.AreaJson(), "application/json");
    });
    http.Get("/tiles/([^/]+)/([^/]+)/([^/]+)\\.jpg", [this](const Request& req, Response& res) {
        const int level = ParseWhole(req.matches[1], 0, 30, "level");
        const int x = ParseWhole(req.matches[2], 0, 1 << 24, "x");
        const int y = ParseWhole(req.matches[3], 0, 1 << 24, "y");
        const std::optional<std::string> tile = m_workbench.Tiles().Tile(level, x, y);
        if (!tile) {
            throw RequestError(404, "no map tile there");
        }
        res.set_content(*tile, "image/jpeg");
    });
    http.Get("/sheet/([^/]+)", [this](const Request& req, Response& res) {
        const SheetState state = m_workbench.Sheet(ParseSheetNumber(req.matches[1]));
        res.set_content(EditorPage(state.sheetText), "text/html; charset=utf-8");
    });
    http.Get("/api/sheet/([^/]+)", [this](const Request& req, Response& res) {
        res.set_content(m_workbench.SheetJson(ParseSheetNumber(req.matches[1])), "application/json");
    });
    http.Get("/api/sheet/([^/]+)/scan\\.jpg", [this](const Request& req, Response& res) {
        const int sheet = ParseSheetNumber(req.matches[1]);
        const int maxSide = ParseWhole(Parameter(req, "max"), 16, kLargestReducedSide, "max");
        int factor = 1;
        const std::string jpeg = m_workbench.ScanReduced(sheet, maxSide, factor);
        res.set_header("X-Reduction", std::to_string(factor));
        res.set_content(jpeg, "image/jpeg");
    });
    http.Get("/api/sheet/([^/]+)/crop\\.png", [this](const Request& req, Response& res) {
        const int sheet = ParseSheetNumber(req.matches[1]);
        const int column = ParseWhole(Parameter(req, "column"), -100000, 100000, "column");
        const int row = ParseWhole(Parameter(req, "row"), -100000, 100000, "row");
        const int size = ParseWhole(Parameter(req, "size"), 8, kLargestCrop, "size");
        res.set_content(m_workbench.ScanCrop(sheet, column, row, size), "image/png");
    });
    http.Post("/api/sheet/([^/]+)/check", [this](const Request& req, Response& res) {
        const int sheet = ParseSheetNumber(req.matches[1]);
        const std::pair<int, int> size = m_workbench.ScanSize(sheet);
        const CornerBody body = ParseCornerBody(req.body, size.first, size.second);
        res.set_content(m_workbench.Check(sheet, body.corners, body.acceptMirrored), "application/json");
    });
    http.Post("/api/sheet/([^/]+)/save", [this](const Request& req, Response& res) {
        const int sheet = ParseSheetNumber(req.matches[1]);
        const std::pair<int, int> size = m_workbench.ScanSize(sheet);
        const CornerBody body = ParseCornerBody(req.body, size.first, size.second);
        res.set_content(m_workbench.SaveAndRun(sheet, body.corners, body.acceptMirrored), "application/json");
    });
    // Back to the corners the batch finds or is given: the hand file removed
    // and the sheet run again. The body is not read.
    http.Post("/api/sheet/([^/]+)/forget", [this](const Request& req, Response& res) {
        res.set_content(m_workbench.ForgetHandCorners(ParseSheetNumber(req.matches[1])), "application/json");
    });
}

}  // namespace georef::workbench
