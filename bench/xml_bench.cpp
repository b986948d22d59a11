// Loading a feed into the XML tree, measured beside pugixml loading the same bytes in the same run, for feeds of 1
// and 50 items, 1 MB and 10 MB. pugixml runs with the options that keep what the tree keeps (elements, attributes,
// text, CDATA sections, and declarations, instructions and comments as nodes) and skip what the tree does not do
// (entity decoding, line-end and attribute normalisation): its fastest setting for the same information.
//
// Counters: bytes_per_second for each; on the XML tree's rows "x_pugixml" is its CPU time per load divided by
// pugixml's for the same feed (goal: at most 1), and on the 10 MB feed "per_byte_vs_1MB" is its CPU time per byte
// divided by that on the 1 MB feed. The ratios are printed at the end of the run.
#include <benchmark/benchmark.h>
#include <pugixml.hpp>

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <map>
#include <string>

#include "xml/kelXMLTree.h"

namespace {

// A feed shaped like the site's: a declaration, an enclosing element, one item per posting with a numeric id, a
// CDATA headline of varying length with the odd entity reference, and a time; CR LF line ends and indentation.
std::string MakeFeed(size_t items) {
  static const char* const kWords[] = {"Brasko", "wint",      "van",   "de",      "kampioen", "nieuwe", "ronde",
                                       "in",     "Amsterdam", "&amp;", "uitslag", "spannend", "finale", "toernooi"};
  uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
  };
  std::string feed = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<flashfeed site=\"brasko\">\r\n";
  for (size_t i = 0; i < items; ++i) {
    std::string title;
    const uint32_t words = 4 + next() % 9;
    for (uint32_t w = 0; w < words; ++w) {
      if (w > 0) title += ' ';
      title += kWords[next() % (sizeof kWords / sizeof kWords[0])];
    }
    feed += "  <nieuwsposting>\r\n    <id>" + std::to_string(100000 + i) + "</id>\r\n    <titel><![CDATA[" + title +
            "]]></titel>\r\n    <tijd>" + std::to_string(10 + next() % 14) + ":" + std::to_string(10 + next() % 50) +
            "</tijd>\r\n  </nieuwsposting>\r\n";
  }
  return feed + "</flashfeed>\r\n";
}

int64_t ItemsForBytes(size_t bytes) {
  static const size_t perItem = MakeFeed(1000).size() / 1000;
  return static_cast<int64_t>(bytes / perItem);
}
// The item counts of the 1 MB and the 10 MB feed.
int64_t OneMegabyte() { return ItemsForBytes(1 << 20); }
int64_t TenMegabytes() { return ItemsForBytes(10 << 20); }

const std::string& Feed(int64_t items) {
  static std::map<int64_t, std::string> feeds;
  auto it = feeds.find(items);
  if (it == feeds.end()) it = feeds.emplace(items, MakeFeed(static_cast<size_t>(items))).first;
  return it->second;
}

// Seconds per load, by feed and loader, from the rows already run.
std::map<int64_t, double>& PugiSeconds() {
  static std::map<int64_t, double> seconds;
  return seconds;
}
std::map<int64_t, double>& TreeSeconds() {
  static std::map<int64_t, double> seconds;
  return seconds;
}
// The tree's seconds per byte of a feed, from its row; 0 before that row ran.
double TreeSecondsPerByte(int64_t items) {
  auto tree = TreeSeconds().find(items);
  return tree == TreeSeconds().end() ? 0 : tree->second / static_cast<double>(Feed(items).size());
}

// The ratios divide this thread's CPU time, not wall time: other programs on a shared machine stretch wall time
// unevenly between rows.
double ThreadSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

constexpr unsigned kPugixmlOptions =
    pugi::parse_cdata | pugi::parse_comments | pugi::parse_pi | pugi::parse_declaration | pugi::parse_doctype;

void BM_PugixmlLoad(benchmark::State& state) {
  const std::string& feed = Feed(state.range(0));
  double seconds = 0;
  for (auto _ : state) {
    const double start = ThreadSeconds();
    {
      pugi::xml_document document;
      pugi::xml_parse_result result = document.load_buffer(feed.data(), feed.size(), kPugixmlOptions);
      benchmark::DoNotOptimize(result.status);
      benchmark::DoNotOptimize(document.first_child().internal_object());
    }
    seconds += ThreadSeconds() - start;
  }
  PugiSeconds()[state.range(0)] = seconds / static_cast<double>(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(feed.size()));
  state.counters["feed_bytes"] = static_cast<double>(feed.size());
}

void BM_KelXMLTreeLoad(benchmark::State& state) {
  const std::string& feed = Feed(state.range(0));
  double seconds = 0;
  for (auto _ : state) {
    const double start = ThreadSeconds();
    {
      // Made, loaded from the fetched text and dropped each time, as feed processing does.
      TkelXMLTree tree("test", "test", nullptr);
      tree.LoadFromText(feed);
      benchmark::DoNotOptimize(tree.ChildCount());
    }
    seconds += ThreadSeconds() - start;
  }
  const double perLoad = seconds / static_cast<double>(state.iterations());
  TreeSeconds()[state.range(0)] = perLoad;
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(feed.size()));
  state.counters["feed_bytes"] = static_cast<double>(feed.size());
  if (auto pugi = PugiSeconds().find(state.range(0)); pugi != PugiSeconds().end()) {
    state.counters["x_pugixml"] = perLoad / pugi->second;
  }
  if (const double base = TreeSecondsPerByte(OneMegabyte()); state.range(0) > OneMegabyte() && base != 0) {
    state.counters["per_byte_vs_1MB"] = TreeSecondsPerByte(state.range(0)) / base;
  }
}

void BM_KelXMLTreeFindNodes(benchmark::State& state) {
  const std::string& feed = Feed(state.range(0));
  TkelXMLTree tree("test", "test", nullptr);
  tree.LoadFromText(feed);
  for (auto _ : state) {
    TList<TkelXMLNode> items;
    tree.FindNodes("nieuwsposting", items);
    benchmark::DoNotOptimize(items.Count());
  }
}

// Each feed size is measured with pugixml first, so the tree's row can divide by it.
void RegisterAll() {
  const int64_t sizes[] = {1, 50, OneMegabyte(), TenMegabytes()};
  for (int64_t items : sizes) {
    const std::string suffix = "/items:" + std::to_string(items);
    benchmark::RegisterBenchmark(("PugixmlLoad" + suffix).c_str(), BM_PugixmlLoad)
        ->Arg(items)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("KelXMLTreeLoad" + suffix).c_str(), BM_KelXMLTreeLoad)
        ->Arg(items)
        ->Unit(benchmark::kMicrosecond);
  }
  benchmark::RegisterBenchmark("KelXMLTreeFindNodes/items:50", BM_KelXMLTreeFindNodes)->Arg(50);
}

}  // namespace

int main(int argc, char** argv) {
  RegisterAll();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  std::printf("\nXML tree load CPU time / pugixml's:");
  for (const auto& [items, seconds] : TreeSeconds()) {
    if (auto pugi = PugiSeconds().find(items); pugi != PugiSeconds().end()) {
      std::printf(" %lld items (%zu bytes) %.2f;", static_cast<long long>(items), Feed(items).size(),
                  seconds / pugi->second);
    }
  }
  std::printf(" (goal <= 1.00)\n");
  if (TreeSecondsPerByte(OneMegabyte()) != 0 && TreeSecondsPerByte(TenMegabytes()) != 0) {
    std::printf("XML tree CPU time per byte, 10 MB / 1 MB: %.2f\n",
                TreeSecondsPerByte(TenMegabytes()) / TreeSecondsPerByte(OneMegabyte()));
  }
  benchmark::Shutdown();
  return 0;
}
