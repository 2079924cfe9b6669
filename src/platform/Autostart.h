#pragma once

#include <string>
#include <string_view>

namespace pellora {

// The start-up entry: a desktop entry in $XDG_CONFIG_HOME/autostart named after the entry
// ("Pellora 3" -> pellora-3.desktop) with Name= the entry name and Exec= the program.
// Entries for all users in $XDG_CONFIG_DIRS/autostart count as well, unless a user's file of
// the same file name replaces them; they are never changed, only hidden for this user.

// True when an enabled entry (not Hidden=true) whose Name equals name, ignoring case, starts
// with the session.
bool IsRunAtStartup(std::string_view name);
// Writes (or rewrites) the entry so that the program at path starts with the session, once.
// Returns false when the entry could not be written.
bool SetRunAtStartup(std::string_view name, const std::string& path);
// Removes every enabled entry of the user whose Name equals name, ignoring case, and hides
// an entry for all users of that name for this user.
void RemoveRunAtStartup(std::string_view name);

} // namespace pellora
