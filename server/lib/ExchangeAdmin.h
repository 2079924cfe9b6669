#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace pellora {

// The administrator's commands, as `pellora-exchange [--db PATH] COMMAND ...` runs them:
//   init                 creates the database
//   import CODE FILE     appends a journal file to a language's public library
//   pending              lists uploads waiting for review
//   approve ID...        moves them into the public library
//   reject ID...         turns them down
// The database is --db PATH, else PELLORA_EXCHANGE_DB, else the default path.
// Returns the exit status: 0 done, 1 failed (reason on err), 2 wrong usage.
int RunExchangeAdmin(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace pellora
