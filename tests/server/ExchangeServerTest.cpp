#include "support/ExchangeServer.h"
#include "ExchangeStore.h"
#include "ProgramRun.h"
#include "core/MsgRecord.h"
#include "net/NetSync.h"
#include "platform/FileUtil.h"
#include "support/TempDir.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <set>
#include <thread>

using namespace pellora;
using pellora::test::TempDir;

namespace {

struct Answer {
    long Status = 0; // 0: no answer at all
    std::string Headers;
    std::string Body;
};

std::size_t Collect(char* data, std::size_t size, std::size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

// One request as the client makes it, through libcurl straight to 127.0.0.1.
Answer Request(const std::string& url, const std::vector<std::string>& headers = {},
               const std::string* body = nullptr) {
    Answer answer;
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 30L);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "Pellora 3");
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, Collect);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &answer.Headers);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer.Body);
    curl_slist* list = nullptr;
    for (const std::string& header : headers)
        list = curl_slist_append(list, header.c_str());
    if (body) {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body->data());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body->size()));
    }
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list);
    if (curl_easy_perform(curl) == CURLE_OK)
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &answer.Status);
    curl_slist_free_all(list);
    curl_easy_cleanup(curl);
    return answer;
}

TMsgRecord Record(const std::string& line) {
    TMsgRecord record;
    EXPECT_TRUE(ParseMsgRecord(line, record)) << line;
    return record;
}

using test::ExchangeBackend;

// The exchange served by lighttpd at /cgi-bin/pellora/ over a seeded database, the programs
// run as CGI programs, as FastCGI backends that lighttpd starts, or as FastCGI backends that
// spawn-fcgi started on their own ports.
class ExchangeServerTest : public ::testing::TestWithParam<ExchangeBackend> {
protected:
    ExchangeServerTest() : Path(Dir / "db/exchange.db") {
        ForceDirectories(Dir / "db");
        // Seeded a minute ago: a library changed within the current second is handed out
        // with an earlier time, so that the client asks again.
        TSqliteStore store(Path, TSqliteStore::TOpenMode::Create,
                           [] { return static_cast<std::int64_t>(std::time(nullptr)) - 60; });
        store.Import("EN", ReadTextLines(std::string(PELLORA_SOURCE_DIR) +
                                         "/share/pellora/Local/EN/Messages.cfg"));
        test::ExchangeServerOptions options;
        options.Backend = GetParam();
        Server = std::make_unique<test::ExchangeServer>(Path, options);
        Base = Server->Base();
    }

    std::int64_t AccessId() {
        const std::string body = "action=request_access";
        Answer answer = Request(Base + "edit.cgi", {}, &body);
        EXPECT_EQ(answer.Status, 200);
        auto id = ParseAccessId(GetExchangeHeader(answer.Headers).value_or(""));
        EXPECT_TRUE(id.has_value()) << answer.Headers;
        return id.value_or(0);
    }
    Answer Download(const std::string& code, const std::string& lastModified = "") {
        std::vector<std::string> headers;
        if (!lastModified.empty())
            headers.push_back("If-Modified-Since: " + lastModified);
        return Request(Base + "retrieve.cgi?file=messages&langcode=" + code, headers);
    }
    Answer Upload(std::int64_t access, const std::vector<std::string>& lines) {
        std::string body = TPellPost().BuildPostData("EN", access, lines);
        return Request(Base + "edit.cgi",
                       {"Content-Type: application/x-www-form-urlencoded",
                        "Content-Length: " + std::to_string(body.size())},
                       &body);
    }
    test::ProgramResult Admin(const std::vector<std::string>& args) {
        return test::RunProgram(test::AdminProgram(), args, {{"PELLORA_EXCHANGE_DB", Path}});
    }

    TempDir Dir;
    std::string Path;
    std::unique_ptr<test::ExchangeServer> Server;
    std::string Base;
};

} // namespace

TEST_P(ExchangeServerTest, ClientRoundTripThroughReviewAndDownload) {
    std::int64_t access = AccessId();
    EXPECT_GT(access, 0);
    EXPECT_NE(AccessId(), access);

    Answer first = Download("en");
    ASSERT_EQ(first.Status, 200) << first.Headers << test::GetFile(Server->Web().ErrorLogPath());
    auto lastModified = GetLastModifiedHeader(first.Headers);
    ASSERT_TRUE(lastModified.has_value()) << first.Headers;
    std::vector<std::string> library = SplitTextLines(first.Body);
    ASSERT_FALSE(library.empty());
    for (const std::string& line : library)
        EXPECT_FALSE(Record(line).Stamp.empty()) << line;

    Answer again = Download("en", *lastModified);
    EXPECT_EQ(again.Status, 304);
    EXPECT_TRUE(again.Body.empty());
    Answer other = Download("nl");
    EXPECT_EQ(other.Status, 200);
    EXPECT_TRUE(other.Body.empty());

    Answer upload = Upload(access, {"NEW|3||-1|Smile at a stranger.", "NEW|1||-2|Is this real?"});
    ASSERT_EQ(upload.Status, 200) << upload.Headers << upload.Body;
    auto counts = ParseUploadCounts(GetExchangeHeader(upload.Headers).value_or(""));
    ASSERT_TRUE(counts.has_value()) << upload.Headers;
    EXPECT_EQ(counts->New, 2);
    EXPECT_EQ(counts->Accepted, counts->Appended);
    std::vector<std::string> synced = SplitTextLines(upload.Body);
    ASSERT_EQ(synced.size(), 2u);
    std::int32_t smile = Record(synced[0]).ServerId;
    EXPECT_GT(smile, 0);
    EXPECT_FALSE(Record(synced[0]).Stamp.empty());

    // Not public before review.
    EXPECT_EQ(Download("en", *lastModified).Status, 304);
    test::ProgramResult pending = Admin({"pending"});
    EXPECT_EQ(pending.ExitStatus, 0) << pending.Err;
    EXPECT_NE(pending.Out.find("Smile at a stranger."), std::string::npos) << pending.Out;
    std::vector<TSubmission> waiting = TSqliteStore(Path).Pending();
    // A lost answer: the client sends the same lines again and gets the same ids.
    Answer retry = Upload(access, {"NEW|3||-1|Smile at a stranger.", "NEW|1||-2|Is this real?"});
    EXPECT_EQ(retry.Body, upload.Body);
    EXPECT_EQ(TSqliteStore(Path).Pending().size(), waiting.size());
    ASSERT_EQ(waiting.size(), 2u);
    EXPECT_EQ(waiting[0].ServerId, smile);
    EXPECT_EQ(Admin({"approve", std::to_string(waiting[0].Id)}).ExitStatus, 0);
    EXPECT_EQ(Admin({"reject", std::to_string(waiting[1].Id)}).ExitStatus, 0);

    Answer published = Download("en", *lastModified);
    ASSERT_EQ(published.Status, 200);
    auto newer = GetLastModifiedHeader(published.Headers);
    ASSERT_TRUE(newer.has_value());
    EXPECT_NE(*newer, *lastModified);
    // Within the second of the approval the client is given an earlier time and downloads
    // again; once that second is over its copy is current.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (Answer again = Download("en", *newer);
         again.Status == 200 && std::chrono::steady_clock::now() < deadline;
         again = Download("en", *newer)) {
        EXPECT_EQ(again.Body, published.Body);
        newer = GetLastModifiedHeader(again.Headers);
        ASSERT_TRUE(newer.has_value());
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    TextList messages = ReplayJournal(SplitTextLines(published.Body), 0, true);
    EXPECT_EQ(messages.size(), ReplayJournal(library, 0, true).size() + 1);
    EXPECT_EQ(messages.back(), (TextItem{"Smile at a stranger.", smile}));
    EXPECT_EQ(Download("en", *newer).Status, 304);

    // Somebody else cannot delete it; its owner can.
    std::string del = "DEL|3|" + std::to_string(smile) + "|-1|";
    Answer stranger = Upload(AccessId(), {del});
    EXPECT_EQ(stranger.Status, 200);
    auto refused = ParseUploadCounts(GetExchangeHeader(stranger.Headers).value_or(""));
    ASSERT_TRUE(refused.has_value());
    EXPECT_NE(refused->Accepted, refused->Appended);
    Answer owner = Upload(access, {del});
    EXPECT_EQ(GetExchangeHeader(owner.Headers), "Pellora: new=0 accepted=1 appended=1");
}

TEST_P(ExchangeServerTest, HostileRequestsNeitherCrashNorChangeTheStore) {
    std::int64_t access = AccessId();
    const std::string before = Download("en").Body;
    ASSERT_FALSE(before.empty());

    std::string huge(std::size_t{5} * 1024 * 1024, 'a');
    EXPECT_EQ(Request(Base + "edit.cgi", {}, &huge).Status, 413);
    std::string bytes;
    for (int i = 0; i < 4096; ++i)
        bytes += static_cast<char>(i * 37 % 256);
    EXPECT_EQ(Request(Base + "edit.cgi", {}, &bytes).Status, 400);
    std::string injection =
        "action=add_deltas&file=messages&langcode=en&access_id=" + std::to_string(access) +
        "&messages=NEW%7C1%7C%7C-1%7Cx%27%29%3B+DROP+TABLE+line%3B--%0D%0A"
        "MOD%7C1%7C1%7C-1%7Cnot+mine";
    Answer refused = Request(Base + "edit.cgi", {}, &injection);
    EXPECT_EQ(refused.Status, 200);
    EXPECT_EQ(GetExchangeHeader(refused.Headers), "Pellora: new=0 accepted=2 appended=0");
    for (const std::string& query :
         {std::string("file=messages&langcode=..%2F..%2Fetc"), std::string("file=messages"),
          "file=messages&langcode=" + std::string(6000, 'e'), std::string("%%%")})
        EXPECT_EQ(Request(Base + "retrieve.cgi?" + query).Status, 400) << query.substr(0, 40);
    EXPECT_EQ(Download("en", "Thu, 01 Jan 1970 00:00:00 GMT\r\nX: y").Status, 200);

    EXPECT_EQ(Download("en").Body, before);
    EXPECT_TRUE(TSqliteStore(Path).Pending().empty());
}

TEST_P(ExchangeServerTest, ParallelUploadsAreAllStored) {
    constexpr int Clients = 4, Uploads = 8;
    std::vector<std::set<std::int32_t>> serverIds(Clients);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    threads.reserve(Clients);
    for (int c = 0; c < Clients; ++c)
        threads.emplace_back([&, c] {
            std::int64_t access = AccessId();
            for (int u = 0; u < Uploads; ++u) {
                Answer answer = Upload(access, {"NEW|1||-" + std::to_string(u + 1) + "|Text " +
                                                std::to_string(c) + "/" + std::to_string(u)});
                auto counts = ParseUploadCounts(GetExchangeHeader(answer.Headers).value_or(""));
                if (answer.Status != 200 || !counts || counts->Appended != 1) {
                    ++wrong;
                    continue;
                }
                serverIds[c].insert(Record(SplitTextLines(answer.Body).at(0)).ServerId);
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(wrong, 0);
    std::set<std::int32_t> all;
    for (const auto& ids : serverIds)
        all.insert(ids.begin(), ids.end());
    EXPECT_EQ(all.size(), static_cast<std::size_t>(Clients * Uploads));
    EXPECT_EQ(TSqliteStore(Path).Pending().size(), static_cast<std::size_t>(Clients * Uploads));
}

INSTANTIATE_TEST_SUITE_P(Modes, ExchangeServerTest,
                         ::testing::Values(ExchangeBackend::Cgi, ExchangeBackend::FastCgi,
                                           ExchangeBackend::SpawnedFastCgi),
                         [](const ::testing::TestParamInfo<ExchangeBackend>& info) {
                             return info.param == ExchangeBackend::Cgi       ? "Cgi"
                                    : info.param == ExchangeBackend::FastCgi ? "FastCgi"
                                                                             : "SpawnedFastCgi";
                         });
