#pragma once

#include <stdexcept>
#include <string>

namespace ostrel::history {

// The event history cannot be stored or read. The cause says what a person can do about it.
class HistoryError : public std::runtime_error {
public:
    enum class Cause {
        Locked,       // another program holds the database
        Damaged,      // the file is not a database, or a damaged one
        DiskFull,     // no room left on the disk
        ReadOnly,     // the file or its folder cannot be written
        NewerSchema,  // written by a later Ostrel, whose layout this one does not know
        Missing,      // there is no history yet (reading only)
        Other,
    };

    HistoryError(Cause cause, const std::string& what) : std::runtime_error(what), cause_(cause) {}
    Cause cause() const { return cause_; }

private:
    Cause cause_;
};

}  // namespace ostrel::history
