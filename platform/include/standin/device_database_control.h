// Where the Setup API stand-in finds its device database, with no Windows counterpart. The
// framework host, the tools and the tests use this; driver code never does.
//
// The database is a JSON file (format in data/README.md). Unless a program sets a path here, it
// is the file named by ZNTR_DEVICE_DB, else the default database shipped in data/, whose path
// the build compiles in. The choice is made again, and the file read again, each time a device
// information set is made (SetupDiGetClassDevsW): a set is a snapshot of the file of that moment.
// A file that cannot be read makes SetupDiGetClassDevsW fail with ERROR_FILE_NOT_FOUND, one that
// does not parse with ERROR_INVALID_DATA (and one warning on standard error per file and reason).
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace zntr::platform {

// The default database's path, as the build compiled it in.
std::string DefaultDeviceDatabasePath();

// The path that the next device information set would be read from.
std::string CurrentDeviceDatabasePath();

// The device information sets made and not yet destroyed, for tests that prove none is left.
std::size_t CountDeviceInfoSets();

// Sets the database path for as long as it lives, then puts back what was in force (for tests
// and the host). std::nullopt goes back to ZNTR_DEVICE_DB and the default.
class ScopedDeviceDatabase {
  public:
    explicit ScopedDeviceDatabase(std::optional<std::string> path);
    ~ScopedDeviceDatabase();
    ScopedDeviceDatabase(const ScopedDeviceDatabase&) = delete;
    ScopedDeviceDatabase& operator=(const ScopedDeviceDatabase&) = delete;

  private:
    std::optional<std::string> previous_;
};

}  // namespace zntr::platform
