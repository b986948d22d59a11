// The HTTP client against libcurl, both fetching from the same loopback nginx in the same run, over plain HTTP and
// over TLS (libcurl on the same OpenSSL):
//   - keep-alive fetches per second of a 20 KB feed over one kept connection (goal: at least libcurl's rate; over
//     TLS at least 90% of it);
//   - throughput of one 64 MiB body (goal: at least libcurl's; over TLS at least 90%).
// libcurl gets its best settings: the largest receive buffer it takes, and the body reserved from the announced
// length.
// And one whole poll as the program makes it once a minute: a keep-alive GET of a 20 KB feed, the tree, the lookups
// of every item and the page lines in memory, against libcurl (one kept handle) with pugixml (its fastest setting
// that keeps the headlines' CDATA, parsing in place) and the same lookups and page lines (goal: at most its time).
// The ratios are printed at the end of the run, the whole poll's last.
#include <curl/curl.h>
#include <pugixml.hpp>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/FeedProcessor.h"
#include "bench/BenchRatios.h"
#include "net/IdHTTP.h"
#include "rtl/SysUtils.h"
#include "testing/TestServer.h"
#include "testing/TestSupport.h"

namespace {

constexpr size_t kFeedSize = 20 * 1024;  // at least
constexpr size_t kLargeSize = 64u * 1024u * 1024u;

const TTestServer* gServer = nullptr;
std::string gAuthority;  // the certificate authority's file, for libcurl (ours reads SSL_CERT_FILE)
size_t gFeedSize = 0;    // the feed's exact size

std::string Url(bool tls, const char* document) {
  return tls ? "https://localhost:" + std::to_string(gServer->Port("good")) + "/" + document
             : "http://127.0.0.1:" + std::to_string(gServer->Port("plain")) + "/" + document;
}

// Bytes 0..255 repeated: every byte value crosses the wire.
std::string MakeLarge(size_t size) {
  std::string text(size, '\0');
  for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>(i * 131u + (i >> 12));
  return text;
}

void FetchWithBrasko(benchmark::State& state, bool tls, const char* document, size_t expected) {
  TIdHTTP http(nullptr);
  http.SetReadTimeout(0);
  const std::string url = Url(tls, document);
  for (auto _ : state) {
    std::string body = http.Get(url);
    if (body.size() != expected) {
      state.SkipWithError("wrong body size");
      break;
    }
    benchmark::DoNotOptimize(body.data());
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * expected));
}

// libcurl's body: reserved whole from the announced length at the first piece, then appended to.
struct TCurlBody {
  CURL* curl;
  std::string bytes;
};

size_t AppendToString(char* data, size_t size, size_t count, void* target) {
  auto* body = static_cast<TCurlBody*>(target);
  if (body->bytes.empty()) {
    curl_off_t length = 0;
    if (curl_easy_getinfo(body->curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK && length > 0) {
      body->bytes.reserve(static_cast<size_t>(length));
    }
  }
  body->bytes.append(data, size * count);
  return size * count;
}

// One kept libcurl handle for the address, at its best settings: the largest receive buffer it takes.
std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> CurlFor(const std::string& url) {
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), &curl_easy_cleanup);
  curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl.get(), CURLOPT_BUFFERSIZE, static_cast<long>(CURL_MAX_READ_SIZE));
  curl_easy_setopt(curl.get(), CURLOPT_CAINFO, gAuthority.c_str());
  curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, &AppendToString);
  return curl;
}

// One fetch on the kept handle: the body, or nothing when it failed.
std::optional<std::string> CurlGet(CURL* curl) {
  TCurlBody received{curl, std::string()};
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &received);
  if (curl_easy_perform(curl) != CURLE_OK) return std::nullopt;
  return std::move(received.bytes);
}

void FetchWithCurl(benchmark::State& state, bool tls, const char* document, size_t expected) {
  auto curl = CurlFor(Url(tls, document));
  for (auto _ : state) {
    std::optional<std::string> body = CurlGet(curl.get());
    if (!body || body->size() != expected) {
      state.SkipWithError("curl fetch failed");
      break;
    }
    benchmark::DoNotOptimize(body->data());
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * expected));
}

// A feed of the site's shape of at least the given size, headlines in CDATA.
std::string MakeFeed(size_t size) {
  std::string text = "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\r\n<flashfeed>\r\n";
  for (int id = 50000; text.size() < size; ++id) {
    text += "  <nieuwsposting>\r\n    <id>" + std::to_string(id) + "</id>\r\n    <titel><![CDATA[Bericht nummer " +
            std::to_string(id) + " over de stad]]></titel>\r\n    <tijd>12:34</tijd>\r\n  </nieuwsposting>\r\n";
  }
  return text + "</flashfeed>\r\n";
}

// Ours: the feed processor itself, with the client kept from poll to poll as the main window keeps it. The page is
// saved once before timing; after that no id is new, so a poll builds the page in memory and saves nothing.
void BM_WholePoll_Brasko(benchmark::State& state) {
  TIdHTTP http(nullptr);
  http.SetReadTimeout(0);
  const std::string url = Url(false, "feed.dsp");
  TFeedProcessor processor(ExecutableDirectory() + "poll-bench-page.html", nullptr);
  processor.ProcessFeed(http.Get(url));
  for (auto _ : state) processor.ProcessFeed(http.Get(url));
  benchmark::DoNotOptimize(processor.LastShownId());
  state.SetItemsProcessed(state.iterations());
}

// The peer: libcurl's body parsed in place by pugixml, every item found in document order, its three fields read,
// the ids converted and the same page lines built.
void BM_WholePoll_CurlPugixml(benchmark::State& state) {
  auto curl = CurlFor(Url(false, "feed.dsp"));
  struct TItems : pugi::xml_tree_walker {
    std::vector<pugi::xml_node> found;
    bool for_each(pugi::xml_node& node) override {
      if (std::strcmp(node.name(), "nieuwsposting") == 0) found.push_back(node);
      return true;
    }
  };
  int32_t highest = 0;
  for (auto _ : state) {
    std::optional<std::string> body = CurlGet(curl.get());
    if (!body) {
      state.SkipWithError("curl fetch failed");
      break;
    }
    pugi::xml_document document;
    document.load_buffer_inplace(body->data(), body->size(), pugi::parse_cdata);
    TItems items;
    document.traverse(items);
    std::vector<TPageItem> pageItems;
    pageItems.reserve(items.found.size());
    for (const pugi::xml_node& item : items.found) {
      const TPageItem texts{item.child("id").child_value(), item.child("titel").child_value(),
                            item.child("tijd").child_value()};
      highest = std::max(highest, StrToInt(std::string(texts.id)));
      pageItems.push_back(texts);
    }
    const TStringList page = PageLines(pageItems);
    benchmark::DoNotOptimize(page.Count());
  }
  benchmark::DoNotOptimize(highest);
  state.SetItemsProcessed(state.iterations());
}

void BM_KeepAliveFeed_Brasko(benchmark::State& state) { FetchWithBrasko(state, false, "feed.dsp", gFeedSize); }
void BM_KeepAliveFeed_Curl(benchmark::State& state) { FetchWithCurl(state, false, "feed.dsp", gFeedSize); }
void BM_LargeBody_Brasko(benchmark::State& state) { FetchWithBrasko(state, false, "large.bin", kLargeSize); }
void BM_LargeBody_Curl(benchmark::State& state) { FetchWithCurl(state, false, "large.bin", kLargeSize); }
void BM_TLSKeepAliveFeed_Brasko(benchmark::State& state) { FetchWithBrasko(state, true, "feed.dsp", gFeedSize); }
void BM_TLSKeepAliveFeed_Curl(benchmark::State& state) { FetchWithCurl(state, true, "feed.dsp", gFeedSize); }
void BM_TLSLargeBody_Brasko(benchmark::State& state) { FetchWithBrasko(state, true, "large.bin", kLargeSize); }
void BM_TLSLargeBody_Curl(benchmark::State& state) { FetchWithCurl(state, true, "large.bin", kLargeSize); }

BENCHMARK(BM_KeepAliveFeed_Brasko)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_KeepAliveFeed_Curl)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_LargeBody_Brasko)->MinTime(3.0)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LargeBody_Curl)->MinTime(3.0)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TLSKeepAliveFeed_Brasko)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_TLSKeepAliveFeed_Curl)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_TLSLargeBody_Brasko)->MinTime(3.0)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TLSLargeBody_Curl)->MinTime(3.0)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WholePoll_Brasko)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_WholePoll_CurlPugixml)->MinTime(2.0)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  curl_global_init(CURL_GLOBAL_DEFAULT);
  // The tests' server (testing/nginx), started here for the run.
  const std::string folder = ExecutableDirectory() + "nginx-bench";
  const std::string script = std::string(BRASKO_NGINX_SCRIPT) + " %s '" + folder + "' 0";
  if (std::system(Format(script.c_str(), "start").c_str()) != 0) {
    std::fprintf(stderr, "http_bench: the server did not start\n");
    return 1;
  }
  setenv("BRASKO_NGINX", folder.c_str(), 1);
  TTestServer server;
  gAuthority = server.Path("certificates/ca.pem");
  server.TrustAuthority();
  const std::string feed = MakeFeed(kFeedSize);
  gFeedSize = feed.size();
  server.WriteDocument("feed.dsp", feed);
  server.WriteDocument("large.bin", MakeLarge(kLargeSize));
  gServer = &server;

  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  double feedRatio = Ratio(reporter.itemRates, "BM_KeepAliveFeed_Brasko", "BM_KeepAliveFeed_Curl");
  double largeRatio = Ratio(reporter.byteRates, "BM_LargeBody_Brasko", "BM_LargeBody_Curl");
  std::printf("\nkeep-alive 20 KB fetches per second, ours / libcurl: %.2f (goal >= 1.00)\n", feedRatio);
  std::printf("64 MiB body throughput, ours / libcurl:              %.2f (goal >= 1.00)\n", largeRatio);
  std::printf("over TLS, keep-alive 20 KB fetches per second:      %.2f (goal >= 0.90)\n",
              Ratio(reporter.itemRates, "BM_TLSKeepAliveFeed_Brasko", "BM_TLSKeepAliveFeed_Curl"));
  std::printf("over TLS, 64 MiB body throughput:                   %.2f (goal >= 0.90)\n",
              Ratio(reporter.byteRates, "BM_TLSLargeBody_Brasko", "BM_TLSLargeBody_Curl"));
  // Times, not rates: below 1 is faster.
  std::printf("whole poll CPU time, ours / libcurl + pugixml:      %.2f (goal <= 1.00)\n",
              Ratio(reporter.cpuTimes, "BM_WholePoll_Brasko", "BM_WholePoll_CurlPugixml"));
  std::printf("whole poll, ours / libcurl + pugixml, time: %.2f\n",
              Ratio(reporter.realTimes, "BM_WholePoll_Brasko", "BM_WholePoll_CurlPugixml"));

  gServer = nullptr;
  std::system(Format(script.c_str(), "stop").c_str());
  curl_global_cleanup();
  benchmark::Shutdown();
  return 0;
}
