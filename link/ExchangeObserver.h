#pragma once
// Whoever wants to see the link's exchanges as they happen (the trace log).
// The link calls it around every exchange it makes on its line.
#include <cstddef>

#include "link/ControllerProtocol.h"

class ExchangeObserver {
public:
    virtual ~ExchangeObserver() = default;

    // Just before the command is written.
    virtual void ExchangeStarting() = 0;
    // Once the read has ended: the command as sent (without its padding), the
    // replyLength bytes that arrived, and what the decoder made of them.
    virtual void ExchangeEnded(const char* command, const char* reply, size_t replyLength,
                               const protocol::DecodedReply& decoded) = 0;
};
