// An HTTP or HTTPS server on one address, for the administration console: every request of every
// method goes to one handler, which decides everything (there is no file serving of its own).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

struct HttpRequest {
  std::string method;  // "GET", "POST", ...
  std::string target;  // as sent: path and query, still percent-encoded
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  std::string peer_address;  // of the connection ("127.0.0.1")
  bool tls = false;          // the connection is HTTPS

  // The first header of that name (compared without case); empty when absent.
  std::string Header(std::string_view name) const;
  // How many headers of that name the request carries.
  int HeaderCount(std::string_view name) const;
};

struct HttpResponse {
  int status = 200;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string content_type = "text/plain; charset=utf-8";
  std::string body;

  void SetHeader(const std::string& name, const std::string& value);
  void AddHeader(const std::string& name, const std::string& value) {
    headers.emplace_back(name, value);
  }
};

struct ServerImpl;

class HttpServer {
 public:
  // Called on the server's worker threads, several at once. What it throws becomes a bare 500.
  using Handler = std::function<void(const HttpRequest&, HttpResponse&)>;

  // A plain HTTP server, or with `certificate_file` and `key_file` (PEM) an HTTPS one. Returns
  // null and sets `error` when the certificate or key cannot be used.
  static std::unique_ptr<HttpServer> Create(const std::string& certificate_file,
                                            const std::string& key_file, std::string& error);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Binds `address` (an IPv4 or IPv6 literal) and `port` (0: any free port); returns the port
  // bound, or -1 with `error` set.
  int Bind(const std::string& address, int port, std::string& error);
  // Serves until Stop; false when it could not serve at all.
  bool Run(Handler handler);
  // Ends Run; from any thread, also from a signal-watching thread.
  void Stop();

 private:
  explicit HttpServer(std::unique_ptr<ServerImpl> impl);
  std::unique_ptr<ServerImpl> impl_;
};

// Blocks SIGINT and SIGTERM in the calling thread (call it before starting other threads, so
// they inherit the mask) and waits for one on a thread of its own, then calls `on_signal` once.
void OnTerminationSignal(std::function<void()> on_signal);

}  // namespace platform
