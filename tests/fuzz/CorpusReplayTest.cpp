// Every stored fuzz input, run through its target's checks: inputs that once
// found a fault, and inputs that reach the corners of each target, stay
// covered by the ordinary test run (which never runs the fuzzers themselves).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/FuzzCheck.h"

namespace {

namespace fs = std::filesystem;

void RecordFailure(const char* file, int line, const std::string& message) {
    ADD_FAILURE_AT(file, line) << message;
}

struct Target {
    const char* name;
    void (*check)(const uint8_t*, size_t);
};

class CorpusReplay : public testing::TestWithParam<Target> {
protected:
    void SetUp() override { fuzzcheck::SetFailureHandler(RecordFailure); }
    void TearDown() override { fuzzcheck::SetFailureHandler(nullptr); }
};

std::vector<uint8_t> ReadFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

TEST_P(CorpusReplay, EveryStoredInputKeepsTheInvariants) {
    const fs::path folder = fs::path(FOCUSER_FUZZ_CORPUS) / GetParam().name;
    ASSERT_TRUE(fs::is_directory(folder)) << folder;
    size_t replayed = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        if (!entry.is_regular_file()) continue;
        SCOPED_TRACE(entry.path().string());
        const std::vector<uint8_t> input = ReadFile(entry.path());
        // libFuzzer never hands over a null pointer, even for no bytes.
        static const uint8_t kNothing = 0;
        GetParam().check(input.empty() ? &kNothing : input.data(), input.size());
        ++replayed;
    }
    EXPECT_GE(replayed, 3u) << "a target's corpus should hold a few inputs";
}

INSTANTIATE_TEST_SUITE_P(Targets, CorpusReplay,
                         testing::Values(Target{"reply", fuzzcheck::CheckReply},
                                         Target{"number_text", fuzzcheck::CheckNumberText},
                                         Target{"settings_text", fuzzcheck::CheckSettingsText},
                                         Target{"command", fuzzcheck::CheckCommand},
                                         Target{"link", fuzzcheck::CheckLink},
                                         Target{"registry_script", fuzzcheck::CheckRegistryScript}),
                         [](const testing::TestParamInfo<Target>& info) { return std::string(info.param.name); });

}  // namespace
