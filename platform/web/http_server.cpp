// The console's HTTP server over cpp-httplib: one catch-all route per method, so that routing,
// files and errors are the handler's alone.
#include "platform/web/http_server.h"

#include <httplib.h>
#include <signal.h>
#include <sys/socket.h>

#include <thread>

#include "platform/text.h"

namespace platform {

struct ServerImpl {
  std::unique_ptr<httplib::Server> server;
  bool tls = false;
};

std::string HttpRequest::Header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (EqualsNoCase(key, name)) return value;
  }
  return {};
}

int HttpRequest::HeaderCount(std::string_view name) const {
  int count = 0;
  for (const auto& header : headers) count += EqualsNoCase(header.first, name) ? 1 : 0;
  return count;
}

void HttpResponse::SetHeader(const std::string& name, const std::string& value) {
  for (auto& header : headers) {
    if (EqualsNoCase(header.first, name)) {
      header.second = value;
      return;
    }
  }
  headers.emplace_back(name, value);
}

HttpServer::HttpServer(std::unique_ptr<ServerImpl> impl) : impl_(std::move(impl)) {}
HttpServer::~HttpServer() = default;

std::unique_ptr<HttpServer> HttpServer::Create(const std::string& certificate_file,
                                               const std::string& key_file, std::string& error) {
  auto impl = std::make_unique<ServerImpl>();
  if (!certificate_file.empty() || !key_file.empty()) {
    auto server = std::make_unique<httplib::SSLServer>(certificate_file.c_str(), key_file.c_str());
    if (!server->is_valid()) {
      error = "cannot use the certificate " + certificate_file + " with the key " + key_file +
              " (both PEM, readable, and the key must belong to the certificate)";
      return nullptr;
    }
    impl->server = std::move(server);
    impl->tls = true;
  } else {
    impl->server = std::make_unique<httplib::Server>();
  }
  // The library's default, SO_REUSEPORT, would let a second console (or any program of the same
  // user) bind the same port and take half of the connections, each with sessions of its own.
  // SO_REUSEADDR alone still allows a restart while old connections linger.
  impl->server->set_socket_options([](int sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  // Forms and JSON of the pages are small; anything larger is refused before it is read.
  impl->server->set_payload_max_length(64 * 1024);
  impl->server->set_read_timeout(10);
  impl->server->set_write_timeout(10);
  impl->server->set_keep_alive_timeout(30);
  return std::unique_ptr<HttpServer>(new HttpServer(std::move(impl)));
}

int HttpServer::Bind(const std::string& address, int port, std::string& error) {
  const int bound = port == 0 ? impl_->server->bind_to_any_port(address)
                              : (impl_->server->bind_to_port(address, port) ? port : -1);
  if (bound < 0) error = "cannot listen on " + address + ":" + std::to_string(port);
  return bound;
}

bool HttpServer::Run(Handler handler) {
  const bool tls = impl_->tls;
  const auto route = [handler = std::move(handler), tls](const httplib::Request& in,
                                                         httplib::Response& out) {
    HttpRequest request;
    request.method = in.method;
    request.target = in.target;
    request.headers.assign(in.headers.begin(), in.headers.end());
    request.body = in.body;
    request.peer_address = in.remote_addr;
    request.tls = tls;
    HttpResponse response;
    try {
      handler(request, response);
    } catch (...) {
      response = HttpResponse();
      response.status = 500;
      response.body = "Internal error\n";
    }
    out.status = response.status;
    for (const auto& [name, value] : response.headers) out.set_header(name, value);
    out.set_content(response.body, response.content_type);
  };
  const char* any = ".*";
  impl_->server->Get(any, route);
  impl_->server->Post(any, route);
  impl_->server->Put(any, route);
  impl_->server->Delete(any, route);
  impl_->server->Patch(any, route);
  impl_->server->Options(any, route);
  return impl_->server->listen_after_bind();
}

void HttpServer::Stop() { impl_->server->stop(); }

void OnTerminationSignal(std::function<void()> on_signal) {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::thread([set, on_signal = std::move(on_signal)] {
    int signal = 0;
    sigwait(&set, &signal);
    on_signal();
  }).detach();
}

}  // namespace platform
