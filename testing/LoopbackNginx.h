// A real HTTP server that no one here wrote, for tests and benchmarks of the HTTP client: Debian's nginx, started as a
// child process on 127.0.0.1 with a configuration written into a folder of the caller's (documents, logs and pid
// there too), and stopped at scope exit. Native builds only; the Windows build has the class but Start() fails.
#pragma once

#include <string>

class TLoopbackNginx {
 public:
  // The folder is created when missing; its old logs are removed. Documents are served from Folder() + "/www".
  explicit TLoopbackNginx(std::string folder);
  ~TLoopbackNginx();
  TLoopbackNginx(const TLoopbackNginx&) = delete;
  TLoopbackNginx& operator=(const TLoopbackNginx&) = delete;

  // True when the nginx program is installed where Debian puts it.
  static bool Installed();

  // Writes a document below the document root (path relative to it, e.g. "flashfeed.dsp").
  void WriteDocument(const std::string& relativePath, const std::string& bytes) const;

  // Writes the configuration and starts the server on a port the system reported free, retrying with another port
  // when that one was taken in between. Keep-alive is on (an idle connection is closed after keepAliveSeconds, and
  // there is no request limit worth mentioning), every reply for "/flashfeed.dsp" carries the header
  // "Set-Cookie: <setCookie>" when setCookie is not empty, and documents below "/chunked/" go out in chunks (their
  // length is not known in advance). Returns false and fills Error() when the server does not
  // come up within a few seconds.
  bool Start(const std::string& setCookie = "site=brasko; path=/", int keepAliveSeconds = 75);

  // Serves TLS with this certificate and key (files) from the next Start on; empty names: plain HTTP.
  void SetTLS(const std::string& certificateFile, const std::string& keyFile) {
    tlsCertificate_ = certificateFile;
    tlsKey_ = keyFile;
  }

  // Stops the server (a bounded wait, then a kill). Safe to call twice.
  void Stop();

  int Port() const { return port_; }
  const std::string& Folder() const { return folder_; }
  const std::string& Error() const { return error_; }

  // The access log's lines so far, each "<connection> <connection_requests> <status> \"<request line>\"
  // \"<Cookie header>\"" (an absent Cookie header is logged as "-").
  std::string AccessLog() const;

 private:
  bool StartOnce(int port, const std::string& setCookie, int keepAliveSeconds);

  std::string folder_;
  std::string error_;
  std::string tlsCertificate_;
  std::string tlsKey_;
  int port_ = 0;
  long pid_ = 0;
};
