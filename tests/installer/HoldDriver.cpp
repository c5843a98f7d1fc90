// Keeps the driver loaded, as a running astronomy program does: creates it by
// its ProgID, prints "Holding", and lets it go once the file named on the
// command line exists (after a minute at most).
//
//   hold-driver RELEASE-FILE
#include <windows.h>
#include <objbase.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: hold-driver RELEASE-FILE\n");
        return 2;
    }
    CoInitialize(nullptr);
    CLSID clsid;
    IUnknown* driver = nullptr;
    HRESULT hr = CLSIDFromProgID(L"Tavrilen.Focuser", &clsid);
    if (SUCCEEDED(hr)) {
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                              reinterpret_cast<void**>(&driver));
    }
    if (FAILED(hr)) {
        std::printf("Create failed: %08lx\n", static_cast<unsigned long>(hr));
        CoUninitialize();
        return 1;
    }
    std::printf("Holding\n");
    std::fflush(stdout);
    for (int waited = 0; waited < 600 && GetFileAttributesA(argv[1]) == INVALID_FILE_ATTRIBUTES; ++waited) {
        Sleep(100);
    }
    driver->Release();
    CoUninitialize();
    return 0;
}
