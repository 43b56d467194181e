// The bench's hands on the simulated desktop's files and started processes. Windows
// paths are mapped into a scratch directory made for this test program (removed at its
// exit); bench::Reset empties it and sets the current directory back to "C:\".
// Host builds only.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace bench {

// The host directory that holds the simulated drives.
std::string ScratchDir();
// The host path of a Windows path (absolute, or relative to the current directory).
std::string HostPath(const std::string& windowsPath);

// Files and folders by Windows path, for setup and assertions.
bool MakeDirs(const std::string& windowsPath);  // with every missing parent
bool PutFile(const std::string& windowsPath, const std::string& bytes);  // parents made too
std::optional<std::string> FileContents(const std::string& windowsPath);
bool FileExists(const std::string& windowsPath);
bool DirExists(const std::string& windowsPath);
// Entries of a folder, sorted ("a", "b/" for a folder); empty when it does not exist.
std::vector<std::string> ListDir(const std::string& windowsPath);
// A folder the program may not write into: CreateDirectoryA and CopyFileA into it (or
// anywhere beneath it) fail with ERROR_ACCESS_DENIED. The bench itself still can.
void SetWritable(const std::string& windowsPath, bool writable);

// The simulated current directory, a Windows path such as "C:\Users\me\Downloads".
// Setting it makes the folder if needed.
void SetCurrentDir(const std::string& windowsPath);
std::string CurrentDir();

// What GetStartupInfoA reports: the start of this program (dwFlags, wShowWindow).
void SetStartupInfo(DWORD flags, WORD showWindow);

// Processes asked for by CreateProcessA, in order.
struct StartedProcess {
  bool hasApplication = false;
  std::string application;   // when given
  std::string commandLine;   // the exact bytes up to the NUL
  std::string program;       // the program the command line names (first token, unquoted)
  bool hasProcessAttributes = false;  // security attributes given for the process
  bool hasThreadAttributes = false;   // ... and for its first thread
  bool inheritHandles = false;
  DWORD creationFlags = 0;
  bool hasEnvironment = false;
  bool hasCurrentDirectory = false;
  std::string currentDirectory;  // when given
  std::string parentCurrentDirectory;  // the simulated current directory at the call
  bool hasStartupInfo = false;
  STARTUPINFOA startupInfo{};  // a copy, when given
  bool started = false;       // false when the program was missing
};
std::vector<StartedProcess> StartedProcesses();
// Programs that cannot be started (compared without regard to letter case with the
// program a command line names): CreateProcessA fails with ERROR_FILE_NOT_FOUND.
void SetProgramMissing(const std::string& program, bool missing = true);

}  // namespace bench
