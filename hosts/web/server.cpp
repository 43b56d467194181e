// The page, its requests and its updates over HTTP (cpp-httplib).
#include "hosts/web/server.h"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <nlohmann/json.hpp>
#include <thread>

#include "platform/sim/bench_view.h"
#include "hosts/web/api.h"

namespace web {

struct PageFile {
  const char* name;
  const char* type;
  const unsigned char* data;
  size_t size;
};
extern const PageFile kPageFiles[];

namespace {

httplib::Server* server = nullptr;
std::thread listener;
std::atomic<bool> stopping{false};

// What one open page has been sent so far.
struct Feed {
  bool started = false;
  uint64_t seen = 0;  // the change count drawn last
  std::string state;
  std::string registry;
  uint64_t traceNext = 0;
};

std::string Event(const char* name, const std::string& data) {
  return std::string("event: ") + name + "\ndata: " + data + "\n\n";
}

// One step of a page's feed: waits for a change, then sends what changed. Nothing is
// computed while nothing changes; a comment every 15 s finds pages that went away.
bool FeedStep(Feed& f, httplib::DataSink& sink) {
  if (f.started) {
    uint64_t now = bench::WaitScreenChange(f.seen, 15000);
    if (stopping) return false;
    if (now == f.seen) return sink.write(": quiet\n\n", 9);
    // A burst of changes (a key typed: several trace lines, a paint) becomes one update.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
  }
  f.started = true;
  f.seen = bench::ScreenChanges();
  std::string out;
  std::string state = StateJson();
  if (state != f.state) out += Event("state", state), f.state = state;
  std::string trace = TraceJson(f.traceNext, &f.traceNext);
  if (trace.find("\"lines\":[]") == std::string::npos) out += Event("trace", trace);
  std::string registry = RegistryText();
  if (registry != f.registry) {
    out += Event("registry", nlohmann::json(registry).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    f.registry = registry;
  }
  if (out.empty()) return true;
  return sink.write(out.data(), out.size());
}

void Answer(const httplib::Request& req, httplib::Response& res) {
  // httplib has already split the query; the requests take it whole.
  std::string query;
  for (const auto& p : req.params) query += (query.empty() ? "" : "&") + p.first + "=" + p.second;
  Reply r = Handle(req.method, req.path, query, req.body);
  res.status = r.status;
  res.set_header("Cache-Control", "no-store");
  res.set_content(r.body, r.type.c_str());
}

}  // namespace

int StartServer(int port, std::string* error) {
  server = new httplib::Server;
  server->set_payload_max_length(4096);  // the page's requests are a few dozen bytes
  for (const PageFile* f = kPageFiles; f->name; ++f) {
    std::string path = std::string(f->name) == "/index.html" ? "/" : f->name;
    server->Get(path, [f](const httplib::Request&, httplib::Response& res) {
      res.set_header("Cache-Control", "no-store");
      res.set_content(reinterpret_cast<const char*>(f->data), f->size, f->type);
    });
  }
  server->Get("/events", [](const httplib::Request&, httplib::Response& res) {
    res.set_header("Cache-Control", "no-store");
    auto feed = std::make_shared<Feed>();
    res.set_chunked_content_provider("text/event-stream",
                                     [feed](size_t, httplib::DataSink& sink) { return FeedStep(*feed, sink); });
  });
  server->Get("/favicon.ico", [](const httplib::Request&, httplib::Response& res) { res.status = 204; });
  server->Get("/api/.*", Answer);
  server->Post("/api/.*", Answer);
  server->Post("/.*", Answer);
  server->Put("/.*", Answer);
  server->Delete("/.*", Answer);
  int bound = port ? (server->bind_to_port("127.0.0.1", port) ? port : -1) : server->bind_to_any_port("127.0.0.1");
  if (bound <= 0) {
    *error = "cannot listen on 127.0.0.1:" + std::to_string(port) + " (in use?)";
    delete server;
    server = nullptr;
    return 0;
  }
  listener = std::thread([] { server->listen_after_bind(); });
  return bound;
}

void StopServer() {
  if (!server) return;
  stopping = true;
  server->stop();
  if (listener.joinable()) listener.join();
}

}  // namespace web
