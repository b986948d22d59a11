// The nginx that ctest starts for the tests (testing/nginx), as a test program sees it: the ports of its servers,
// its documents, its access log, and its certificate authority, trusted by this program (natively) or by the Wine
// prefix (the Windows build).
#pragma once

#include <map>
#include <string>
#include <vector>

namespace testing_support {

// One access-log line: "<connection> <request on it> <status> "<request line>" "<Cookie header>"".
struct TAccessLogLine {
  std::string connection;
  int requestOnConnection = 0;
  int status = 0;
  std::string request;
  std::string cookie;  // "-" when the request had none
};

class TTestServer {
 public:
  // Finds the server through BRASKO_NGINX, which ctest sets; Found() is false outside ctest.
  TTestServer();
  bool Found() const { return !folder_.empty(); }
  // The port of one of its servers ("plain", "good", "untrusted", "expired", "othername").
  int Port(const std::string& server) const;
  // A path below its folder, as this program names it.
  std::string Path(const std::string& relativePath) const { return folder_ + relativePath; }
  void WriteDocument(const std::string& relativePath, const std::string& bytes) const;
  bool TrustAuthority() const;
  // The log's lines whose request contains tag, once there are at least count of them (nginx logs a request after
  // its reply has gone out) or a few seconds have passed.
  std::vector<TAccessLogLine> Log(const std::string& tag, size_t count) const;

 private:
  std::string folder_;  // with a trailing separator
  std::map<std::string, int> ports_;
};

}  // namespace testing_support
