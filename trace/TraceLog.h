#pragma once
// One driver object's trace log. While it is on, each event the driver
// reports and each exchange of its link becomes a line appended to the day's
// trace file in the user's Documents, shared by every program that traces
// that day. While it is off, nothing is formatted, timed or opened.
#include <windows.h>

#include "link/ExchangeObserver.h"

class TraceLog final : public ExchangeObserver {
public:
    // The day's file stops at the first line that takes it to this size,
    // with a last line that says so.
    static constexpr LONGLONG kSizeCap = 16LL * 1024 * 1024;
    // Room for the file's full name: Documents and what goes below it.
    static constexpr size_t kPathCapacity = MAX_PATH + 64;
    // After the day's file could not be opened or its folder made, lines are
    // dropped for this long before the next try.
    static constexpr ULONGLONG kRetryMs = 5000;

    // Today's file: "<Documents>\ASCOM\Logs YYYY-MM-DD\Tavrilen.Focuser.txt",
    // its folders made as needed. False when Documents cannot be found.
    static bool TodaysFile(wchar_t (&path)[kPathCapacity]);

    void SetOn(bool on) { m_on = on; }

    // "what detail" as one line.
    void Write(const char* what, const char* detail);

    void ExchangeStarting() override;
    void ExchangeEnded(const char* command, const char* reply, size_t replyLength,
                       const protocol::DecodedReply& decoded) override;

private:
    void Write(const char* event);
    void MarkUnusable();

    bool m_on = false;
    LARGE_INTEGER m_exchangeStart = {};
    // What every line needs and what stays the same from line to line: the
    // program's name, found once, and the day's file, found (its folders
    // made) again only when the date changes or the file cannot be opened.
    char m_program[MAX_PATH * 3] = {};
    wchar_t m_file[kPathCapacity] = {};
    int m_fileDay = 0;
    // When the last attempt that found the file unusable ended (tick count),
    // or 0.
    ULONGLONG m_unusableSince = 0;
};
