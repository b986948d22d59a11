#include "testing/TestServer.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "testing/TestSupport.h"
#if defined(_WIN32)
#include "testing/WinTestUtils.h"
#endif

namespace testing_support {

TTestServer::TTestServer() {
  const char* folder = std::getenv("BRASKO_NGINX");
  if (folder == nullptr) return;
#if defined(_WIN32)
  folder_ = testing_win::WinePath(std::string(folder) + "/");
#else
  folder_ = std::string(folder) + "/";
#endif
  std::istringstream ports(ReadFile(Path("ports")));
  std::string name;
  for (int port; ports >> name >> port;) ports_[name] = port;
}

int TTestServer::Port(const std::string& server) const {
  auto found = ports_.find(server);
  return found != ports_.end() ? found->second : 0;
}

void TTestServer::WriteDocument(const std::string& relativePath, const std::string& bytes) const {
  const std::filesystem::path path = Path("www/" + relativePath);
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

bool TTestServer::TrustAuthority() const {
#if defined(_WIN32)
  return testing_win::TrustTestAuthority(Path("certificates/ca.pem"));
#else
  return setenv("SSL_CERT_FILE", Path("certificates/ca.pem").c_str(), 1) == 0;
#endif
}

std::vector<TAccessLogLine> TTestServer::Log(const std::string& tag, size_t count) const {
  std::vector<TAccessLogLine> lines;
  for (int wait = 0; wait == 0 || (wait < 500 && lines.size() < count); ++wait) {
    if (wait > 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    lines.clear();
    std::istringstream log(ReadFile(Path("access.log")));
    for (std::string line; std::getline(log, line);) {
      const size_t quote = line.find('"'), end = line.find('"', quote + 1), cookie = line.find('"', end + 1);
      if (cookie == std::string::npos || line.find(tag) == std::string::npos) continue;
      TAccessLogLine entry;
      std::istringstream(line) >> entry.connection >> entry.requestOnConnection >> entry.status;
      entry.request = line.substr(quote + 1, end - quote - 1);
      entry.cookie = line.substr(cookie + 1, line.rfind('"') - cookie - 1);
      lines.push_back(entry);
    }
  }
  return lines;
}

}  // namespace testing_support
