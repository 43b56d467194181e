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

// How the handheld was started; set once before the server runs. Also forgets what the
// view knew of an earlier start (the line, open pages, the help viewer, the program's end).
struct Setup {
  std::string tty;       // key bytes from this device; "" = the page's keyboard
  std::string language;  // the national build shown, "USA", "FRA", ...
  std::string registry;  // the registry file shown in the page
  std::string helpDir;   // the national build's help pages; "" = none
};
void Configure(const Setup& setup);

// The port the server listens on at 127.0.0.1: the one address a request may name as its
// Host, and the page's own origin.
void SetPort(int port);

// One request. `query` is the part after '?', undecoded; the headers are "" when absent.
struct Request {
  std::string method;
  std::string path;
  std::string query;
  std::string body;
  std::string host;         // Host
  std::string origin;       // Origin
  std::string contentType;  // Content-Type
};

// Refused before anything is done (403, *reply says why): a Host other than the address
// listened on (a page of another site reached through DNS rebinding), and a request that
// could change something (any but GET and HEAD) unless it is application/json sent from
// the page's own origin. Needs only the headers, so the server asks before reading a body.
bool Refused(const Request& request, Reply* reply);

// Answers one request, refusals first. Bad requests (unknown path or control, malformed
// JSON, values out of range, a window that is not there) get a 4xx with
// {"error": "..."} and change nothing.
Reply Handle(const Request& request);

// The program has started and notes is in front again: what a person sees from now on is
// the handheld at rest (the page says "starting" until then).
void NoteProgramStarted();
// The program's entry has returned with this code (the page says so).
void NoteProgramEnded(int exitCode);

// Open pages: each event stream is one. OpenPage numbers it (its key requests name the
// number); ClosePage lifts the keys it still holds, as when a keyboard's keys are let go.
int OpenPage();
void ClosePage(int page);
// The first event of a page's stream: its number and which start of brindle-web it is.
std::string HelloJson(int page);

// What the folding keyboard leaves latched (1 Shift, 2 Fn) and the handheld's Caps Lock
// (4): the driver sets a latch after the trace line of the key that made it, so a viewer
// looks at these as well as at the screen's changes.
int Latches();

// The keyboard's line as the page shows it: the part of the state a page must hear of at
// once, so it is sent ahead of the rest.
std::string LineJson();

// Everything the page draws, as JSON (see the page's app.js for its use).
std::string StateJson();

// The trace: the sink the server gives bench::SetTraceSink, and the lines after `seq`
// (at most the last 2000 are kept). *next is the number to ask from next time.
void AppendTrace(const std::string& line);
std::string TraceJson(uint64_t seq, uint64_t* next);

// The registry file's text (empty when it cannot be read).
std::string RegistryText();

}  // namespace web
