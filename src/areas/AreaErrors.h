#pragma once

#include <stdexcept>
#include <string>

namespace ostrel::areas {

// Base of the failures the area registry, the control array and the area objects report.
class AreaError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The area collection refused: a duplicate key, or an index that matches no entry.
class CollectionError : public AreaError {
public:
    using AreaError::AreaError;
};

// The control array has no element at a position, or no room for another one.
class NoSuchElementError : public AreaError {
public:
    using AreaError::AreaError;
};

// More areas, or larger ones, than the program can hold: nothing was added.
class AreaLimitError : public AreaError {
public:
    using AreaError::AreaError;
};

// An area object whose area was removed: it is bound to no area any more.
class NoAreaError : public AreaError {
public:
    NoAreaError() : AreaError("the area of this object no longer exists") {}
};

}  // namespace ostrel::areas
