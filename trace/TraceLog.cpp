#include "trace/TraceLog.h"

#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "trace/TraceText.h"

namespace {

constexpr const char kStopEvent[] = "trace stopped: the file reached 16 MB";
constexpr size_t kPathCapacity = TraceLog::kPathCapacity;

tracetext::Stamp Now() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
            now.wMilliseconds};
}

// Appends text (ASCII) to path, after a backslash.
bool AppendToPath(wchar_t (&path)[kPathCapacity], const char* text) {
    size_t used = std::wcslen(path);
    if (used + 1 + std::strlen(text) >= kPathCapacity) return false;
    path[used++] = L'\\';
    for (; *text != '\0'; ++text) path[used++] = static_cast<wchar_t>(*text);
    path[used] = L'\0';
    return true;
}

bool DayFilePath(const tracetext::Stamp& stamp, wchar_t (&path)[kPathCapacity]) {
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, path))) {
        return false;
    }
    char folder[32];
    tracetext::FolderName(stamp, folder, sizeof folder);
    if (!AppendToPath(path, "ASCOM")) return false;
    CreateDirectoryW(path, nullptr);
    if (!AppendToPath(path, folder)) return false;
    CreateDirectoryW(path, nullptr);
    return AppendToPath(path, tracetext::kFileName);
}

// The program's file name, as UTF-8.
void ProgramName(char (&name)[MAX_PATH * 3]) {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    const wchar_t* base = std::wcsrchr(path, L'\\');
    base = base != nullptr ? base + 1 : path;
    if (WideCharToMultiByte(CP_UTF8, 0, base, -1, name, sizeof name, nullptr, nullptr) == 0) {
        name[0] = '\0';
    }
}

bool WriteAll(HANDLE file, const char* text, size_t length) {
    DWORD written = 0;
    return WriteFile(file, text, static_cast<DWORD>(length), &written, nullptr) &&
           written == length;
}

}  // namespace

bool TraceLog::TodaysFile(wchar_t (&path)[kPathCapacity]) { return DayFilePath(Now(), path); }

void TraceLog::Write(const char* what, const char* detail) {
    if (!m_on) return;
    char event[tracetext::kLineCapacity];
    std::snprintf(event, sizeof event, "%s %s", what, detail);
    Write(event);
}

void TraceLog::Write(const char* event) {
    // A file that could not be used (a read-only or vanished folder, a
    // Documents redirected to a share that is offline) is not tried again on
    // every line: an exchange must not wait on a dead share.
    if (m_unusableSince != 0 && GetTickCount64() - m_unusableSince < kRetryMs) return;
    m_unusableSince = 0;

    const tracetext::Stamp stamp = Now();
    const int day = stamp.year * 10000 + stamp.month * 100 + stamp.day;
    if (day != m_fileDay) {
        if (!DayFilePath(stamp, m_file)) {
            MarkUnusable();
            return;
        }
        m_fileDay = day;
    }
    if (m_program[0] == '\0') ProgramName(m_program);
    const DWORD processId = GetCurrentProcessId();
    char line[tracetext::kLineCapacity];
    const size_t length = tracetext::Line(stamp, m_program, processId, event, line, sizeof line);

    // Every write goes to the file's end, whoever else appends.
    const DWORD sharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE file = CreateFileW(m_file, FILE_APPEND_DATA, sharing, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        m_fileDay = 0;  // its folder may have gone: the next try makes it again
        MarkUnusable();
        return;
    }
    // Each program checks the size before its own write, so programs writing
    // at the same moment may each add a line past the cap: the file can end
    // a few lines (at most kLineCapacity bytes each) beyond 16 MB.
    LARGE_INTEGER size = {};
    if (GetFileSizeEx(file, &size) && size.QuadPart < kSizeCap && WriteAll(file, line, length) &&
        size.QuadPart + static_cast<LONGLONG>(length) >= kSizeCap) {
        const size_t stopLength =
            tracetext::Line(stamp, m_program, processId, kStopEvent, line, sizeof line);
        WriteAll(file, line, stopLength);
    }
    CloseHandle(file);
}

void TraceLog::MarkUnusable() {
    // Counted from now, after the attempt: a share that takes seconds to fail
    // would otherwise have used up the pause before it began, and every line
    // would wait on it again.
    m_unusableSince = GetTickCount64();
}

void TraceLog::ExchangeStarting() {
    if (m_on) QueryPerformanceCounter(&m_exchangeStart);
}

void TraceLog::ExchangeEnded(const char* command, const char* reply, size_t replyLength,
                             const protocol::DecodedReply& decoded) {
    if (!m_on) return;
    LARGE_INTEGER end = {}, frequency = {};
    QueryPerformanceCounter(&end);
    QueryPerformanceFrequency(&frequency);
    const LONGLONG ticks = end.QuadPart - m_exchangeStart.QuadPart;
    // Rounded: an exchange at the wire's 18.75 ms shows as 19.
    const unsigned long elapsedMs =
        frequency.QuadPart > 0
            ? static_cast<unsigned long>((ticks * 1000 + frequency.QuadPart / 2) / frequency.QuadPart)
            : 0;
    char event[tracetext::kLineCapacity];
    tracetext::ExchangeEvent(command, reply, replyLength, elapsedMs, decoded, event, sizeof event);
    Write(event);
}
