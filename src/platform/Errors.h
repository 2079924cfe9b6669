#pragma once

#include <stdexcept>
#include <string>

namespace pellora {

// Every failure the program reports carries its user-facing text in what().
class EPelloraError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A file could not be read, written, replaced or created.
class EFileError : public EPelloraError {
public:
    using EPelloraError::EPelloraError;
};

// A programming precondition with a fixed text failed.
class EAssertionFailed : public EPelloraError {
public:
    using EPelloraError::EPelloraError;
};

// A text that must be a number is not one.
class EConvertError : public EPelloraError {
public:
    using EPelloraError::EPelloraError;
};

// Throws EAssertionFailed with the given text unless the condition holds.
inline void Assert(bool condition, const char* text) {
    if (!condition)
        throw EAssertionFailed(text);
}

} // namespace pellora
