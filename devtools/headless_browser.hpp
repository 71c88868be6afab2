#pragma once
// A headless Chromium driven over its DevTools protocol on a pipe: opens a
// page from the file system, evaluates scripts in it and takes screenshots.
// Used to look at the review page as a person's browser shows it.
//
// The browser runs as a child process in its own process group with a fresh
// profile in a temporary directory; both go when the object goes.

#include <chrono>
#include <deque>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

namespace georef::devtools {

// Chromium is not installed or its process ends before it answers.
class BrowserUnavailable : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The browser stopped answering, died, or reported an error.
class BrowserError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct BrowserOptions {
    std::string executable = "chromium";  // looked up in PATH
    int viewportWidth = 1280;             // CSS pixels
    int viewportHeight = 900;
    std::chrono::seconds timeout{90};     // for each step
};

// Times of one page load, milliseconds from the start of navigation as the
// page itself measured them.
struct PageLoad {
    double domContentLoadedMs = 0.0;
    double loadMs = 0.0;  // the load event ended: every eager image is there
};

class HeadlessBrowser {
public:
    // Starts the browser and opens one blank tab. Throws BrowserUnavailable
    // when the browser process ends (not installed, cannot run here), and
    // BrowserError when it runs but does not answer on the protocol.
    explicit HeadlessBrowser(const BrowserOptions& options = {});
    ~HeadlessBrowser();
    HeadlessBrowser(const HeadlessBrowser&) = delete;
    HeadlessBrowser& operator=(const HeadlessBrowser&) = delete;

    // Opens a local file (any path; made absolute) and waits for its load
    // event. Throws BrowserError.
    PageLoad Open(const std::string& path);

    // Opens an address (http://...) and waits for its load event. Throws
    // BrowserError.
    PageLoad OpenUrl(const std::string& url);

    // A left click at (x, y), CSS pixels of the viewport, as a person's
    // mouse makes it: pressed and released there. Throws BrowserError.
    void Click(double x, double y);

    // Evaluates a JavaScript expression in the page, awaiting a promise, and
    // returns its value as JSON. Throws BrowserError, also when the script
    // throws.
    nlohmann::json Evaluate(const std::string& expression);

    // Scrolls every image within the first maxHeight CSS pixels of the page
    // into view and waits until each has loaded or failed (lazy images load
    // only then), then returns to the top.
    void LoadImages(int maxHeight);

    // PNG bytes of the page from its top, the viewport's width and the
    // page's height up to maxHeight CSS pixels. Throws BrowserError.
    std::string Screenshot(int maxHeight);

private:
    // Closes the browser (asks, then kills its process group after 5 s) and
    // removes the profile. Safe to call twice.
    void Shutdown() noexcept;
    int Send(const std::string& method, const nlohmann::json& params, bool toPage = true);
    nlohmann::json Await(int id);
    nlohmann::json AwaitEvent(const std::string& method);
    nlohmann::json Receive();  // next message from the browser, waiting until the deadline

    BrowserOptions m_options;
    int m_pid = -1;       // the browser, leader of its own process group
    int m_socket = -1;    // our end of the protocol pipe
    std::string m_profile;
    std::string m_sessionId;
    std::string m_incoming;           // bytes read but not yet split into messages
    std::deque<nlohmann::json> m_events;  // events that arrived while waiting for a reply
    int m_nextId = 1;
};

// Opens the page in a fresh headless browser, loads its images and writes a
// screenshot of its top (up to maxHeight CSS pixels) as PNG through a
// temporary file. Throws BrowserUnavailable, BrowserError, or
// std::runtime_error when the file cannot be written.
void WriteScreenshot(const std::string& pagePath, const std::string& pngPath, int maxHeight = 4000,
                     const BrowserOptions& options = {});

}  // namespace georef::devtools
