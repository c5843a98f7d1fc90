#pragma once
// The invariants the fuzz targets check, as plain functions over one input, so
// that the same checks run under libFuzzer (fuzz/*Fuzzer.cpp) and over the
// stored corpus in the ordinary unit tests (tests/fuzz/).
#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzzcheck {

// Called for every broken invariant. The default prints the message and
// aborts, which is what libFuzzer needs to keep the input; the unit tests
// install one that records a test failure and lets the check go on.
using FailureHandler = void (*)(const char* file, int line, const std::string& message);
void SetFailureHandler(FailureHandler handler);
void Fail(const char* file, int line, const std::string& message);

// The input as a quoted C string with everything unprintable escaped, for the
// failure message.
std::string Quoted(const char* text, size_t size);
std::string Quoted(const std::wstring& text);

// One input each; the input formats are described where each is defined.
void CheckReply(const uint8_t* data, size_t size);
void CheckNumberText(const uint8_t* data, size_t size);
void CheckSettingsText(const uint8_t* data, size_t size);
void CheckCommand(const uint8_t* data, size_t size);
void CheckLink(const uint8_t* data, size_t size);
void CheckRegistryScript(const uint8_t* data, size_t size);
// Built with the device server (fuzz/ApiRequestChecks.cpp), not in the checks library.
void CheckApiRequest(const uint8_t* data, size_t size);

// The module path part of CheckRegistryScript on its own: the path, quoted
// for the real registry script and substituted into it, must come out of the
// reader as the InprocServer32 default value, character for character.
void CheckModulePath(const std::wstring& path);

}  // namespace fuzzcheck

#define FUZZ_EXPECT(condition, detail)                                                  \
    do {                                                                                \
        if (!(condition)) ::fuzzcheck::Fail(__FILE__, __LINE__, std::string(#condition) + \
                                                                    ": " + (detail));   \
    } while (false)
