#pragma once
// What the null-modem bridge does with files and names: its log, descriptors,
// the prefix's dosdevices links it points at its terminals, and the files it
// leaves for the fixture that started it.
#include <string>

namespace nullmodem {

void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));
void CloseFd(int& fd);
bool SetNonBlocking(int fd);
// Writes the whole text to a sibling file and renames it into place, so a
// reader never sees a half-written file.
bool WriteFileAtomically(const std::string& path, const std::string& text);
// Points link at target, replacing whatever link was there in one step: a
// program opening the port at that moment finds either the old or the new one.
bool PointLink(const std::string& link, const std::string& target);
// The link's target, or empty when it is no link.
std::string ReadLink(const std::string& link);
// A port name as Wine's dosdevices folder spells it ("com3"), or empty when
// the text is not one. The name becomes a file name, so nothing else passes.
std::string PortName(const std::string& text);

}  // namespace nullmodem
