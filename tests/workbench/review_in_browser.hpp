#pragma once
// What the workbench's browser tests share: georef-review over a fresh
// ReviewedBatch, and a headless Chromium (driven over its DevTools pipe) to
// look at it. A test without Chromium here is skipped before the batch is
// made. After each test the browser goes, the server is stopped with
// SIGTERM and must end cleanly, leaving no temporary file under the batch's
// directory.
//
//   class MosaicPage : public ReviewInBrowser {};
//   TEST_F(MosaicPage, Shows...) {
//       Browser().OpenUrl(Review().Address());
//       ASSERT_TRUE(WaitFor("document.body.dataset.ready === '1'"));
//   }

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>

#include "devtools/headless_browser.hpp"
#include "reviewed_batch.hpp"

namespace georef::workbench {

class ReviewInBrowser : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    const ReviewedBatch& Batch() const { return *m_batch; }
    ReviewProcess& Review() { return *m_review; }
    devtools::HeadlessBrowser& Browser() { return *m_browser; }
    // http://127.0.0.1:PORT, the server's origin.
    std::string Origin() const;

    // Evaluates condition until it is true, for up to two minutes: pages
    // load and scripts await the server meanwhile (an evaluation during a
    // navigation may fail). False, with a test failure, when it never is.
    bool WaitFor(const std::string& condition);

    // The centre of the element, in viewport CSS pixels, after scrolling it into view.
    std::pair<double, double> CentreOf(const std::string& selector);

private:
    std::unique_ptr<devtools::HeadlessBrowser> m_browser;
    std::unique_ptr<ReviewedBatch> m_batch;
    std::unique_ptr<ReviewProcess> m_review;
};

}  // namespace georef::workbench
