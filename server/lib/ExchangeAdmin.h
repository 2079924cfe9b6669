#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace pellora {

// The administrator's commands, as `pellora-exchange [--db PATH] COMMAND ...` runs them:
//   init                 creates the database
//   import CODE FILE     appends a journal file to a language's public library
//   pending              lists uploads waiting for review, texts escaped for the terminal
//   approve ID...        moves them into the public library
//   reject ID...         turns them down
//   reject --access-id N turns down everything pending from one access id
//   purge [--days N]     deletes rejected uploads and old decided ones and retry answers
//   config [NAME VALUE]  shows the limits, or changes one
//   backup FILE          copies the database while the exchange goes on
// The database is --db PATH, else PELLORA_EXCHANGE_DB, else the default path.
// Returns the exit status: 0 done, 1 failed (reason on err), 2 wrong usage.
// Text as a terminal can show it safely: printable UTF-8 stays, a backslash becomes "\\",
// control characters and bytes that are not UTF-8 become "\xNN".
std::string TerminalSafe(std::string_view text);

int RunExchangeAdmin(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace pellora
