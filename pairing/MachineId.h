#pragma once
// The machine identity: 32 upper-case hex digits, the MD5 of the firmware UUID text, the
// processor text and the system volume text. It must come out the same for every user and every
// run on one machine, so it is built only from sources every user can read.

#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

// Computed on first use, then the same text for the life of the process; safe to call from any
// thread.
std::string GetMachineId();
// The identity computed afresh.
std::string ComputeMachineId();

// "XXXXXXXX-XXXXXXXX-XXXXXXXX-XXXXXXXX": 16 bytes as four groups of four, upper-case. Taken from
// the firmware's product UUID when that file is readable by every user, else from the system's
// machine-id file; empty when neither qualifies.
std::string ReadFirmwareUuid();
// The same choice over the given files: productUuid first, then each machine-id file in turn.
// A file counts only when it is a regular file whose mode lets every user read it and it holds
// exactly 32 hex digits (dashes and surrounding white space aside).
std::string ReadFirmwareUuidFrom(const fs::path& productUuid,
                                 const std::vector<fs::path>& machineIdFiles);

// "%08X%08X-%08X%08X": EDX and ECX of CPUID leaf 1, then of leaf 3; zeros off x86.
std::string GetProcessorText();
// "%08X" of the root file system's serial: the first 32 bits of its UUID, else its statfs file
// system id; "00000000" when neither can be read.
std::string GetVolumeText();
