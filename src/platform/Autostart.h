#pragma once

#include <string>
#include <string_view>

namespace pellora {

// The start-up entry: a desktop entry in $XDG_CONFIG_HOME/autostart named after the entry
// ("Pellora 3" -> pellora-3.desktop) with Name= the entry name and Exec= the program.

// True when the autostart folder holds an enabled entry whose Name equals name, ignoring case.
bool IsRunAtStartup(std::string_view name);
// Writes (or rewrites) the entry so that the program at path starts with the session.
// Returns false when the entry could not be written.
bool SetRunAtStartup(std::string_view name, const std::string& path);
// Removes every entry whose Name equals name, ignoring case.
void RemoveRunAtStartup(std::string_view name);

} // namespace pellora
