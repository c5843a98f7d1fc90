#pragma once
// A controller line for host tests and fuzzers, scripted exchange by exchange.
// Every call the link makes on it is recorded; each frame it writes is
// answered from a queue of replies, or else from a table by command text, or
// not at all. Whatever the real line can do with time (noise before a
// command, a reply too short or too late for the read window, bytes nobody
// asked for) is placed in the script, so it happens the same way every run.
#include <cstddef>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "link/Line.h"

class ScriptedLine {
public:
    struct Reply {
        std::string bytes;
        // Arrives only after the read window of its exchange has closed: the
        // exchange reads nothing of it, and the bytes wait in the input.
        bool late = false;
    };

    // The answer to every frame whose text is command.
    void Answer(const std::string& command, Reply reply) { m_table[command] = std::move(reply); }
    // The answer to the next frame written, whatever it says; before the table.
    void AnswerNext(Reply reply) { m_queue.push_back(std::move(reply)); }
    // Bytes that arrive now, unasked; they wait in the input.
    void Inject(const std::string& bytes) { m_input += bytes; }
    // Whether a purge empties the input (and reports success).
    void SetPurgeWorks(bool works) { m_purgeWorks = works; }
    // A held line (flow control stopped by the far end): frames written wait
    // in the output, unsent and unanswered, until a purge discards them or the
    // line is released, when they go out.
    void SetHeld(bool held);
    // A USB-serial adapter with a buffer of its own: a write on a held line
    // reports success, the frame waiting in the adapter as it would in the
    // port.
    void SetBuffered(bool buffered) { m_buffered = buffered; }

    // An end of this line, as if the port had just been opened. Lines
    // opened one after another share the script and the record.
    std::unique_ptr<Line> Open();

    // "Purge", "Write 9", "Read 9": the calls in order, with their counts; a
    // write on a held line is "Write 9 held".
    const std::vector<std::string>& Calls() const { return m_calls; }
    // The frames that went out on the wire, raw, and their texts (up to the
    // first NUL).
    const std::vector<std::string>& Frames() const { return m_frames; }
    std::vector<std::string> Commands() const;
    // How many of the ends Open gave have been closed (destroyed).
    size_t Closes() const { return m_closes; }
    void ClearRecord();

private:
    class Port;
    void Send(const std::string& frame);

    std::map<std::string, Reply> m_table;
    std::deque<Reply> m_queue;
    std::string m_input;
    std::string m_late;
    bool m_purgeWorks = true;
    bool m_held = false;
    bool m_buffered = false;
    std::vector<std::string> m_output;
    std::vector<std::string> m_calls;
    std::vector<std::string> m_frames;
    size_t m_closes = 0;
};
