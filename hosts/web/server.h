// The HTTP side of the browser view: the page, the requests, and the updates pushed to
// the page as server-sent events. Listens on 127.0.0.1 only.
#pragma once

#include <string>

namespace web {

// Binds 127.0.0.1:port (0: any free port) and serves on threads of its own. Returns the
// port bound, or 0 with *error saying why.
int StartServer(int port, std::string* error);
void StopServer();

}  // namespace web
