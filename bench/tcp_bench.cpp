// The TCP connection's reading against bare socket loops reading the same bytes from the same kind of loopback peer
// in the same run:
//   - ReadToStream of a 256 MiB body against a bare recv loop into a buffer, at the receive size (of several tried)
//     that serves the bare loop best (goal: at least 90% of its throughput);
//   - ReadLine over 100,000 short lines against a bare recv loop that splits the same lines;
//   - ReadLine of one line just under the line bound arriving in small pieces, and of one a tenth of that length
//     (goal: the long line costs about ten times the short one, i.e. time linear in the length).
// The ratios are printed at the end of the run.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bench/BenchRatios.h"
#include "net/IdTCPClient.h"
#include "testing/ScriptedPeer.h"

namespace {

constexpr int64_t kBodySize = 256LL * 1024 * 1024;
constexpr size_t kSendPiece = 1024 * 1024;
constexpr int kShortLineCount = 100000;
constexpr int64_t kLongLine = kIdMaxLineLength - 16;
constexpr int kSmallPiece = 1024;  // bytes per receive while a long line arrives
constexpr int kPeerTimeLimitMs = 120000;

std::string ShortLines() {
  std::string text;
  for (int i = 0; i < kShortLineCount; ++i) text += "item " + std::to_string(i) + " of the news feed\r\n";
  return text;
}

const std::string& ShortLinesText() {
  static const std::string text = ShortLines();
  return text;
}

// A plain blocking socket connected to the peer.
int BareConnect(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

void BM_ReadToStream_256MiB(benchmark::State& state) {
  TMemoryStream stream;
  stream.SetSize(kBodySize);  // storage made resident before timing, as the bare loop's buffer is
  for (auto _ : state) {
    ScriptedPeer peer({ScriptedPeer::SendRepeated(std::string(kSendPiece, 'b'), kBodySize / kSendPiece)},
                      kPeerTimeLimitMs);
    TIdTCPClient client(nullptr);
    client.SetHost("127.0.0.1");
    client.SetPort(peer.Port());
    client.Connect();
    stream.SetPosition(0);
    stream.SetSize(0);  // keeps the storage: no page faults are measured, as in the bare loop
    client.ReadToStream(stream, kBodySize);
    if (stream.Size() != kBodySize) state.SkipWithError("short body");
    client.Disconnect();
  }
  state.SetBytesProcessed(state.iterations() * kBodySize);
}

// Receives of state.range(0) bytes at most, straight into the target.
void BM_BareRecvLoop_256MiB(benchmark::State& state) {
  std::vector<char> target(static_cast<size_t>(kBodySize));
  for (auto _ : state) {
    ScriptedPeer peer({ScriptedPeer::SendRepeated(std::string(kSendPiece, 'b'), kBodySize / kSendPiece)},
                      kPeerTimeLimitMs);
    int fd = BareConnect(peer.Port());
    int64_t got = 0;
    while (fd >= 0 && got < kBodySize) {
      ssize_t n =
          ::recv(fd, target.data() + got, static_cast<size_t>(std::min<int64_t>(kBodySize - got, state.range(0))), 0);
      if (n <= 0) break;
      got += n;
    }
    if (got != kBodySize) state.SkipWithError("short body");
    benchmark::DoNotOptimize(target.data());
    if (fd >= 0) ::close(fd);
  }
  state.SetBytesProcessed(state.iterations() * kBodySize);
}

void BM_ReadLine_ShortLines(benchmark::State& state) {
  const std::string& text = ShortLinesText();
  for (auto _ : state) {
    ScriptedPeer peer({ScriptedPeer::Send(text)}, kPeerTimeLimitMs);
    TIdTCPClient client(nullptr);
    client.SetHost("127.0.0.1");
    client.SetPort(peer.Port());
    client.Connect();
    size_t total = 0;
    for (int i = 0; i < kShortLineCount; ++i) total += client.ReadLine().size();
    benchmark::DoNotOptimize(total);
    client.Disconnect();
  }
  state.SetItemsProcessed(state.iterations() * kShortLineCount);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

// The same lines with a bare recv loop that cuts them at each line feed into strings.
void BM_BareLineSplit_ShortLines(benchmark::State& state) {
  const std::string& text = ShortLinesText();
  std::vector<char> chunk(32768);
  for (auto _ : state) {
    ScriptedPeer peer({ScriptedPeer::Send(text)}, kPeerTimeLimitMs);
    int fd = BareConnect(peer.Port());
    std::string pending;
    size_t total = 0;
    int lines = 0;
    while (fd >= 0 && lines < kShortLineCount) {
      ssize_t n = ::recv(fd, chunk.data(), chunk.size(), 0);
      if (n <= 0) break;
      pending.append(chunk.data(), static_cast<size_t>(n));
      size_t start = 0;
      for (size_t at; (at = pending.find('\n', start)) != std::string::npos; start = at + 1) {
        std::string line = pending.substr(start, at - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        total += line.size();
        ++lines;
      }
      pending.erase(0, start);
    }
    if (lines != kShortLineCount) state.SkipWithError("lines missing");
    benchmark::DoNotOptimize(total);
    if (fd >= 0) ::close(fd);
  }
  state.SetItemsProcessed(state.iterations() * kShortLineCount);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

// One line of state.range(0) bytes, sent in 1 KiB pieces and received at most 1 KiB at a time. Only the ReadLine
// is timed: connecting and closing cost the same for any length and would hide how the read itself grows.
void BM_ReadLine_OneLongLine(benchmark::State& state) {
  const int64_t length = state.range(0);
  const std::string piece(kSmallPiece, 'L');
  for (auto _ : state) {
    state.PauseTiming();
    auto peer = std::make_unique<ScriptedPeer>(
        std::vector<ScriptedPeer::Step>{
            ScriptedPeer::ReadUntil("go"), ScriptedPeer::SendRepeated(piece, static_cast<size_t>(length / kSmallPiece)),
            ScriptedPeer::Send(std::string(static_cast<size_t>(length % kSmallPiece), 'L') + "\r\n")},
        kPeerTimeLimitMs);
    auto client = std::make_unique<TIdTCPClient>(nullptr);
    client->SetHost("127.0.0.1");
    client->SetPort(peer->Port());
    client->SetRecvBufferSize(kSmallPiece);
    client->Connect();
    state.ResumeTiming();
    client->WriteText("go");  // the peer starts sending only now
    std::string line = client->ReadLine();
    state.PauseTiming();
    if (static_cast<int64_t>(line.size()) != length) state.SkipWithError("wrong line length");
    client.reset();
    peer.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(state.iterations() * length);
}

BENCHMARK(BM_ReadToStream_256MiB)->MinTime(3.0)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareRecvLoop_256MiB)
    ->Arg(32768)
    ->Arg(262144)
    ->Arg(1 << 20)
    ->Arg(4 << 20)
    ->MinTime(3.0)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadLine_ShortLines)->MinTime(2.0)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareLineSplit_ShortLines)->MinTime(2.0)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadLine_OneLongLine)
    ->Arg(kLongLine / 10)
    ->Arg(kLongLine)
    ->MinTime(2.0)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const std::string longName = "BM_ReadLine_OneLongLine/" + std::to_string(kLongLine);
  const std::string tenthName = "BM_ReadLine_OneLongLine/" + std::to_string(kLongLine / 10);
  const auto [bareRate, bareName] = BestOf(reporter.byteRates, "BM_BareRecvLoop_256MiB");
  std::printf("\n256 MiB ReadToStream throughput, ours / bare recv loop: %.2f (goal >= 0.90; best bare loop: %s)\n",
              bareRate == 0 ? 0 : ValueOf(reporter.byteRates, "BM_ReadToStream_256MiB") / bareRate, bareName.c_str());
  std::printf("100,000 short lines, ReadLine / bare line split:        %.2f\n",
              Ratio(reporter.byteRates, "BM_ReadLine_ShortLines", "BM_BareLineSplit_ShortLines"));
  std::printf("long line time, %lld bytes / %lld bytes:            %.2f (linear: about 10)\n",
              static_cast<long long>(kLongLine), static_cast<long long>(kLongLine / 10),
              Ratio(reporter.realTimes, longName, tenthName));
  // The reading thread's own time: free of the peer's scheduling, which dominates the short line on a busy machine.
  std::printf("long line CPU time of the reader, the same two lengths:       %.2f (linear: about 10)\n",
              Ratio(reporter.cpuTimes, longName, tenthName));
  benchmark::Shutdown();
  return 0;
}
