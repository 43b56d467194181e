// The page, its requests and its updates over HTTP (cpp-httplib).
//
// Every connection has a thread while it lasts, and an open page keeps its event stream
// open, so the threads are made as connections need them rather than drawn from a fixed
// pool that a few open pages would use up. A page that goes away is noticed within a
// quarter of a second, its thread freed and the keys it held lifted.
#include "hosts/web/server.h"

#include <httplib.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>
#include <vector>

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

constexpr size_t kMaxThreads = 512;  // connections served at once; more wait their turn
constexpr int kSliceMs = 250;        // how often a quiet feed looks whether its page is there
constexpr int kBurstMs = 50;         // a page gets at most one update in this time

// One thread per connection, made when no idle one is left and kept for the next.
class Workers : public httplib::TaskQueue {
 public:
  void enqueue(std::function<void()> fn) override {
    std::lock_guard<std::mutex> g(mu_);
    jobs_.push_back(std::move(fn));
    if (jobs_.size() > idle_ && threads_.size() < kMaxThreads)
      threads_.emplace_back([this] { Work(); });
    else
      cv_.notify_one();
  }
  void shutdown() override {
    {
      std::lock_guard<std::mutex> g(mu_);
      stop_ = true;
    }
    cv_.notify_all();
    for (std::thread& t : threads_) t.join();
  }

 private:
  void Work() {
    std::unique_lock<std::mutex> lk(mu_);
    for (;;) {
      ++idle_;
      cv_.wait(lk, [this] { return stop_ || !jobs_.empty(); });
      --idle_;
      if (jobs_.empty()) return;
      std::function<void()> fn = std::move(jobs_.front());
      jobs_.pop_front();
      lk.unlock();
      fn();
      lk.lock();
    }
  }
  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> jobs_;
  std::vector<std::thread> threads_;
  size_t idle_ = 0;
  bool stop_ = false;
};

// Debian's build listens with a backlog of 5: of pages that connect together, the rest
// would wait for their handshake to be repeated, a second and more. Listening again on
// the bound socket widens it.
class WebServer : public httplib::Server {
 public:
  bool WidenBacklog() { return ::listen(svr_sock_, SOMAXCONN) == 0; }
};

WebServer* server = nullptr;
std::thread listener;
std::atomic<bool> stopping{false};

// What every open page is sent after a change, made once for all of them.
struct Snapshot {
  uint64_t changes = 0;
  int latches = -1;
  std::string state;
  std::string registry;
};
std::mutex snapshotMu;
std::shared_ptr<const Snapshot> snapshot;

std::shared_ptr<const Snapshot> Current() {
  std::lock_guard<std::mutex> g(snapshotMu);
  // Read before the state is made: a change while it is made moves them on, and the next
  // look makes it again.
  uint64_t changes = bench::ScreenChanges();
  int latches = Latches();
  if (!snapshot || snapshot->changes != changes || snapshot->latches != latches) {
    auto s = std::make_shared<Snapshot>();
    s->changes = changes;
    s->latches = latches;
    s->state = StateJson();
    s->registry = RegistryText();
    snapshot = s;
  }
  return snapshot;
}

// The trace's new lines, made once for all the pages that have seen the same lines; kept
// for one count of changes (lines added later move the count on).
std::mutex traceMu;
uint64_t traceChanges = ~0ull;
std::map<uint64_t, std::pair<std::string, uint64_t>> traceFrom;  // first line -> (event data, next)

std::string SharedTrace(uint64_t changes, uint64_t seq, uint64_t* next) {
  std::lock_guard<std::mutex> g(traceMu);
  if (changes != traceChanges) traceFrom.clear(), traceChanges = changes;
  auto it = traceFrom.find(seq);
  if (it == traceFrom.end()) {
    uint64_t after = 0;
    std::string data = TraceJson(seq, &after);
    it = traceFrom.emplace(seq, std::make_pair(std::move(data), after)).first;
  }
  *next = it->second.second;
  return it->second.first;
}

// What one open page has been sent so far.
struct Feed {
  int page = 0;
  bool started = false;
  uint64_t seen = 0;  // the change count drawn last
  int latches = -1;
  std::string line;
  std::string state;
  std::string registry;
  uint64_t traceNext = 0;
  std::chrono::steady_clock::time_point sent;  // the last update
};

std::string Event(const char* name, const std::string& data) {
  return std::string("event: ") + name + "\ndata: " + data + "\n\n";
}

bool SendLine(Feed& f, httplib::DataSink& sink) {
  std::string line = LineJson();
  if (line == f.line) return true;
  f.line = line;
  std::string event = Event("line", line);
  return sink.write(event.data(), event.size());
}

// One step of a page's feed: waits for a change, then sends what changed. Nothing is
// computed while nothing changes; false ends the stream (the page left, or the server
// stops), which frees its thread.
bool FeedStep(Feed& f, httplib::DataSink& sink) {
  std::string out;
  if (!f.started) {
    f.started = true;
    out = Event("hello", HelloJson(f.page));
  } else {
    for (;;) {
      uint64_t now = bench::WaitScreenChange(f.seen, kSliceMs);
      if (stopping) return false;
      if (now != f.seen || Latches() != f.latches) break;
      if (!sink.is_writable()) return false;
    }
    // The line is the page's own control: a change of it goes out before the state is
    // made, which takes a while.
    if (!SendLine(f, sink)) return false;
    // A change after a quiet spell goes out at once; the rest of a burst (a key typed:
    // several trace lines, a paint) waits for the next update.
    std::this_thread::sleep_until(f.sent + std::chrono::milliseconds(kBurstMs));
  }
  f.sent = std::chrono::steady_clock::now();
  if (f.line.empty()) f.line = LineJson();
  std::shared_ptr<const Snapshot> s = Current();
  f.seen = s->changes;
  f.latches = s->latches;
  // A line change made during the wait above is counted in f.seen now, so the next wait
  // would not wake for it: it goes out here.
  if (!SendLine(f, sink)) return false;
  if (s->state != f.state) out += Event("state", s->state), f.state = s->state;
  std::string trace = SharedTrace(s->changes, f.traceNext, &f.traceNext);
  if (trace.find("\"lines\":[]") == std::string::npos) out += Event("trace", trace);
  if (s->registry != f.registry) {
    using nlohmann::json;
    out += Event("registry", json(s->registry).dump(-1, ' ', false, json::error_handler_t::replace));
    f.registry = s->registry;
  }
  if (out.empty()) return true;
  return sink.write(out.data(), out.size());
}

Request Headers(const httplib::Request& req) {
  Request r;
  r.method = req.method;
  r.path = req.path;
  r.host = req.get_header_value("Host");
  r.origin = req.get_header_value("Origin");
  r.contentType = req.get_header_value("Content-Type");
  return r;
}

void Send(const Reply& r, httplib::Response& res) {
  res.status = r.status;
  res.set_header("Cache-Control", "no-store");
  res.set_content(r.body, r.type.c_str());
}

void Answer(const httplib::Request& req, httplib::Response& res) {
  Request r = Headers(req);
  // httplib has already split the query; the requests take it whole.
  for (const auto& p : req.params) r.query += (r.query.empty() ? "" : "&") + p.first + "=" + p.second;
  r.body = req.body;
  Send(Handle(r), res);
}

// Before a body is read: a request from elsewhere is refused at once, and so is one that
// would change something but says nothing of its length (its body would otherwise be
// read until the client gave up).
httplib::Server::HandlerResponse Screen(const httplib::Request& req, httplib::Response& res) {
  Reply refusal;
  bool refused = Refused(Headers(req), &refusal);
  bool reads = req.method == "GET" || req.method == "HEAD";
  bool saysLength = req.has_header("Content-Length") || req.get_header_value("Transfer-Encoding") == "chunked";
  if (!refused && !reads && !saysLength) {
    refusal = Reply{411, "application/json", R"({"error":"a request that changes something says its Content-Length"})"};
    refused = true;
  }
  if (!refused) return httplib::Server::HandlerResponse::Unhandled;
  Send(refusal, res);
  res.set_header("Connection", "close");  // whatever body it has is never read
  return httplib::Server::HandlerResponse::Handled;
}

}  // namespace

int StartServer(int port, std::string* error) {
  server = new WebServer;
  server->new_task_queue = [] { return new Workers; };
  // Debian's build also sets SO_REUSEPORT, with which a second server on the same port
  // starts and takes half the connections: address reuse only, so a taken port is refused.
  server->set_socket_options([](socket_t sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  // Headers and body go out as separate writes: without this each answer waits for the
  // client's delayed acknowledgement, some 40 ms.
  server->set_tcp_nodelay(true);
  server->set_keep_alive_max_count(1000);
  server->set_payload_max_length(4096);  // the page's requests are a few dozen bytes
  server->set_pre_routing_handler(Screen);
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
    feed->page = OpenPage();
    res.set_chunked_content_provider(
        "text/event-stream", [feed](size_t, httplib::DataSink& sink) { return FeedStep(*feed, sink); },
        [feed](bool) { ClosePage(feed->page); });
  });
  server->Get("/favicon.ico", [](const httplib::Request&, httplib::Response& res) { res.status = 204; });
  server->Get("/api/.*", Answer);
  server->Get("/help/.*", Answer);
  server->Post("/.*", Answer);
  server->Put("/.*", Answer);
  server->Delete("/.*", Answer);
  errno = 0;
  int bound = port ? (server->bind_to_port("127.0.0.1", port) ? port : -1) : server->bind_to_any_port("127.0.0.1");
  if (bound <= 0) {
    int why = errno;
    *error = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " +
             (why == EADDRINUSE ? std::string("the port is in use (is another brindle-web running?)")
                                : std::string(why ? strerror(why) : "bind failed"));
    delete server;
    server = nullptr;
    return 0;
  }
  if (!server->WidenBacklog()) fprintf(stderr, "brindle-web: the listening queue stays short: %s\n", strerror(errno));
  SetPort(bound);
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
