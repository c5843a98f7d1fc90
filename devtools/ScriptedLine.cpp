#include "devtools/ScriptedLine.h"

#include <algorithm>
#include <cstring>

class ScriptedLine::Port final : public Line {
public:
    explicit Port(ScriptedLine& line) : m_line(line) {}
    ~Port() override { ++m_line.m_closes; }

    bool Write(const void* bytes, size_t count) override {
        ScriptedLine& line = m_line;
        const std::string frame(static_cast<const char*>(bytes), count);
        if (line.m_held) {
            line.m_calls.push_back("Write " + std::to_string(count) + " held");
            line.m_output.push_back(frame);
            return line.m_buffered;
        }
        line.m_calls.push_back("Write " + std::to_string(count));
        line.Send(frame);
        return true;
    }

    size_t Read(void* buffer, size_t count) override {
        ScriptedLine& line = m_line;
        line.m_calls.push_back("Read " + std::to_string(count));
        const size_t taken = std::min(count, line.m_input.size());
        std::memcpy(buffer, line.m_input.data(), taken);
        line.m_input.erase(0, taken);
        // The window has closed: what was late is in the input now.
        line.m_input += line.m_late;
        line.m_late.clear();
        return taken;
    }

    bool Purge() override {
        ScriptedLine& line = m_line;
        line.m_calls.push_back("Purge");
        if (!line.m_purgeWorks) return false;
        line.m_input.clear();
        line.m_output.clear();
        return true;
    }

private:
    ScriptedLine& m_line;
};

void ScriptedLine::Send(const std::string& frame) {
    m_frames.push_back(frame);
    Reply reply;
    if (!m_queue.empty()) {
        reply = m_queue.front();
        m_queue.pop_front();
    } else {
        const auto found = m_table.find(frame.c_str());
        if (found == m_table.end()) return;
        reply = found->second;
    }
    (reply.late ? m_late : m_input) += reply.bytes;
}

void ScriptedLine::SetHeld(bool held) {
    m_held = held;
    if (held) return;
    std::vector<std::string> waiting;
    waiting.swap(m_output);
    for (const std::string& frame : waiting) Send(frame);
}

std::unique_ptr<Line> ScriptedLine::Open() { return std::make_unique<Port>(*this); }

std::vector<std::string> ScriptedLine::Commands() const {
    std::vector<std::string> commands;
    for (const std::string& frame : m_frames) commands.emplace_back(frame.c_str());
    return commands;
}

void ScriptedLine::ClearRecord() {
    m_calls.clear();
    m_frames.clear();
}
