#pragma once
// The server's settings: the driver's four (a device path in place of the COM
// index) and the device's UniqueID, kept in one small text file of
// "Name=value" lines. Saves replace the file atomically, so a kill or a power
// cut leaves the old file or the new one.
#include <cstdint>
#include <string>

struct ServerSettingsValues {
    std::string device = "/dev/ttyUSB0";
    int32_t maxPosition = 0;
    float stepSize = 0.0f;
    int32_t speed = 0;
    std::string uniqueId;
};

class ServerSettings {
public:
    // Defaults of the driver's settings store, and no UniqueID yet.
    static ServerSettingsValues Defaults();

    // Parses a file's text. False, with the first bad line's number and why
    // in error, when any line is neither blank, a comment nor a known
    // "Name=value"; values are then not to be trusted at all. Known values
    // are loaded by the driver's rules (parsed, then forced into range).
    static bool Parse(const std::string& text, ServerSettingsValues& values, std::string& error);
    static std::string Format(const ServerSettingsValues& values);

    // A random (version 4) UUID, from the kernel's random source.
    static std::string NewUniqueId();

    explicit ServerSettings(std::string path) : m_path(std::move(path)) {}

    // Reads the file. A missing file gives the defaults; a file that cannot
    // be read or parsed gives the defaults and a reason in warning, and the
    // next Save keeps it aside as PATH.unreadable instead of overwriting it.
    // Without a UniqueID one is made and saved at once.
    ServerSettingsValues Load(std::string& warning);

    // Temporary file in the same folder, flushed to disk, then renamed over
    // the old one. False with the reason in error.
    bool Save(const ServerSettingsValues& values, std::string& error);

    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
    bool m_keepOldFile = false;
};
