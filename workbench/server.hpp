#pragma once
// georef-review's HTTP server over a Workbench (cpp-httplib).
//
// Safety: it binds to 127.0.0.1 unless told otherwise. Every request needs
// the random token printed at start: in the address (?token=...), which
// sets a cookie (HttpOnly, SameSite=Strict) that later requests present.
// Requests that change anything (POST) need also the header
// X-Georef-Review: 1, which a page of another origin cannot send without
// the server's consent (it gives none). Files are chosen by sheet number or
// from the listing of OUTDIR/review, never by a path from the request;
// bodies over workbench::kMaxBodyBytes are refused; a bad request gets a 4xx
// with a message and the server goes on.

#include <memory>
#include <string>

#include "workbench/workbench.hpp"

namespace httplib {
class Server;
}

namespace georef::workbench {

struct ServerOptions {
    std::string bindAddress = "127.0.0.1";
    int port = 0;  // 0: any free port
    std::string leafletDirectory;  // Debian's libjs-leaflet files; empty: the installed ones
    std::string token;             // empty: a fresh random one
};

// The cookie and header names a page uses.
inline constexpr const char* kTokenCookie = "georef_review";
inline constexpr const char* kChangeHeader = "X-Georef-Review";

class Server {
public:
    // Binds the port. Throws WorkbenchError when it cannot.
    Server(Workbench& workbench, const ServerOptions& options);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    int Port() const noexcept { return m_port; }
    const std::string& Token() const noexcept { return m_token; }
    // The address to open: http://HOST:PORT/?token=TOKEN
    std::string Address() const;

    // Answers requests until Stop(); requests being answered then are
    // finished first.
    void Run();
    // From any thread.
    void Stop();

private:
    void Route();

    Workbench& m_workbench;
    ServerOptions m_options;
    std::string m_token;
    int m_port = 0;
    std::unique_ptr<httplib::Server> m_http;
};

// A fresh token: 128 random bits from the system, as 32 hex digits.
std::string NewToken();

}  // namespace georef::workbench
