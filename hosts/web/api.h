// The browser view's requests: what the page may ask of the simulated handheld and what
// it is told back. Kept apart from the HTTP server, so every request can be tried
// without a socket (the tests and the fuzzer call Handle directly).
#pragma once

#include <cstdint>
#include <string>

namespace web {

struct Reply {
  int status = 200;
  std::string type = "application/json";
  std::string body;
};

// How the handheld was started; set once before the server runs.
struct Setup {
  std::string tty;       // key bytes from this device; "" = the page's keyboard
  std::string language;  // the national build shown, "USA", "FRA", ...
  std::string registry;  // the registry file shown in the page
};
void Configure(const Setup& setup);

// The program's entry has returned with this code (the page says so).
void NoteProgramEnded(int exitCode);

// One request. `query` is the part after '?', undecoded. Bad requests (unknown path or
// control, malformed JSON, values out of range, a window that is not there) get a 4xx
// with {"error": "..."} and change nothing.
Reply Handle(const std::string& method, const std::string& path, const std::string& query,
             const std::string& body);

// Everything the page draws, as JSON (see the page's app.js for its use).
std::string StateJson();

// The trace: the sink the server gives bench::SetTraceSink, and the lines after `seq`
// (at most the last 2000 are kept). *next is the number to ask from next time.
void AppendTrace(const std::string& line);
std::string TraceJson(uint64_t seq, uint64_t* next);

// The registry file's text (empty when it cannot be read).
std::string RegistryText();

}  // namespace web
