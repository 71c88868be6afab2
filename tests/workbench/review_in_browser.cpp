#include "review_in_browser.hpp"

#include <chrono>
#include <csignal>
#include <thread>
#include <vector>

namespace georef::workbench {

void ReviewInBrowser::SetUp() {
    try {
        m_browser = std::make_unique<devtools::HeadlessBrowser>();
    } catch (const devtools::BrowserUnavailable& why) {
        GTEST_SKIP() << "no browser here: " << why.what();
    }
    m_batch = std::make_unique<ReviewedBatch>();
    m_review = std::make_unique<ReviewProcess>(*m_batch);
}

void ReviewInBrowser::TearDown() {
    m_browser.reset();
    if (!m_review) {
        return;
    }
    const test::ProcessResult ended = m_review->Stop(SIGTERM);
    EXPECT_EQ(ended.exitStatus, 0) << ended.err;
    EXPECT_NE(ended.out.find("georef-review: stopped"), std::string::npos) << ended.out;
    EXPECT_EQ(TemporaryFilesUnder(m_batch->dir.Path()), std::vector<std::string>{});
}

std::string ReviewInBrowser::Origin() const { return "http://127.0.0.1:" + std::to_string(m_review->Port()); }

bool ReviewInBrowser::WaitFor(const std::string& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (std::chrono::steady_clock::now() < deadline) {
        try {
            if (m_browser->Evaluate("Boolean(" + condition + ")").get<bool>()) {
                return true;
            }
        } catch (const devtools::BrowserError&) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ADD_FAILURE() << "the page never got to " << condition;
    return false;
}

std::pair<double, double> ReviewInBrowser::CentreOf(const std::string& selector) {
    const nlohmann::json at =
        m_browser->Evaluate("(() => { const e = document.querySelector('" + selector +
                            "'); e.scrollIntoView({block: 'center'}); const r = e.getBoundingClientRect();"
                            " return [r.left + r.width / 2, r.top + r.height / 2]; })()");
    return {at.at(0).get<double>(), at.at(1).get<double>()};
}

}  // namespace georef::workbench
