// The request fuzzer's stored inputs, through the same checks.
#include <dirent.h>

#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "fuzz/FuzzCheck.h"

namespace {

void RecordFailure(const char* file, int line, const std::string& message) {
    ADD_FAILURE_AT(file, line) << message;
}

TEST(ApiRequestCorpus, EveryStoredInputKeepsTheInvariants) {
    fuzzcheck::SetFailureHandler(RecordFailure);
    const std::string folder = FOCUSER_FUZZ_CORPUS "/api_request";
    DIR* dir = opendir(folder.c_str());
    ASSERT_NE(dir, nullptr) << folder;
    int inputs = 0;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        std::ifstream file(folder + "/" + entry->d_name, std::ios::binary);
        std::ostringstream bytes;
        bytes << file.rdbuf();
        const std::string input = bytes.str();
        SCOPED_TRACE(entry->d_name);
        fuzzcheck::CheckApiRequest(reinterpret_cast<const uint8_t*>(input.data()), input.size());
        ++inputs;
    }
    closedir(dir);
    EXPECT_GE(inputs, 5);
}

}  // namespace
