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

// A limit of the exchange was reached. Limit names it for the client ("upload-lines=100"),
// sent as the header Pellora-Limit; RetryAfter (seconds, 0 for none) says when trying again
// can help.
class ELimitError : public EHttpError {
public:
    ELimitError(int status, std::string limit, int retryAfter, const std::string& text)
        : EHttpError(status, text), Limit(std::move(limit)), RetryAfter(retryAfter) {}
    std::string Limit;
    int RetryAfter;
};

// The exchange database could not be opened, read or changed.
class EStoreError : public EPelloraError {
public:
    using EPelloraError::EPelloraError;
};

// The database cannot take changes for now: locked by another writer for longer than the
// busy timeout, its disk or size cap full, or the file read-only. Trying later can help.
class EStoreBusy : public EStoreError {
public:
    using EStoreError::EStoreError;
};

} // namespace pellora
