#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "agent/service/edm_helper_service.h"
#include "agent/tests/fake_windows.h"
#include "agent/service/network_drives.h"
#include "common/win/language.h"
#include "common/win/registry.h"

namespace edms {
namespace {

class FakeClient : public WebsocketClient {
 public:
  explicit FakeClient(std::string key) : key_(std::move(key)) {}
  const std::string& key() const override { return key_; }
  void PushPacket(const DataMessage& reply) override {
    std::lock_guard<std::mutex> lock(mutex_);
    replies.push_back(reply);
  }
  std::vector<DataMessage> replies;

 private:
  std::string key_;
  std::mutex mutex_;
};

class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // As in the agent, whose main window exists before any command opens one: the process's
    // first windows made on two threads at once, one of them loading the common controls,
    // can deadlock Wine's loader.
    static const HWND mainWindow =
        CreateWindowW(L"STATIC", L"", 0, 0, 0, 10, 10, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    (void)mainWindow;
    win::ApplyLanguage(win::kLangEnglish);
    keyPath_ = "Software\\edms-tests\\agent-service-" + std::to_string(GetCurrentProcessId());
    win::ClientConfig config;
    config.KeyPath = keyPath_;
    config.EdmUserId = "previous";
    config.ServerAddress = "edms01";
    config.NoticeCheckTime = 7;
    shared_ = std::make_unique<SharedConfig>(config);
    service_ = std::make_unique<EdmHelperService>(*shared_, windows_, [this](const std::string& server) {
      std::unique_lock<std::mutex> lock(holdMutex_);
      released_.wait(lock, [this] { return !held_; });
      lookups_.push_back(server);
      return sessionUser_;
    });
  }
  void TearDown() override {
    HoldLookups(false);
    service_->WaitIdle(std::chrono::seconds(20));
    win::DeleteRegistryTree(HKEY_CURRENT_USER, keyPath_);
  }

  void SetRegistryText(const char* name, const std::string& text) {
    win::CRegistry key(win::CRegistry::kWrite);
    ASSERT_EQ(key.Open(keyPath_), ERROR_SUCCESS);
    ASSERT_TRUE(key[name].SetText(text));
  }
  std::string RegistryText(const char* name) {
    win::CRegistry key;
    if (key.Open(keyPath_) != ERROR_SUCCESS) return "<no key>";
    return key[name].Text();
  }

  // Lookups wait while held, as behind a share that is slow to answer.
  void HoldLookups(bool hold) {
    {
      std::lock_guard<std::mutex> lock(holdMutex_);
      held_ = hold;
    }
    released_.notify_all();
  }

  std::mutex holdMutex_;
  std::condition_variable released_;
  bool held_ = false;
  std::string keyPath_;
  std::string sessionUser_;
  std::vector<std::string> lookups_;
  std::unique_ptr<SharedConfig> shared_;
  test::FakeWindows windows_;
  std::unique_ptr<EdmHelperService> service_;
};

TEST_F(ServiceTest, UserIdStartsFromTheConfiguration) { EXPECT_EQ(service_->userId(), "previous"); }

TEST_F(ServiceTest, ANewSendersKeyIsSavedAndNothingElse) {
  const char* commands[] = {"CHECK_USER", "ADD_TO_DOWNLOAD", "no_such_command", "check_user"};
  const char* users[] = {"bob", "\xEA\xB9\x80\xEC\xB2\xA0\xEC\x88\x98", "carol", "dave"};
  for (int i = 0; i < 4; ++i) {
    auto client = std::make_shared<FakeClient>(users[i]);
    service_->HandleRequest(client, {commands[i], ""});
    ASSERT_TRUE(service_->WaitIdle(std::chrono::seconds(20)));
    EXPECT_EQ(RegistryText("EdmUserId"), users[i]) << commands[i];
    EXPECT_EQ(service_->userId(), users[i]);
    EXPECT_EQ(shared_->Snapshot().EdmUserId, users[i]);
  }
  // Only the changed value is written: an administrator's edit made meanwhile stays, and the
  // values the agent did not change are not written at all.
  SetRegistryText("WorkFolder", "D:\\admin");
  service_->HandleRequest(std::make_shared<FakeClient>("erin"), {"CHECK_USER", ""});
  ASSERT_TRUE(service_->WaitIdle(std::chrono::seconds(20)));
  // The same sender again writes nothing (a value changed by hand stays as it is).
  SetRegistryText("EdmUserId", "by hand");
  service_->HandleRequest(std::make_shared<FakeClient>("erin"), {"CHECK_USER", ""});
  ASSERT_TRUE(service_->WaitIdle(std::chrono::seconds(20)));
  EXPECT_EQ(RegistryText("WorkFolder"), "D:\\admin");
  EXPECT_EQ(RegistryText("EdmUserId"), "by hand");
  EXPECT_EQ(RegistryText("ServerAddress"), "");
}

// Each change of sender is a registry write; pages of two users taking turns must not queue
// one per message, or the queue fills and the work that needs it (this CHECK_USER) is dropped.
TEST_F(ServiceTest, UsersTakingTurnsDoNotFillTheQueue) {
  auto alice = std::make_shared<FakeClient>("alice");
  auto bob = std::make_shared<FakeClient>("bob");
  for (int i = 0; i < 4000; ++i) service_->HandleRequest(i % 2 ? bob : alice, {"ADD_TO_DOWNLOAD", ""});
  service_->HandleRequest(alice, {"CHECK_USER", ""});
  ASSERT_TRUE(service_->WaitIdle(std::chrono::seconds(20)));
  EXPECT_EQ(alice->replies.size(), 1u);
  EXPECT_EQ(RegistryText("EdmUserId"), "alice");
}

TEST_F(ServiceTest, AnEmptyKeyChangesNothing) {
  service_->HandleRequest(std::make_shared<FakeClient>(""), {"CLEAR_DOWNLOAD", ""});
  EXPECT_EQ(service_->userId(), "previous");
  EXPECT_EQ(RegistryText("EdmUserId"), "<no key>");
}

TEST_F(ServiceTest, CheckUserAnswers) {
  struct Case {
    const char* key;
    const char* sessionUser;
    const char* reply;
  } cases[] = {
      {"alice", "", "SUCCESS"},
      {"alice", "ALICE", "SUCCESS"},
      {"alice", "BOB", "BOB"},
      {"\xEA\xB9\x80", "\xEA\xB9\x80", "SUCCESS"},
  };
  for (const auto& c : cases) {
    sessionUser_ = c.sessionUser;
    auto client = std::make_shared<FakeClient>(c.key);
    service_->HandleRequest(client, {"CHECK_USER", "ignored"});
    ASSERT_TRUE(service_->WaitIdle(std::chrono::seconds(20)));
    ASSERT_EQ(client->replies.size(), 1u) << c.key;
    EXPECT_EQ(client->replies[0].arg1, "CHECK_USER");
    EXPECT_EQ(client->replies[0].arg2, c.reply) << c.key << "/" << c.sessionUser;
  }
  EXPECT_EQ(lookups_, std::vector<std::string>(4, "edms01"));
}

TEST_F(ServiceTest, CommandsWithoutReply) {
  auto client = std::make_shared<FakeClient>("alice");
  for (const char* name : {"check_user", "CHECK_USER ", "", "ADD_TO_DOWNLOAD", "CLEAR_DOWNLOAD", "VIEW",
                           "DO_DOWNLOAD"}) {
    service_->HandleRequest(client, {name, "D1^P1^a.docx^1.0^Y^alice^N"});
  }
  EXPECT_TRUE(client->replies.empty());
}

TEST_F(ServiceTest, DownloadListKeepsOrderAcrossConnections) {
  auto a = std::make_shared<FakeClient>("alice");
  auto b = std::make_shared<FakeClient>("bob");
  service_->HandleRequest(a, {"ADD_TO_DOWNLOAD", "D1*P1*a.docx"});
  service_->HandleRequest(b, {"ADD_TO_DOWNLOAD", "D2*P2*\xEB\xB3\xB4\xEA\xB3\xA0.txt"});
  service_->HandleRequest(a, {"ADD_TO_DOWNLOAD", "D1*P1*a.docx"});
  EXPECT_EQ(service_->DownloadList(),
            (std::vector<std::string>{"D1*P1*a.docx", "D2*P2*\xEB\xB3\xB4\xEA\xB3\xA0.txt", "D1*P1*a.docx"}));
  service_->HandleRequest(b, {"CLEAR_DOWNLOAD", ""});
  EXPECT_TRUE(service_->DownloadList().empty());
}

TEST_F(ServiceTest, AFullDownloadListIsToldOnceAndAClosedWindowGivesItsRoomBack) {
  auto page = std::make_shared<FakeClient>("alice");
  const std::string item(DownloadList::kMaxItemBytes, 'y');
  const std::size_t fits = DownloadList::kMaxBytes / DownloadList::kMaxItemBytes;
  for (int round = 0; round < 2; ++round) {
    for (std::size_t i = 0; i < fits + 3; ++i) service_->HandleRequest(page, {"ADD_TO_DOWNLOAD", item});
    EXPECT_EQ(service_->DownloadList().size(), fits) << round;
    EXPECT_EQ(windows_.told().size(), static_cast<std::size_t>(round + 1)) << "once a round";
    service_->HandleRequest(page, {"DO_DOWNLOAD", ""});
    windows_.CloseDownloads();
    EXPECT_TRUE(service_->DownloadList().empty()) << round;
  }
  EXPECT_EQ(windows_.downloads(), (std::vector<std::string>{"alice|" + std::to_string(fits),
                                                             "alice|" + std::to_string(fits)}));
  EXPECT_NE(windows_.told().front().find("download list is full"), std::string::npos) << windows_.told().front();
}

TEST_F(ServiceTest, ViewAndDownloadWithoutALoginSpeakOfThemselves) {
  auto nobody = std::make_shared<FakeClient>("");
  service_->HandleRequest(nobody, {"VIEW", "D1^P1^a.txt"});
  service_->HandleRequest(nobody, {"DO_DOWNLOAD", ""});
  const std::vector<std::string> told = windows_.told();
  ASSERT_EQ(told.size(), 2u);
  EXPECT_EQ(told[0].rfind("The document cannot be viewed:", 0), 0u) << told[0];
  EXPECT_EQ(told[1].rfind("The documents cannot be downloaded:", 0), 0u) << told[1];
  EXPECT_TRUE(windows_.views().empty());
  EXPECT_TRUE(windows_.downloads().empty());
}

TEST_F(ServiceTest, ConcurrentCommandsLoseNothing) {
  constexpr int kThreads = 4;
  constexpr int kEach = 50;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t] {
      auto client = std::make_shared<FakeClient>("user" + std::to_string(t));
      for (int i = 0; i < kEach; ++i) service_->HandleRequest(client, {"ADD_TO_DOWNLOAD", std::to_string(i)});
    });
  }
  for (auto& thread : threads) thread.join();
  ASSERT_TRUE(service_->WaitIdle(std::chrono::seconds(20)));
  EXPECT_EQ(service_->DownloadList().size(), static_cast<size_t>(kThreads * kEach));
  // The registry holds the last sender, whoever that was.
  std::string last = RegistryText("EdmUserId");
  EXPECT_EQ(last, service_->userId());
  EXPECT_EQ(last.rfind("user", 0), 0u);
}

TEST_F(ServiceTest, OnePageCannotQueueMoreThanItsShareOfLookups) {
  sessionUser_ = "carol";
  HoldLookups(true);
  auto flood = std::make_shared<FakeClient>("mallory");
  for (int i = 0; i < 10; ++i) service_->HandleRequest(flood, {"CHECK_USER", ""});
  // Beyond its share the page is answered at once, from what was last looked up (nothing yet).
  EXPECT_EQ(flood->replies.size(), static_cast<std::size_t>(10 - kMaxLookupsPerConnection));
  HoldLookups(false);
  ASSERT_TRUE(service_->WaitIdle(std::chrono::seconds(20)));
  EXPECT_EQ(flood->replies.size(), 10u);
  EXPECT_EQ(lookups_.size(), static_cast<std::size_t>(kMaxLookupsPerConnection));
  EXPECT_EQ(flood->replies.back().arg2, "carol");
}

TEST_F(ServiceTest, ALoginTextThatCannotTravelInArgumentsIsNeverStored) {
  for (const char* key : {"bob&OID=1", "say \"hi\"", "USER_ID"}) {
    auto page = std::make_shared<FakeClient>(key);
    service_->HandleRequest(page, {"CHECK_USER", ""});
  }
  ASSERT_TRUE(service_->WaitIdle(std::chrono::seconds(20)));
  EXPECT_EQ(service_->userId(), "previous");
  EXPECT_EQ(RegistryText("EdmUserId"), "<no key>");
}

TEST_F(ServiceTest, TrayCommandsActAsTheUserOfAFreshLookup) {
  sessionUser_ = "before";
  service_->CurrentUser();
  ASSERT_TRUE(service_->WaitIdle(std::chrono::seconds(20)));
  ASSERT_EQ(service_->CurrentUser(), "before");
  ASSERT_TRUE(service_->WaitIdle(std::chrono::seconds(20)));
  sessionUser_ = "after";  // another user maps the EDMS drive
  std::promise<std::string> answer;
  ASSERT_TRUE(service_->FreshCurrentUser([&answer](const std::string& user) { answer.set_value(user); }));
  std::future<std::string> user = answer.get_future();
  ASSERT_EQ(user.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  EXPECT_EQ(user.get(), "after");
}

TEST(FindSessionUser, RealNetworkWithoutMappedDrivesGivesNothing) {
  // The test machine maps no EDMS share.
  EXPECT_EQ(FindSessionUser("no-such-edms-server.invalid"), "");
}

}  // namespace
}  // namespace edms
