#include "tests/support/DriverTestSupport.h"

#include <cstdlib>

#include "com/ComObject.h"
#include "driver/CFocuser.h"
#include "trace/TraceLog.h"

namespace {

std::string Narrow(BSTR text) {
    std::string result;
    if (text != nullptr) {
        for (const OLECHAR* p = text; *p; ++p) result += static_cast<char>(*p);
    }
    return result;
}

}  // namespace

IFocuser* NewFocuser() {
    auto* object = StandaloneObject<CFocuser>::Create();
    IFocuser* focuser = nullptr;
    if (object != nullptr) object->QueryInterface(IID_IFocuser, reinterpret_cast<void**>(&focuser));
    return focuser;
}

ReportedError TakeErrorInfo() {
    ReportedError reported;
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK || info == nullptr) return reported;
    reported.present = true;
    BSTR text = nullptr;
    if (SUCCEEDED(info->GetDescription(&text))) reported.description = Narrow(text);
    SysFreeString(text);
    text = nullptr;
    if (SUCCEEDED(info->GetSource(&text))) reported.source = Narrow(text);
    SysFreeString(text);
    info->GetGUID(&reported.guid);
    info->Release();
    return reported;
}

double NowMs() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double TimeoutScale() {
    const char* text = std::getenv("FOCUSER_TIMEOUT_SCALE");
    const double scale = text != nullptr ? std::atof(text) : 1.0;
    return scale >= 1.0 ? scale : 1.0;
}

std::wstring BlockTraceFolder() {
    wchar_t file[TraceLog::kPathCapacity];
    if (!TraceLog::TodaysFile(file)) return L"";
    std::wstring folder = file;
    folder.resize(folder.rfind(L'\\'));
    DeleteFileW(file);
    RemoveDirectoryW(folder.c_str());
    HANDLE blocker = CreateFileW(folder.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (blocker == INVALID_HANDLE_VALUE) return L"";
    CloseHandle(blocker);
    return folder;
}
