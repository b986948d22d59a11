#include "testing/LoopbackNginx.h"

#include <fstream>
#include <sstream>

#if !defined(_WIN32)
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <thread>
#endif

namespace {

constexpr const char kNginxProgram[] = "/usr/sbin/nginx";

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

#if !defined(_WIN32)

constexpr int kStartAttempts = 5;
constexpr auto kStartWait = std::chrono::seconds(5);
constexpr auto kStopWait = std::chrono::seconds(5);
constexpr auto kPollStep = std::chrono::milliseconds(10);

// A loopback port that nothing listens on right now. Another process may take it before nginx binds it; Start()
// then tries another one.
int FreeLoopbackPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return 0;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(fd);
  return port;
}

bool Accepts(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return ok;
}

#endif

}  // namespace

TLoopbackNginx::TLoopbackNginx(std::string folder) : folder_(std::move(folder)) {
#if !defined(_WIN32)
  std::error_code ignored;
  std::filesystem::create_directories(folder_ + "/www", ignored);
  std::filesystem::create_directories(folder_ + "/temp", ignored);
  std::filesystem::remove(folder_ + "/access.log", ignored);
  std::filesystem::remove(folder_ + "/error.log", ignored);
#endif
}

TLoopbackNginx::~TLoopbackNginx() { Stop(); }

bool TLoopbackNginx::Installed() {
#if defined(_WIN32)
  return false;
#else
  return ::access(kNginxProgram, X_OK) == 0;
#endif
}

void TLoopbackNginx::WriteDocument(const std::string& relativePath, const std::string& bytes) const {
#if !defined(_WIN32)
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(folder_ + "/www/" + relativePath).parent_path(), ignored);
#endif
  std::ofstream out(folder_ + "/www/" + relativePath, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string TLoopbackNginx::AccessLog() const { return ReadWholeFile(folder_ + "/access.log"); }

bool TLoopbackNginx::Start(const std::string& setCookie, int keepAliveSeconds) {
#if defined(_WIN32)
  (void)setCookie;
  (void)keepAliveSeconds;
  error_ = "nginx runs only in the native build";
  return false;
#else
  if (pid_ != 0) return true;
  if (!Installed()) {
    error_ = std::string(kNginxProgram) + " is not installed (Debian package nginx-light)";
    return false;
  }
  for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
    int port = FreeLoopbackPort();
    if (port != 0 && StartOnce(port, setCookie, keepAliveSeconds)) return true;
  }
  return false;
#endif
}

bool TLoopbackNginx::StartOnce(int port, const std::string& setCookie, int keepAliveSeconds) {
#if defined(_WIN32)
  (void)port;
  (void)setCookie;
  (void)keepAliveSeconds;
  return false;
#else
  const std::string& f = folder_;
  std::ostringstream conf;
  // One process in the foreground: the test owns it by its process id and nothing outlives the test.
  conf << "daemon off;\n"
       << "master_process off;\n"
       << "worker_processes 1;\n"
       << "pid " << f << "/nginx.pid;\n"
       << "error_log " << f << "/error.log info;\n"
       << "events { worker_connections 256; }\n"
       << "http {\n"
       << "  log_format brasko '$connection $connection_requests $status \"$request\" \"$http_cookie\"';\n"
       << "  access_log " << f << "/access.log brasko;\n"
       << "  client_body_temp_path " << f << "/temp/body;\n"
       << "  proxy_temp_path " << f << "/temp/proxy;\n"
       << "  fastcgi_temp_path " << f << "/temp/fastcgi;\n"
       << "  uwsgi_temp_path " << f << "/temp/uwsgi;\n"
       << "  scgi_temp_path " << f << "/temp/scgi;\n"
       << "  keepalive_timeout " << keepAliveSeconds << "s;\n"
       << "  keepalive_requests 1000000;\n"
       << "  sendfile on;\n"
       << "  types { text/xml dsp xml; text/html html; }\n"
       << "  default_type application/octet-stream;\n"
       << "  server {\n"
       << "    listen 127.0.0.1:" << port << (tlsCertificate_.empty() ? "" : " ssl") << ";\n";
  if (!tlsCertificate_.empty()) {
    conf << "    ssl_certificate " << tlsCertificate_ << ";\n"
         << "    ssl_certificate_key " << tlsKey_ << ";\n";
  }
  conf << "    root " << f << "/www;\n"
       << "    location /chunked/ { ssi on; }\n"
       << "    location = /flashfeed.dsp {\n";
  if (!setCookie.empty()) conf << "      add_header Set-Cookie \"" << setCookie << "\";\n";
  conf << "    }\n"
       << "  }\n"
       << "}\n";
  {
    std::ofstream out(f + "/nginx.conf", std::ios::trunc);
    out << conf.str();
  }

  std::string prefix = f + "/";
  std::string confPath = f + "/nginx.conf";
  std::string errorLog = f + "/error.log";
  pid_t pid = ::fork();
  if (pid < 0) {
    error_ = "fork failed";
    return false;
  }
  if (pid == 0) {
    // The child: quiet, then nginx.
    int devnull = ::open("/dev/null", O_RDWR);
    if (devnull >= 0) {
      ::dup2(devnull, 0);
      ::dup2(devnull, 1);
      ::dup2(devnull, 2);
    }
    ::execl(kNginxProgram, kNginxProgram, "-p", prefix.c_str(), "-c", confPath.c_str(), "-e", errorLog.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  pid_ = pid;
  port_ = port;
  auto deadline = std::chrono::steady_clock::now() + kStartWait;
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) {
      // It ended at once: most likely the port was taken in between. The error log says why.
      pid_ = 0;
      port_ = 0;
      error_ = "nginx ended at start: " + ReadWholeFile(errorLog);
      return false;
    }
    if (Accepts(port)) return true;
    std::this_thread::sleep_for(kPollStep);
  }
  error_ = "nginx did not accept connections within the start time: " + ReadWholeFile(errorLog);
  Stop();
  return false;
#endif
}

void TLoopbackNginx::Stop() {
#if !defined(_WIN32)
  if (pid_ == 0) return;
  pid_t pid = static_cast<pid_t>(pid_);
  pid_ = 0;
  port_ = 0;
  ::kill(pid, SIGTERM);
  auto deadline = std::chrono::steady_clock::now() + kStopWait;
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) return;
    std::this_thread::sleep_for(kPollStep);
  }
  ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
#endif
}
