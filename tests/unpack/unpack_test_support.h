// Shared pieces of the on-disk unpack tests: fixture paths, a recording
// progress, and folder read-back.
#pragma once

#include "setup/core/progress.h"

#include <map>
#include <string>
#include <vector>

namespace qv::test {

// The folder of archives made by make_fixtures.sh at build time.
std::wstring fixtureFolder();
std::wstring fixture(const std::wstring& name);

// Every file below folder, by relative path with backslashes, with content.
std::map<std::wstring, std::string> readTree(const std::wstring& folder);

// A progress that records what it was told and can ask to stop.
class RecordingProgress final : public Progress {
public:
    std::vector<std::wstring> statuses;
    std::vector<std::wstring> details;
    std::vector<double> fractions;
    std::vector<unsigned long long> fractionTicks;
    bool cancel = false;

    void setStatus(const std::wstring& text) override { statuses.push_back(text); }
    void setProgress(double fraction) override;
    void setDetail(const std::wstring& text) override { details.push_back(text); }
    bool isCancelled() override { return cancel; }
    bool keepWaitingForApp() override { return false; }
};

}  // namespace qv::test
