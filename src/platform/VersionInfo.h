#pragma once

#include <string>

namespace pellora {

// The ELF section a program's version is stamped into, read back by ReadVersionInfo: the
// version text and a NUL, nothing else.
inline constexpr const char* VersionSectionName = ".pellora.version";

// Stamps the version text into the executable that holds this line (once per program, at
// namespace scope), where the about box finds it in the file as it would a version resource.
#define PELLORA_STAMP_VERSION(text)                                                                \
    [[gnu::used, gnu::section(".pellora.version")]] static const char PelloraVersionStamp[] = text

// The version stamped into an executable file (an ELF file of this machine's word size and
// byte order); "?" when the file cannot be read, is no such file, or carries no stamp.
std::string ReadVersionInfo(const std::string& executable);

// The running program's own stamped version, or "?".
std::string ProgramVersion();

} // namespace pellora
