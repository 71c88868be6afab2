#include "devtools/headless_browser.hpp"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/atomic_file.hpp"
#include "platform/web_text.hpp"

namespace georef::devtools {

namespace {

using Clock = std::chrono::steady_clock;
using nlohmann::json;

// A file path as a file:// URL: absolute, with every byte outside the
// unreserved set and '/' percent-encoded.
std::string FileUrl(const std::string& path) {
    return "file://" + platform::PercentEncodePath(std::filesystem::absolute(path).lexically_normal().string());
}

std::string DecodeBase64(const std::string& text) {
    std::string bytes;
    bytes.reserve(text.size() / 4 * 3);
    unsigned value = 0;
    int bits = 0;
    for (const char c : text) {
        int digit;
        if (c >= 'A' && c <= 'Z') {
            digit = c - 'A';
        } else if (c >= 'a' && c <= 'z') {
            digit = c - 'a' + 26;
        } else if (c >= '0' && c <= '9') {
            digit = c - '0' + 52;
        } else if (c == '+') {
            digit = 62;
        } else if (c == '/') {
            digit = 63;
        } else {
            continue;  // padding
        }
        value = (value << 6) | static_cast<unsigned>(digit);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes += static_cast<char>((value >> bits) & 0xFF);
        }
    }
    return bytes;
}

// What a headless browser needs to run as root in a container, with no
// network traffic of its own and nothing kept between runs.
std::vector<std::string> BrowserArguments(const BrowserOptions& options, const std::string& profile) {
    return {options.executable,
            "--headless",
            "--no-sandbox",
            "--disable-gpu",
            "--disable-quic",
            "--no-first-run",
            "--no-default-browser-check",
            "--disable-background-networking",
            "--disable-component-update",
            "--disable-sync",
            "--disable-extensions",
            "--disable-dev-shm-usage",
            "--hide-scrollbars",
            "--mute-audio",
            "--allow-file-access-from-files",
            "--remote-debugging-pipe",
            "--user-data-dir=" + profile,
            "--window-size=" + std::to_string(options.viewportWidth) + "," + std::to_string(options.viewportHeight),
            "about:blank"};
}

}  // namespace

HeadlessBrowser::HeadlessBrowser(const BrowserOptions& options) : m_options(options) {
    std::string pattern = std::filesystem::temp_directory_path().string() + "/georef-browser-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw BrowserUnavailable(std::string("cannot create a browser profile directory: ") + std::strerror(errno));
    }
    m_profile = pattern;

    int sockets[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0) {
        std::filesystem::remove_all(m_profile);
        throw BrowserUnavailable(std::string("cannot create the protocol pipe: ") + std::strerror(errno));
    }
    std::vector<std::string> args = BrowserArguments(options, m_profile);
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid == 0) {
        // The browser reads commands from descriptor 3 and writes replies to 4.
        ::setpgid(0, 0);
        const int nullFd = ::open("/dev/null", O_RDWR);
        const int high = ::fcntl(sockets[1], F_DUPFD, 10);
        ::dup2(nullFd, 0);
        ::dup2(nullFd, 1);
        ::dup2(nullFd, 2);
        ::dup2(high, 3);
        ::dup2(high, 4);
        ::close_range(5, ~0U, 0);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(sockets[1]);
    m_socket = sockets[0];
    if (pid < 0) {
        ::close(m_socket);
        std::filesystem::remove_all(m_profile);
        throw BrowserUnavailable("cannot start a process for the browser");
    }
    m_pid = pid;
    try {
        const int created = Send("Target.createTarget", {{"url", "about:blank"}}, false);
        const std::string targetId = Await(created).at("targetId").get<std::string>();
        const int attached = Send("Target.attachToTarget", {{"targetId", targetId}, {"flatten", true}}, false);
        m_sessionId = Await(attached).at("sessionId").get<std::string>();
        Await(Send("Page.enable", json::object()));
        Await(Send("Emulation.setDeviceMetricsOverride", {{"width", options.viewportWidth},
                                                          {"height", options.viewportHeight},
                                                          {"deviceScaleFactor", 1},
                                                          {"mobile", false}}));
    } catch (const std::exception& e) {
        // A browser that ended (not installed, cannot run here) is unavailable;
        // one that runs but does not answer as it should is an error.
        // Its end may lag a moment behind the closing of the pipe.
        int status = 0;
        bool ended = false;
        for (int wait = 0; wait < 100 && !ended; ++wait) {
            ended = ::waitpid(m_pid, &status, WNOHANG) == m_pid;
            if (!ended) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        }
        if (ended) {
            ::kill(-m_pid, SIGKILL);
            m_pid = -1;
        }
        Shutdown();
        if (ended) {
            const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            throw BrowserUnavailable(options.executable + " did not start as a headless browser (exit status " +
                                     std::to_string(code) + (code == 127 ? ": not found" : "") + ")");
        }
        throw BrowserError(options.executable + " started but did not answer as a headless browser (" + e.what() +
                           ")");
    }
}

HeadlessBrowser::~HeadlessBrowser() { Shutdown(); }

void HeadlessBrowser::Shutdown() noexcept {
    if (m_pid > 0) {
        if (m_socket >= 0) {
            const std::string close = json{{"id", m_nextId++}, {"method", "Browser.close"}}.dump() + '\0';
            ::send(m_socket, close.data(), close.size(), MSG_NOSIGNAL);
        }
        int status = 0;
        const Clock::time_point deadline = Clock::now() + std::chrono::seconds(5);
        while (::waitpid(m_pid, &status, WNOHANG) == 0) {
            if (Clock::now() > deadline) {
                ::kill(-m_pid, SIGKILL);
                ::waitpid(m_pid, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ::kill(-m_pid, SIGKILL);  // helpers of the browser that outlived it
        m_pid = -1;
    }
    if (m_socket >= 0) {
        ::close(m_socket);
        m_socket = -1;
    }
    if (!m_profile.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_profile, ignored);
        m_profile.clear();
    }
}

int HeadlessBrowser::Send(const std::string& method, const json& params, bool toPage) {
    const int id = m_nextId++;
    json message = {{"id", id}, {"method", method}, {"params", params}};
    if (toPage) {
        message["sessionId"] = m_sessionId;
    }
    const std::string bytes = message.dump() + '\0';
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(m_socket, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            throw BrowserError("the browser does not take commands any more (" + method + ")");
        }
        sent += static_cast<std::size_t>(n);
    }
    return id;
}

json HeadlessBrowser::Receive() {
    const Clock::time_point deadline = Clock::now() + m_options.timeout;
    for (;;) {
        const std::string::size_type end = m_incoming.find('\0');
        if (end != std::string::npos) {
            const std::string text = m_incoming.substr(0, end);
            m_incoming.erase(0, end + 1);
            try {
                return json::parse(text);
            } catch (const json::exception&) {
                throw BrowserError("the browser sent something that is not JSON");
            }
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            throw BrowserError("the browser gave no answer within " + std::to_string(m_options.timeout.count()) + " s");
        }
        pollfd p{m_socket, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno != EINTR) {
            throw BrowserError(std::string("waiting for the browser: ") + std::strerror(errno));
        }
        if (ready <= 0) {
            continue;
        }
        char buffer[65536];
        const ssize_t n = ::recv(m_socket, buffer, sizeof buffer, 0);
        if (n == 0) {
            throw BrowserError("the browser ended");
        }
        if (n < 0 && errno != EINTR) {
            throw BrowserError(std::string("reading from the browser: ") + std::strerror(errno));
        }
        if (n > 0) {
            m_incoming.append(buffer, static_cast<std::size_t>(n));
        }
    }
}

json HeadlessBrowser::Await(int id) {
    for (;;) {
        json message = Receive();
        const auto found = message.find("id");
        if (found == message.end()) {
            m_events.push_back(std::move(message));
            continue;
        }
        if (found->get<int>() != id) {
            continue;
        }
        if (message.contains("error")) {
            throw BrowserError("the browser refused a command: " + message["error"].dump());
        }
        return message.value("result", json::object());
    }
}

json HeadlessBrowser::AwaitEvent(const std::string& method) {
    for (;;) {
        json event;
        if (!m_events.empty()) {
            event = std::move(m_events.front());
            m_events.pop_front();
        } else {
            event = Receive();
        }
        if (event.value("method", "") == method) {
            return event.value("params", json::object());
        }
    }
}

PageLoad HeadlessBrowser::Open(const std::string& path) { return OpenUrl(FileUrl(path)); }

void HeadlessBrowser::Click(double x, double y) {
    for (const char* type : {"mousePressed", "mouseReleased"}) {
        Await(Send("Input.dispatchMouseEvent",
                   {{"type", type}, {"x", x}, {"y", y}, {"button", "left"}, {"clickCount", 1}}));
    }
}

PageLoad HeadlessBrowser::OpenUrl(const std::string& url) {
    m_events.clear();
    const json navigated = Await(Send("Page.navigate", {{"url", url}}));
    if (navigated.contains("errorText")) {
        throw BrowserError("the browser cannot open " + url + ": " + navigated["errorText"].get<std::string>());
    }
    AwaitEvent("Page.loadEventFired");
    // The load event's handlers have run once loadEventEnd is set.
    const json timing = Evaluate(
        "new Promise(done => { const look = () => { const t = performance.getEntriesByType('navigation')[0];"
        " if (t && t.loadEventEnd > 0) done({dom: t.domContentLoadedEventEnd, load: t.loadEventEnd});"
        " else setTimeout(look, 10); }; look(); })");
    return {timing.at("dom").get<double>(), timing.at("load").get<double>()};
}

json HeadlessBrowser::Evaluate(const std::string& expression) {
    const json result = Await(Send("Runtime.evaluate", {{"expression", expression},
                                                        {"awaitPromise", true},
                                                        {"returnByValue", true}}));
    if (result.contains("exceptionDetails")) {
        throw BrowserError("a script failed in the page: " + result["exceptionDetails"].dump());
    }
    return result.at("result").value("value", json());
}

void HeadlessBrowser::LoadImages(int maxHeight) {
    Evaluate("(async () => {"
             " const settled = img => img.complete ? Promise.resolve() : new Promise(done => {"
             "   img.addEventListener('load', done, {once: true});"
             "   img.addEventListener('error', done, {once: true});"
             "   setTimeout(done, 20000); });"
             " for (const img of Array.from(document.images)) {"
             "   if (img.getBoundingClientRect().top + window.scrollY > " + std::to_string(maxHeight) + ") continue;"
             "   img.scrollIntoView({block: 'center'});"
             "   await settled(img);"
             " }"
             " window.scrollTo(0, 0);"
             " await new Promise(done => requestAnimationFrame(() => requestAnimationFrame(done)));"
             " return true; })()");
}

std::string HeadlessBrowser::Screenshot(int maxHeight) {
    const int pageHeight = Evaluate("Math.ceil(document.documentElement.scrollHeight)").get<int>();
    const int height = std::max(1, std::min(pageHeight, maxHeight));
    const json shot = Await(Send("Page.captureScreenshot",
                                 {{"format", "png"},
                                  {"captureBeyondViewport", true},
                                  {"clip", {{"x", 0}, {"y", 0}, {"width", m_options.viewportWidth},
                                            {"height", height}, {"scale", 1}}}}));
    return DecodeBase64(shot.at("data").get<std::string>());
}

void WriteScreenshot(const std::string& pagePath, const std::string& pngPath, int maxHeight,
                     const BrowserOptions& options) {
    if (!std::filesystem::is_regular_file(pagePath)) {
        throw std::runtime_error("no page at " + pagePath);
    }
    HeadlessBrowser browser(options);
    browser.Open(pagePath);
    browser.LoadImages(maxHeight);
    const std::string png = browser.Screenshot(maxHeight);
    platform::AtomicFile file(pngPath);
    if (std::fwrite(png.data(), 1, png.size(), file.Stream()) != png.size()) {
        throw std::runtime_error("cannot write " + pngPath);
    }
    file.Commit();
}

}  // namespace georef::devtools
