#pragma once
// The apply step as a process of its own: `fernlift --apply PACKAGE SIGNATURE PROGRAM`. It is
// the only part of Fernlift that may run with administrator rights (through pkexec), so it
// trusts nothing it is given: it copies the package into its own private folder, checks the
// signature again, unpacks, validates the script, then reports "ready" on stdout and waits for
// "go" on stdin before it changes anything. It never talks to the network.
//
// Lines it writes, one per event:
//   temp <folder>            its private folder
//   fail <reason>            before any change; reasons below
//   ready <skipped commands>
//   progress <done> <total>
//   committed <file to start, may be empty>
//   rolledback | rollback-failed
// `fernlift --recover PROGRAM [TEMP]` rolls back an unfinished transaction, removes the private
// folder of a killed helper, and writes "recovered" or "fail rollback".

#include <string>
#include <vector>

namespace helper {
inline constexpr char kFailRefused[] = "refused";     // an installation Fernlift leaves alone
inline constexpr char kFailRecover[] = "rollback";    // an earlier transaction cannot be undone
inline constexpr char kFailTemp[] = "temp";           // no private folder
inline constexpr char kFailSignature[] = "signature"; // unsigned, wrongly signed or no key
inline constexpr char kFailZip[] = "zip";             // not a zip archive
inline constexpr char kFailUnpack[] = "unpack";       // an entry is unsafe, corrupt or too big
inline constexpr char kFailScript[] = "script";       // upgrade.cfg missing, broken or unsafe
inline constexpr char kFailUsage[] = "usage";
} // namespace helper

// Runs the helper with the arguments after "--apply" / "--recover". The exit status.
int RunApplyHelper(const std::vector<std::string>& args);
int RunRecoverHelper(const std::vector<std::string>& args);
