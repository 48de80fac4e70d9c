// The installation settings a run works with, and the rules of the installed
// client's version that other parts of the run share.
#pragma once

#include <string>

namespace UMain {

// The built-in update URL: "http://" + the deployment's update host + "/downloads/client/".
std::string DefaultBaseURL();

// What the client's registry key says, as the run uses it.
struct Settings {
  // Where the release's files are: update.ini and each listed name below it.
  std::string baseURL = DefaultBaseURL();
  // The installation directory, with one separator at its end; empty until
  // the registry has been read.
  std::string updatePath;
  // The backup directory below it: updatePath + "UpdateBak\\".
  std::string backupPath;
};

// Whether the installed client's version text counts as not read: the text
// of a file without version information (65535.65535.65535.65535), or any
// text with 65535 in it.
bool VersionUnknown(const std::string& version);

}  // namespace UMain
