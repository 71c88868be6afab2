// georef-review under 10 000 hostile requests: no token, a wrong token,
// path traversal in every parameter, huge bodies, broken JSON, unknown
// sheets, requests that change something without the page's header, and
// concurrent saves of one sheet. Each gets a 4xx with a message (the saves
// are serialised and all succeed), no answer holds a byte of a file outside
// the output directory, nothing outside it changes, the server answers a
// good request at the end, and SIGTERM leaves no temporary file.

#include <gtest/gtest.h>

#include <httplib.h>

#include <csignal>
#include <filesystem>
#include <map>
#include <thread>

#include "batch/journal.hpp"
#include "reviewed_batch.hpp"
#include "workbench/request_parsing.hpp"

namespace georef::workbench {
namespace {

namespace fs = std::filesystem;

constexpr const char* kCanary = "canary-7f3a91c2-not-to-be-served";

struct Hostile {
    const char* method;
    std::string path;
    bool withCookie;
    bool withHeader;
    std::string body;
};

// Every file outside out/ with its size and time: what must not change.
std::map<std::string, std::pair<std::uintmax_t, fs::file_time_type>> Outside(const ReviewedBatch& batch) {
    std::map<std::string, std::pair<std::uintmax_t, fs::file_time_type>> files;
    for (const auto& entry : fs::recursive_directory_iterator(batch.dir.Path())) {
        const std::string path = entry.path().string();
        if (path.rfind(batch.out, 0) == 0 || !entry.is_regular_file()) {
            continue;
        }
        files[path] = {entry.file_size(), entry.last_write_time()};
    }
    return files;
}

std::string ExactCornersBody(const ReviewedBatch& batch) {
    std::string body = "{\"corners\": [";
    for (int k = 0; k < 4; ++k) {
        const corners::PlanePoint p = batch.ExactPlane(k);
        body += (k ? ", [" : "[") + std::to_string(p.column) + ", " + std::to_string(p.row) + "]";
    }
    return body + "]}";
}

std::vector<Hostile> HostileRequests() {
    const std::string traversal[] = {"..%2F..%2Fsecret.txt", "%2e%2e/%2e%2e/secret.txt", "../../secret.txt",
                                     "..%5C..%5Csecret.txt", "%252e%252e%252fsecret.txt", "/etc/passwd",
                                     "....//....//secret.txt", "secret.txt%00.png"};
    std::vector<Hostile> requests = {
        {"GET", "/api/area", false, false, ""},
        {"GET", "/api/area?token=0123456789abcdef0123456789abcdef", false, false, ""},
        {"GET", "/review/index.html?token=", false, false, ""},
        {"GET", "/api/sheet/40599", true, false, ""},
        {"GET", "/api/sheet/99999", true, false, ""},
        {"GET", "/api/sheet/4057", true, false, ""},
        {"GET", "/api/sheet/40572/crop.png?column=1&row=1&size=99999999", true, false, ""},
        {"GET", "/api/sheet/40572/crop.png?column=1e9&row=1&size=64", true, false, ""},
        {"GET", "/api/sheet/40572/scan.jpg", true, false, ""},
        {"GET", "/tiles/99/0/0.jpg", true, false, ""},
        {"GET", "/tiles/0/-1/0.jpg", true, false, ""},
        {"GET", "/tiles/0/999999/0.jpg", true, false, ""},
        {"POST", "/api/sheet/40572/save", true, false, "{}"},
        {"POST", "/api/sheet/40572/check", true, true, "{\"corners\": [[1, 2], [3"},
        {"POST", "/api/sheet/40572/check", true, true, "[1, 2, 3]"},
        {"POST", "/api/sheet/40572/check", true, true, "{\"corners\": [[1, 2], [3, 4], [5, 6]]}"},
        {"POST", "/api/sheet/40572/check", true, true, "{\"corners\": [[1e999, 2], [3, 4], [5, 6], [7, 8]]}"},
        {"POST", "/api/sheet/40572/check", true, true, "{\"corners\": [[\"1\", 2], [3, 4], [5, 6], [7, 8]]}"},
        {"POST", "/api/sheet/40572/save", true, true, std::string(64 * 1024, '[')},
        {"POST", "/api/sheet/40572/save", true, true, std::string(1 << 20, ' ')},
        {"POST", "/api/sheet/40599/save", true, true, "{\"corners\": [[1, 2], [3, 4], [5, 6], [7, 8]]}"},
        {"POST", "/api/sheet/40572/check", true, true,
         "{\"corners\": [[1, 2], [3, 4], [5, 6], [7, 8]], \"acceptMirrored\": \"yes\"}"},
        {"POST", "/api/sheet/40572/forget", true, false, ""},
        {"POST", "/api/sheet/40571/forget", true, true, ""},  // it has no hand corner file
        {"DELETE", "/api/sheet/40572", true, true, ""},
        {"PUT", "/review/index.html", true, true, "x"},
    };
    for (const std::string& t : traversal) {
        for (const std::string& path :
             {"/review/" + t, "/corners/" + t, "/leaflet/" + t, "/sheet/" + t, "/api/sheet/" + t,
              "/api/sheet/" + t + "/scan.jpg?max=100", "/api/sheet/40572/crop.png?column=" + t + "&row=1&size=16",
              "/api/sheet/40572/crop.png?column=1&row=" + t + "&size=16",
              "/api/sheet/40572/scan.jpg?max=" + t, "/tiles/" + t + "/0/0.jpg", "/tiles/0/0/" + t}) {
            requests.push_back({"GET", path, true, false, ""});
        }
        requests.push_back({"POST", "/api/sheet/" + t + "/save", true, true, "{}"});
        requests.push_back({"POST", "/api/sheet/" + t + "/forget", true, true, ""});
    }
    return requests;
}

TEST(ReviewServer, AnswersTenThousandHostileRequestsWithRefusalsAndTouchesNothingOutside) {
    const ReviewedBatch batch;
    test::WriteFileBytes(batch.dir.File("secret.txt"), kCanary);
    test::WriteFileBytes(batch.dir.File("secret.png"), kCanary);
    const auto before = Outside(batch);
    ReviewProcess review(batch);
    const std::string cookie = std::string("georef_review=") + review.Token();

    const std::vector<Hostile> requests = HostileRequests();
    // A server that refuses a huge body closes the connection while the
    // client still writes it: the client must see the broken pipe as an
    // error, not die of its signal.
    std::signal(SIGPIPE, SIG_IGN);
    std::map<int, int> statuses;
    httplib::Client client("127.0.0.1", review.Port());
    client.set_url_encode(false);
    client.set_read_timeout(30, 0);
    for (int i = 0; i < 10000; ++i) {
        const Hostile& r = requests[static_cast<std::size_t>(i) % requests.size()];
        httplib::Headers headers;
        if (r.withCookie) {
            headers.emplace("Cookie", i % 7 == 0 ? "georef_review=" + std::string(32, 'f') : cookie);
            if (i % 7 == 0) {
                headers.emplace("Cookie", "other=" + review.Token());
            }
        }
        if (r.withHeader) {
            headers.emplace("X-Georef-Review", "1");
        }
        httplib::Result answer = std::string(r.method) == "GET"    ? client.Get(r.path.c_str(), headers)
                                 : std::string(r.method) == "POST" ? client.Post(r.path.c_str(), headers, r.body,
                                                                                 "application/json")
                                 : std::string(r.method) == "PUT"  ? client.Put(r.path.c_str(), headers, r.body,
                                                                                "text/plain")
                                                                   : client.Delete(r.path.c_str(), headers);
        if (!answer) {
            // A body the server refuses to read may end the connection
            // before the client has sent it all; nothing else may.
            ASSERT_GT(r.body.size(), kMaxBodyBytes) << r.method << " " << r.path;
            ++statuses[-1];
            continue;
        }
        ++statuses[answer->status];
        ASSERT_GE(answer->status, 400) << r.method << " " << r.path;
        ASSERT_LT(answer->status, 500) << r.method << " " << r.path << ": " << answer->body;
        ASSERT_FALSE(answer->body.empty()) << r.method << " " << r.path;
        ASSERT_EQ(answer->body.find(kCanary), std::string::npos) << r.method << " " << r.path;
    }
    for (const auto& [status, count] : statuses) {
        std::cout << "status " << status << ": " << count << " requests\n";
    }

    // Four saves of one sheet at once: one after the other, the first done,
    // the others finding it unchanged.
    const std::string body = ExactCornersBody(batch);
    std::vector<std::thread> savers;
    std::vector<int> saved(4, 0);
    for (int s = 0; s < 4; ++s) {
        savers.emplace_back([&, s] {
            httplib::Client own("127.0.0.1", review.Port());
            own.set_read_timeout(120, 0);
            const httplib::Result answer = own.Post("/api/sheet/40572/save",
                                                    {{"Cookie", cookie}, {"X-Georef-Review", "1"}}, body,
                                                    "application/json");
            saved[static_cast<std::size_t>(s)] =
                answer && (answer->body.find("\"status\":\"done\"") != std::string::npos ||
                           answer->body.find("\"status\":\"skipped\"") != std::string::npos)
                    ? 1
                    : 0;
        });
    }
    for (std::thread& saver : savers) {
        saver.join();
    }
    EXPECT_EQ(saved, std::vector<int>(4, 1));
    EXPECT_EQ(batch::Journal::Load(batch.out).Find(40572)->status, batch::SheetStatus::done);

    httplib::Client good("127.0.0.1", review.Port());
    const httplib::Result area = good.Get("/api/area", {{"Cookie", cookie}});
    ASSERT_TRUE(area);
    EXPECT_EQ(area->status, 200);
    EXPECT_NE(area->body.find("\"40572\""), std::string::npos);

    const test::ProcessResult ended = review.Stop(SIGTERM);
    EXPECT_EQ(ended.exitStatus, 0) << ended.err;
    EXPECT_EQ(TemporaryFilesUnder(batch.dir.Path()), std::vector<std::string>{});
    EXPECT_EQ(Outside(batch), before);
}

}  // namespace
}  // namespace georef::workbench
