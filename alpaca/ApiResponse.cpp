#include "alpaca/ApiResponse.h"

#include <cstdlib>

#include "link/FocuserSession.h"
#include "numbertext/NumberText.h"

namespace ascom_error {

int ForDriverMessage(const std::string& message) {
    const std::string couldNotOpen(focuser_message::kCouldNotOpen);
    if (message.compare(0, couldNotOpen.find('%'), couldNotOpen, 0, couldNotOpen.find('%')) == 0) {
        return kCouldNotOpen;
    }
    if (message.rfind(focuser_message::kDidNotRespond, 0) == 0) return kDidNotRespond;
    if (message == focuser_message::kLinkFail) return kLinkFail;
    if (message == focuser_message::kNoResponse) return kNoResponse;
    if (message == focuser_message::kOutOfMemory) return kOutOfMemory;
    return kOtherDriverError;
}

}  // namespace ascom_error

DeviceAnswer DeviceAnswer::Value(nlohmann::json value) {
    DeviceAnswer answer;
    answer.value = std::move(value);
    return answer;
}

DeviceAnswer DeviceAnswer::Error(int number, std::string message) {
    DeviceAnswer answer;
    answer.errorNumber = number;
    answer.errorMessage = std::move(message);
    return answer;
}

DeviceAnswer DeviceAnswer::DriverError(const std::string& message) {
    return Error(ascom_error::ForDriverMessage(message), message);
}

std::string ApiResponse::Body(uint32_t clientTransactionId, uint32_t serverTransactionId,
                              const DeviceAnswer& answer, bool withValue) {
    nlohmann::json body = nlohmann::json::object();
    if (withValue) body["Value"] = answer.Failed() ? nlohmann::json() : answer.value;
    body["ClientTransactionID"] = clientTransactionId;
    body["ServerTransactionID"] = serverTransactionId;
    body["ErrorNumber"] = answer.errorNumber;
    body["ErrorMessage"] = answer.errorMessage;
    // Controller replies may carry any byte; replacing keeps the body valid JSON.
    return body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string ApiResponse::Management(uint32_t clientTransactionId, uint32_t serverTransactionId,
                                    const nlohmann::json& value) {
    nlohmann::json body = {{"Value", value},
                           {"ClientTransactionID", clientTransactionId},
                           {"ServerTransactionID", serverTransactionId}};
    return body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

double ApiResponse::Decimal(float value) {
    char text[64];
    if (!numbertext::FormatShortest(value, text, sizeof text)) return static_cast<double>(value);
    return std::strtod(text, nullptr);
}
