#pragma once
// The JSON bodies of the HTTP 200 answers: the envelope every answer carries,
// with the member's value for reads.
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

// ASCOM error numbers the server answers with.
namespace ascom_error {
constexpr int kNotImplemented = 0x400;
constexpr int kInvalidValue = 0x401;
constexpr int kNotConnected = 0x407;
constexpr int kInvalidOperation = 0x40B;
constexpr int kActionNotImplemented = 0x40C;
// The driver's own failures, one number per message (docs/alpaca.md lists them).
constexpr int kCouldNotOpen = 0x500;
constexpr int kDidNotRespond = 0x501;
constexpr int kLinkFail = 0x502;
constexpr int kNoResponse = 0x503;
constexpr int kOutOfMemory = 0x504;
constexpr int kBusy = 0x505;
constexpr int kOtherDriverError = 0x5FF;

// The number for one of the driver's messages.
int ForDriverMessage(const std::string& message);
}  // namespace ascom_error

// What the device made of a call: an error number and message, or a value.
struct DeviceAnswer {
    int errorNumber = 0;
    std::string errorMessage;
    nlohmann::json value;  // null for members that return nothing

    static DeviceAnswer Value(nlohmann::json value);
    static DeviceAnswer Error(int number, std::string message);
    static DeviceAnswer DriverError(const std::string& message);
    bool Failed() const { return errorNumber != 0; }
};

class ApiResponse {
public:
    // withValue: reads carry "Value" even when they failed (as null), since
    // some clients parse it before looking at the error.
    static std::string Body(uint32_t clientTransactionId, uint32_t serverTransactionId,
                            const DeviceAnswer& answer, bool withValue);
    // The management API's answers: a value and the two transaction IDs.
    static std::string Management(uint32_t clientTransactionId, uint32_t serverTransactionId,
                                  const nlohmann::json& value);
    // A float setting or reading as the number its shortest text says (1.27,
    // not 1.2699999809265137).
    static double Decimal(float value);
};
