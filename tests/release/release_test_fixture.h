// Shared set-up of the tests that talk to the local release server.
#pragma once

#include "foundation/paths.h"
#include "foundation/text.h"
#include "setup/release/http_client.h"
#include "tests/support/http_control.h"
#include "tests/support/release_server.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <string>

namespace qv::test {

// Pauses short enough for tests, long enough to be measured.
inline RetrySchedule shortSchedule() {
    RetrySchedule schedule;
    schedule.getPauses = {{100, 300}};
    schedule.downloadPauses = {{10, 20, 30, 40, 50}};
    return schedule;
}

// A release document or signature made by tests/install/make_signed_fixtures.sh
// (an index naming 1.0.0, its manifest, signatures by the test publisher and
// by others); empty name: no bytes.
inline std::string signedDocumentFixture(const std::string& name) {
    if (name.empty()) return {};
    std::wstring folder = joinPath(joinPath(binFolder(), L"signature-fixtures"), L"documents");
    return readFile(joinPath(folder, fromUtf8(name)));
}

class ServerTest : public testing::Test {
protected:
    void SetUp() override {
        if (!releaseServer().available()) GTEST_SKIP() << "needs tests/server/with_server.sh";
        ASSERT_TRUE(control.reset()) << "the release server's control API did not answer";
    }

    // A path of the server's root that belongs to this test alone.
    static std::string uniquePath(const std::string& name) {
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        std::string suite = info->test_suite_name();
        std::string test = info->name();
        std::string text = "/t/" + suite + "/" + test + "/" + name;
        for (char& c : text)
            if (c == '\\') c = '_';
        return text;
    }
    static std::wstring httpUrl(const std::string& path) {
        return releaseServer().httpUrl + fromUtf8(path);
    }

    ServerControl control;
};

}  // namespace qv::test
