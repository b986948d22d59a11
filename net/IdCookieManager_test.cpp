#include "net/IdCookieManager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "rtl/DateUtils.h"

namespace {

constexpr const char kHost[] = "www.brasko.nl";
constexpr const char kFeed[] = "http://www.brasko.nl/flashfeed.dsp";
constexpr const char kPast[] = "Sun, 06 Nov 1994 08:49:37 GMT";
constexpr const char kFuture[] = "Fri, 31 Dec 9999 23:00:00 GMT";

std::string CookieFor(TIdCookieManager& store, const std::string& url, bool secure = false) {
  return store.CookieHeaderValue(TIdURI(url), secure);
}

TEST(CookieStore, StoresAndSendsAndReplacesByDomainAndName) {
  TIdCookieManager store(nullptr);
  EXPECT_EQ(CookieFor(store, kFeed), "");  // a new store sends nothing
  store.StoreSetCookie("sid=42; path=/", kHost);
  EXPECT_EQ(CookieFor(store, kFeed), "sid=42");
  store.StoreSetCookie("SID=43; path=/", kHost);  // names compare without regard to case
  EXPECT_EQ(CookieFor(store, kFeed), "SID=43");   // the stored cookie takes over the new one's fields
  EXPECT_EQ(store.CookieCollection().Count(), 1);
  EXPECT_EQ(store.CookieCollection().StoredCount(), 1);
  // Another host of no relation gets nothing.
  EXPECT_EQ(CookieFor(store, "http://other.nl/flashfeed.dsp"), "");
  // Setting it again with a past date deletes it.
  store.StoreSetCookie(std::string("sid=deleted; path=/; expires=") + kPast, kHost);
  EXPECT_EQ(CookieFor(store, kFeed), "");
  EXPECT_EQ(store.CookieCollection().StoredCount(), 0);
}

TEST(CookieStore, CookiesThatAreStoredButNeverSent) {
  TIdCookieManager store(nullptr);
  store.StoreSetCookie("nopath=1", kHost);
  store.StoreSetCookie("secret=1; path=/; secure", kHost);
  store.StoreSetCookie("blank=; path=/", kHost);
  store.StoreSetCookie("deep=1; path=/archive/", kHost);
  EXPECT_EQ(store.CookieCollection().StoredCount(), 4);
  EXPECT_EQ(CookieFor(store, kFeed), "");
  // Secure cookies go only over a secure connection; the others keep their rules.
  EXPECT_EQ(CookieFor(store, kFeed, true), "secret=1");
  EXPECT_EQ(CookieFor(store, "http://www.brasko.nl/archive/2024/x.dsp"), "deep=1");
}

TEST(CookieStore, DomainAttributesAreCheckedAgainstTheHost) {
  TIdCookieManager store(nullptr);
  store.StoreSetCookie("parent=1; path=/; domain=.brasko.nl", kHost);
  store.StoreSetCookie("nodot=1; path=/; domain=brasko.nl", kHost);
  store.StoreSetCookie("foreign=1; path=/; domain=.evil.nl", kHost);
  store.StoreSetCookie("tld=1; path=/; domain=.nl", "brasko.nl");
  EXPECT_EQ(store.CookieCollection().StoredCount(), 1);
  EXPECT_EQ(store.CookieCollection().Count(), 1);  // refused cookies leave the collection too
  EXPECT_EQ(CookieFor(store, kFeed), "parent=1");
  EXPECT_EQ(CookieFor(store, "http://news.brasko.nl/"), "parent=1");
  // A domain covers hosts that end in it at a label boundary, nothing else.
  EXPECT_EQ(CookieFor(store, "http://notbrasko.nl/"), "");
  EXPECT_EQ(CookieFor(store, "http://www.brasko.nl.evil.net/"), "");
  // A cookie of a host goes to that host and its subdomains.
  store.StoreSetCookie("h=1; path=/", "brasko.nl");
  EXPECT_EQ(CookieFor(store, "http://brasko.nl/"), "h=1");
  EXPECT_EQ(CookieFor(store, "http://news.brasko.nl/"), "parent=1; h=1");  // domains in the order they came
}

TEST(CookieStore, ExpiredCookiesAreRemovedAtTheNextHeaderBuild) {
  TIdCookieManager store(nullptr);
  store.StoreSetCookie(std::string("old=1; path=/; expires=") + kPast, kHost);
  store.StoreSetCookie("now=1; path=/; max-age=0", kHost);
  store.StoreSetCookie(std::string("later=1; path=/; expires=") + kFuture, kHost);
  store.StoreSetCookie("garbled=1; path=/; expires=soon", kHost);
  store.StoreSetCookie(std::string("elsewhere=1; path=/other/; expires=") + kPast, kHost);
  EXPECT_EQ(store.CookieCollection().StoredCount(), 5);
  EXPECT_EQ(CookieFor(store, kFeed), "later=1");
  // Only cookies the build met were tested: the one with another path is still there.
  EXPECT_EQ(store.CookieCollection().StoredCount(), 2);
  EXPECT_EQ(store.CookieCollection().Count(), 2);
  EXPECT_EQ(CookieFor(store, "http://www.brasko.nl/other/"), "later=1");
  EXPECT_EQ(store.CookieCollection().StoredCount(), 1);
  // The domain entry stays after its cookies went.
  EXPECT_EQ(store.CookieCollection().DomainCount(), 1);
}

TEST(CookieStore, LongerPathsComeFirstAndEqualPathsLatestFirst) {
  TIdCookieManager store(nullptr);
  store.StoreSetCookie("root=1; path=/", kHost);
  store.StoreSetCookie("news=2; path=/news/", kHost);
  store.StoreSetCookie("root2=3; path=/", kHost);
  store.StoreSetCookie("mixed=4; path=/NEWS/", kHost);  // not a prefix of "/news/": case counts there
  EXPECT_EQ(CookieFor(store, "http://www.brasko.nl/news/item.dsp"), "news=2; root2=3; root=1");
  EXPECT_EQ(CookieFor(store, kFeed), "root2=3; root=1");
}

TEST(CookieStore, SetCookie2ValuesBecomeVersionTwoCookies) {
  TIdCookieManager store(nullptr);
  store.StoreSetCookie2("v2=1; path=/; Port=\"80\"", kHost);
  ASSERT_EQ(store.CookieCollection().Count(), 1);
  EXPECT_NE(dynamic_cast<TIdCookieRFC2965*>(store.CookieCollection().Items(0)), nullptr);
  EXPECT_EQ(CookieFor(store, kFeed), "v2=1");
  // A port list that is no number fails, and the half-made cookie is gone again.
  EXPECT_THROW(store.StoreSetCookie2("bad=1; path=/; Port=\"x\"", kHost), EConvertError);
  EXPECT_EQ(store.CookieCollection().Count(), 1);
}

TEST(CookieStoreEvents, NewCookieCanRefuseAndSeesTheFinishedCookie) {
  TIdCookieManager store(nullptr);
  std::vector<std::string> seen;
  store.OnNewCookie = [&](TObject* sender, TIdNetscapeCookie* cookie, bool& accept) {
    EXPECT_EQ(sender, &store);
    EXPECT_TRUE(accept);
    seen.push_back(cookie->CookieName() + "@" + cookie->Domain());
    accept = cookie->CookieName() != "tracker";
  };
  store.StoreSetCookie("tracker=1; path=/", kHost);
  store.StoreSetCookie("sid=1; path=/", kHost);
  store.StoreSetCookie("bad=1; path=/; domain=.other.nl", kHost);  // invalid: no event
  EXPECT_EQ(seen, (std::vector<std::string>{"tracker@www.brasko.nl", "sid@www.brasko.nl"}));
  EXPECT_EQ(CookieFor(store, kFeed), "sid=1");
  EXPECT_EQ(store.CookieCollection().Count(), 1);
  // A handler that fails leaves no half-stored cookie behind.
  store.OnNewCookie = [](TObject*, TIdNetscapeCookie*, bool&) { throw Exception("handler failed"); };
  EXPECT_THROW(store.StoreSetCookie("x=1; path=/", kHost), Exception);
  EXPECT_EQ(store.CookieCollection().Count(), 1);
}

// An owner that loads its components from a description: events are assigned while it loads.
class LoadingOwner : public TComponent {
 public:
  LoadingOwner() : TComponent(nullptr) { BeginLoading(); }
  void FinishLoading() { EndLoading(); }
};

TEST(CookieStoreEvents, CreateFiresAfterLoadingAndDestroyBeforeTheCollectionGoes) {
  std::vector<std::string> events;
  TIdCookies* created = nullptr;
  {
    LoadingOwner owner;
    auto* store = new TIdCookieManager(&owner);
    store->OnCreate = [&](TObject* sender, TIdCookies* cookies) {
      EXPECT_EQ(sender, store);
      created = cookies;
      events.push_back("create");
    };
    store->OnDestroy = [&](TObject*, TIdCookies* cookies) {
      EXPECT_EQ(cookies, created);
      events.push_back("destroy with " + std::to_string(cookies->Count()));
    };
    EXPECT_TRUE(events.empty());
    owner.FinishLoading();
    EXPECT_EQ(created, &store->CookieCollection());
    store->StoreSetCookie("a=1; path=/", kHost);
  }  // the owner destroys the store
  EXPECT_EQ(events, (std::vector<std::string>{"create", "destroy with 1"}));
}

TEST(CookieStoreBounds, OversizedTextsAreDroppedAndCountsStayBounded) {
  TIdCookieManager store(nullptr);
  store.StoreSetCookie("big=" + std::string(TIdCookieManager::kMaxCookieTextLength, 'x') + "; path=/", kHost);
  EXPECT_EQ(store.CookieCollection().Count(), 0);
  store.StoreSetCookie("fits=" + std::string(TIdCookieManager::kMaxCookieTextLength - 5, 'x'), kHost);
  EXPECT_EQ(store.CookieCollection().Count(), 1);

  // One domain holds at most its bound; the oldest cookie gives way to a new one, replacements cost nothing.
  TIdCookieManager perDomain(nullptr);
  for (int i = 0; i < TIdCookies::kMaxCookiesPerDomain + 10; ++i) {
    perDomain.StoreSetCookie("c" + std::to_string(i) + "=1; path=/", kHost);
  }
  EXPECT_EQ(perDomain.CookieCollection().StoredCount(), TIdCookies::kMaxCookiesPerDomain);
  EXPECT_EQ(perDomain.CookieCollection().Count(), TIdCookies::kMaxCookiesPerDomain);
  const std::string header = CookieFor(perDomain, kFeed);
  EXPECT_EQ(header.find("c9="), std::string::npos);
  EXPECT_NE(header.find("c10="), std::string::npos);
  perDomain.StoreSetCookie("c10=2; path=/", kHost);
  EXPECT_EQ(perDomain.CookieCollection().StoredCount(), TIdCookies::kMaxCookiesPerDomain);
  EXPECT_NE(CookieFor(perDomain, kFeed).find("c10=2"), std::string::npos);
}

TEST(CookieStoreBounds, TheWholeStoreStaysBoundedAcrossManyHosts) {
  TIdCookieManager store(nullptr);
  const int hosts = TIdCookies::kMaxCookies / 10 + 20;
  for (int h = 0; h < hosts; ++h) {
    const std::string host = "h" + std::to_string(h) + ".example";
    for (int i = 0; i < 10; ++i) store.StoreSetCookie("c" + std::to_string(i) + "=1; path=/", host);
  }
  EXPECT_EQ(store.CookieCollection().StoredCount(), TIdCookies::kMaxCookies);
  EXPECT_EQ(store.CookieCollection().Count(), TIdCookies::kMaxCookies);
  EXPECT_LE(store.CookieCollection().DomainCount(), TIdCookies::kMaxCookies + 1);
  // The oldest went first: the first host lost its cookies, the last kept all of them.
  EXPECT_EQ(CookieFor(store, "http://h0.example/"), "");
  EXPECT_EQ(CookieFor(store, "http://h" + std::to_string(hosts - 1) + ".example/").size(),
            std::string("c9=1; ").size() * 10 - 2);
}

TEST(CookieStoreLock, HeaderBuildsAndStoresFromSeveralThreadsStayConsistent) {
  auto store = std::make_shared<TIdCookieManager>(nullptr);
  auto failures = std::make_shared<std::atomic<int>>(0);
  auto done = std::make_shared<std::promise<void>>();
  auto finished = done->get_future();
  std::thread([store, failures, done]() mutable {
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
      threads.emplace_back([store, failures, t] {
        for (int i = 0; i < 300; ++i) {
          const std::string name = "t" + std::to_string(t) + "n" + std::to_string(i % 7);
          // Every other cookie expires at once, so builds keep upgrading to remove them.
          store->StoreSetCookie(name + "=1; path=/" + (i % 2 ? "; max-age=0" : ""), kHost);
          const std::string header = store->CookieHeaderValue(TIdURI(kFeed), false);
          if (!header.empty() && header.find("=1") == std::string::npos) failures->fetch_add(1);
        }
      });
    }
    for (auto& thread : threads) thread.join();
    store.reset();  // the store (and the socket stack it keeps alive) goes on the test's own thread
    done->set_value();
  }).detach();
  ASSERT_EQ(finished.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  EXPECT_EQ(failures->load(), 0);
  // Every stored cookie is in the collection and no expired one is left once a build has run.
  store->CookieHeaderValue(TIdURI(kFeed), false);
  EXPECT_EQ(store->CookieCollection().StoredCount(), store->CookieCollection().Count());
  EXPECT_LE(store->CookieCollection().StoredCount(), 21);
}

}  // namespace
