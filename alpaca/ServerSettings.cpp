#include "alpaca/ServerSettings.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "settings/SettingsText.h"

namespace {

constexpr const char kDeviceName[] = "Device";
constexpr const char kUniqueIdName[] = "UniqueID";

std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return std::string();
    const size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

bool IsUuid(const std::string& text) {
    if (text.size() != 36) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? text[i] != '-' : !std::isxdigit(static_cast<unsigned char>(text[i]))) {
            return false;
        }
    }
    return true;
}

std::string SystemError(const char* what, const std::string& path) {
    return std::string(what) + " " + path + ": " + std::strerror(errno);
}

}  // namespace

ServerSettingsValues ServerSettings::Defaults() {
    ServerSettingsValues values;
    values.maxPosition = settingstext::kDefaultMaxPosition;
    values.stepSize = settingstext::kDefaultStepSize;
    values.speed = settingstext::kDefaultSpeed;
    return values;
}

bool ServerSettings::Parse(const std::string& text, ServerSettingsValues& values,
                           std::string& error) {
    ServerSettingsValues parsed = Defaults();
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        line = Trim(line);
        if (line.empty() || line[0] == '#') continue;
        const size_t equals = line.find('=');
        const std::string name = equals == std::string::npos ? line : Trim(line.substr(0, equals));
        const std::string value = equals == std::string::npos ? "" : Trim(line.substr(equals + 1));
        bool known = equals != std::string::npos;
        if (!known) {
        } else if (name == kDeviceName) {
            parsed.device = value;
        } else if (name == settingstext::kMaxPositionName) {
            parsed.maxPosition = settingstext::LoadMaxPosition(value.c_str());
        } else if (name == settingstext::kStepSizeName) {
            parsed.stepSize = settingstext::LoadStepSize(value.c_str());
        } else if (name == settingstext::kSpeedName) {
            parsed.speed = settingstext::LoadSpeed(value.c_str());
        } else if (name == kUniqueIdName && IsUuid(value)) {
            parsed.uniqueId = value;
        } else {
            known = false;
        }
        if (!known) {
            error = "line " + std::to_string(number) + " is not a setting: " + line;
            return false;
        }
    }
    values = parsed;
    return true;
}

std::string ServerSettings::Format(const ServerSettingsValues& values) {
    char maxPosition[settingstext::kTextCapacity];
    char stepSize[settingstext::kTextCapacity];
    char speed[settingstext::kTextCapacity];
    settingstext::IntegerText(values.maxPosition, maxPosition);
    settingstext::StepSizeText(values.stepSize, stepSize);
    settingstext::IntegerText(values.speed, speed);
    std::string text = "# focuser-alpaca settings; written by the server's setup page\n";
    text += std::string(kDeviceName) + "=" + values.device + "\n";
    text += std::string(settingstext::kMaxPositionName) + "=" + maxPosition + "\n";
    text += std::string(settingstext::kStepSizeName) + "=" + stepSize + "\n";
    text += std::string(settingstext::kSpeedName) + "=" + speed + "\n";
    if (!values.uniqueId.empty()) text += std::string(kUniqueIdName) + "=" + values.uniqueId + "\n";
    return text;
}

std::string ServerSettings::NewUniqueId() {
    unsigned char bytes[16] = {};
    size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n > 0) got += static_cast<size_t>(n);
        else if (errno != EINTR) break;
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);
    char text[37];
    std::snprintf(text, sizeof text,
                  "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", bytes[0],
                  bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8],
                  bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
    return text;
}

ServerSettingsValues ServerSettings::Load(std::string& warning) {
    warning.clear();
    ServerSettingsValues values = Defaults();
    std::ifstream file(m_path, std::ios::binary);
    if (file) {
        std::ostringstream text;
        text << file.rdbuf();
        std::string error;
        if (file.bad()) {
            warning = "cannot read settings file " + m_path;
            m_keepOldFile = true;
        } else if (!Parse(text.str(), values, error)) {
            warning = "settings file " + m_path + " not understood (" + error + ")";
            m_keepOldFile = true;
            values = Defaults();
        }
    } else if (errno != ENOENT) {
        warning = SystemError("cannot read settings file", m_path);
        m_keepOldFile = true;
    }
    if (values.uniqueId.empty()) {
        values.uniqueId = NewUniqueId();
        std::string error;
        if (!Save(values, error)) warning += (warning.empty() ? "" : "; ") + error;
    }
    return values;
}

bool ServerSettings::Save(const ServerSettingsValues& values, std::string& error) {
    if (m_keepOldFile) {
        const std::string aside = m_path + ".unreadable";
        if (std::rename(m_path.c_str(), aside.c_str()) != 0 && errno != ENOENT) {
            error = SystemError("cannot keep the old settings file as", aside);
            return false;
        }
        m_keepOldFile = false;
    }
    const std::string text = Format(values);
    // One fixed name: a save killed half-way leaves a file the next one replaces.
    const std::string temporary = m_path + ".tmp";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = SystemError("cannot write settings file", temporary);
        return false;
    }
    size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        written += static_cast<size_t>(n);
    }
    // The rename may reach the disk before the data does unless the data is
    // forced out first; then a power cut could leave an empty file.
    const bool whole = written == text.size() && ::fsync(fd) == 0;
    if (::close(fd) != 0 || !whole) {
        error = SystemError("cannot write settings file", temporary);
        ::unlink(temporary.c_str());
        return false;
    }
    if (std::rename(temporary.c_str(), m_path.c_str()) != 0) {
        error = SystemError("cannot replace settings file", m_path);
        ::unlink(temporary.c_str());
        return false;
    }
    const size_t slash = m_path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : m_path.substr(0, slash + 1);
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}
