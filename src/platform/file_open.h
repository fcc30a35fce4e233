#pragma once
// Opening the image sources for reading. They are named as on the technician's Windows PC
// ("Y:\CVM6\cvm6.H01", "cvm6.ini", names from a list file): on Windows such a name is
// opened as it stands; on POSIX it goes through MapWindowsPath first.
#include <cstdio>
#include <string>

namespace cvm6 {

// The file named `windowsPath`, opened for reading bytes as stored, or null. Only regular
// files are opened: a directory, a FIFO or a device (a serial port named in a list file)
// could block or never end. `systemPath` receives the name the system opened, for messages.
std::FILE* OpenRegularFile(const std::string& windowsPath, std::string& systemPath);
// Whether `windowsPath` names a folder: why a name that OpenRegularFile refused did not
// open, in words a technician knows.
bool IsDirectory(const std::string& windowsPath);

}  // namespace cvm6
