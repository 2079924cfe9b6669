#pragma once

#include "platform/Errors.h"

#include <string>

namespace pellora {

// A request the exchange cannot serve; Status is the HTTP status that tells the client why.
class EHttpError : public EPelloraError {
public:
    EHttpError(int status, const std::string& text) : EPelloraError(text), Status(status) {}
    int Status;
};

// The exchange database could not be opened, read or changed.
class EStoreError : public EPelloraError {
public:
    using EPelloraError::EPelloraError;
};

// The database stayed locked by another writer for longer than the busy timeout.
class EStoreBusy : public EStoreError {
public:
    using EStoreError::EStoreError;
};

} // namespace pellora
