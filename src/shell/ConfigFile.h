#pragma once

#include <functional>

#include <QString>

namespace ostrel::areas {
class mdlSub;
}

namespace ostrel::shell {

class Reporter;

// Limits that keep a damaged or foreign file from tying the program up. A file that breaks one
// is refused with ConfigFileError, as is one with more or larger areas than the registry holds;
// no file that SaveConfig writes comes near them.
inline constexpr qint64 kMaxConfigFileBytes = 16 * 1024 * 1024;
inline constexpr int kMaxConfigLineLength = 4096;  // characters, also the longest field

// Writes every area, in number order, to the configuration file `FileName` (an existing file is
// replaced only once the new one is complete). False while an area is being edited: nothing is
// written then. ConfigFileError when the file cannot be written, when `FileName` names anything
// but an ordinary file or a new name (a device, a FIFO, a socket, a folder stay untouched), or
// a key cannot be stored.
bool SaveConfig(areas::mdlSub& registry, const QString& FileName);

// Replaces every area with those of the configuration file `FileName` and selects the first.
// False while an area is being edited (the file is not opened), and after a wrong header, which
// goes to `reporter`; the areas are untouched then.
// ConfigFileError for a file that cannot be read or breaks a limit (the areas are untouched),
// and for a value that cannot be taken or a key that cannot be added (the areas read before it
// stay loaded). A long load asks `stopRequested` before each area and, once it says so, stops
// with ConfigFileError (the areas read so far stay loaded).
bool LoadConfig(areas::mdlSub& registry, const QString& FileName, Reporter& reporter,
                const std::function<bool()>& stopRequested = {});

}  // namespace ostrel::shell
