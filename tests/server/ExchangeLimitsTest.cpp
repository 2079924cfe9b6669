#include "ExchangeCgi.h"
#include "ExchangeErrors.h"
#include "ExchangeStore.h"
#include "core/MsgRecord.h"
#include "net/HttpUtil.h"
#include "net/NetSync.h"
#include "platform/FileUtil.h"
#include "platform/StrUtils.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

using namespace pellora;
using pellora::test::TempDir;

namespace {

constexpr std::int64_t Noon = 1796464800 + 2 * 3600; // Sat, 05 Dec 2026 12:00:00 GMT

// Uploads and access requests as edit.cgi answers them, from a chosen client address, on a
// store whose clock the test moves.
class ExchangeLimitsTest : public ::testing::Test {
protected:
    ExchangeLimitsTest()
        : Path(Dir / "exchange.db"),
          Store(Path, TSqliteStore::TOpenMode::Create, [this] { return Clock; }) {}

    void SetLimit(const std::string& name, std::int64_t value) {
        TExchangeLimits limits = Store.Limits();
        ASSERT_TRUE(SetNamedLimit(limits, name, value)) << name;
        Store.SetLimits(limits);
    }
    TCgiResponse Edit(const std::string& method, const std::string& body,
                      const std::string& address = "192.0.2.1") {
        TCgiRequest request;
        request.Method = method;
        (method == "GET" ? request.Query : request.Body) = body;
        request.Address = address;
        return Serve(
            HandleEdit, [&] { return request; }, [&]() -> TExchangeStore& { return Store; });
    }
    TAccessId Access(const std::string& address = "192.0.2.1") {
        TCgiResponse response = Edit("POST", "action=request_access", address);
        EXPECT_EQ(response.Status, 200) << response.Body;
        const std::string* header = response.Header("Pellora");
        auto id = header ? GetTagAttribute(SplitTagAttributes(*header), "access_id") : std::nullopt;
        return id ? std::stoll(*id) : 0;
    }
    // The client's own body, with an access id of any width.
    TCgiResponse Upload(TAccessId access, const std::vector<std::string>& lines,
                        const std::string& address = "192.0.2.1") {
        std::string body = TPellPost().BuildPostData("EN", 1, lines);
        body.replace(body.find("access_id=1"), 11, "access_id=" + std::to_string(access));
        return Edit("POST", body, address);
    }
    static std::vector<std::string> Lines(int count, int firstOwnId = 1) {
        std::vector<std::string> lines;
        for (int i = 0; i < count; ++i)
            lines.push_back(Format("NEW|1||-%d|Message %d", firstOwnId + i, firstOwnId + i));
        return lines;
    }
    static std::string HeaderOf(const TCgiResponse& response, const char* name) {
        const std::string* value = response.Header(name);
        return value ? *value : "<none>";
    }

    TempDir Dir;
    std::int64_t Clock = Noon;
    std::string Path;
    TSqliteStore Store;
};

} // namespace

TEST_F(ExchangeLimitsTest, AnUploadOfTooManyLinesIsRefusedWhole) {
    SetLimit("upload-lines", 3);
    TAccessId access = Access();
    EXPECT_EQ(Upload(access, Lines(3)).Status, 200);
    TCgiResponse tooMany = Upload(access, Lines(4, 10));
    EXPECT_EQ(tooMany.Status, 413);
    EXPECT_EQ(HeaderOf(tooMany, "Pellora-Limit"), "upload-lines=3");
    EXPECT_EQ(Store.Pending().size(), 3u);
}

TEST_F(ExchangeLimitsTest, DailyLimitsCountPerAccessIdAndPerAddress) {
    SetLimit("access-lines-per-day", 5);
    SetLimit("address-lines-per-day", 8);
    TAccessId ann = Access(), bob = Access();
    EXPECT_EQ(Upload(ann, Lines(5)).Status, 200);
    TCgiResponse annsSixth = Upload(ann, Lines(1, 6));
    EXPECT_EQ(annsSixth.Status, 429);
    EXPECT_EQ(HeaderOf(annsSixth, "Pellora-Limit"), "access-lines-per-day=5");
    EXPECT_EQ(HeaderOf(annsSixth, "Retry-After"), "43200"); // until midnight UTC
    // Bob shares Ann's address: three more lines from there, then no more.
    EXPECT_EQ(Upload(bob, Lines(3)).Status, 200);
    TCgiResponse fromAddress = Upload(bob, Lines(1, 4));
    EXPECT_EQ(fromAddress.Status, 429);
    EXPECT_EQ(HeaderOf(fromAddress, "Pellora-Limit"), "address-lines-per-day=8");
    // From another network Bob goes on; an IPv6 client counts by its /64 network.
    EXPECT_EQ(Upload(bob, Lines(1, 4), ClientAddress("2001:db8:1:2::7")).Status, 200);
    EXPECT_EQ(Upload(bob, Lines(1, 5), ClientAddress("2001:db8:1:2:ffff::9")).Status, 200);
    EXPECT_EQ(Store.Pending().size(), 10u);
    // A new day starts afresh.
    Clock += 12 * 3600;
    EXPECT_EQ(Upload(ann, Lines(1, 6)).Status, 200);
}

TEST_F(ExchangeLimitsTest, GuessingAccessIdsUsesUpTheAddressesLines) {
    SetLimit("address-lines-per-day", 20);
    TAccessId owner = Access("198.51.100.1");
    TCgiResponse mine = Upload(owner, {"NEW|1||-1|Mine"}, "198.51.100.1");
    TMsgRecord record;
    ASSERT_TRUE(ParseMsgRecord(SplitTextLines(mine.Body).at(0), record));
    const std::string forged = Format("MOD|1|%d|-1|Forged", record.ServerId);

    TAccessId guesser = Access();
    std::string unknownAnswer;
    int refused = 0;
    for (TAccessId guess = owner - 10; guess < owner + 10; ++guess) {
        if (guess == owner)
            continue;
        TCgiResponse answer = Upload(guess, {forged});
        refused +=
            answer.Status == 200 && HeaderOf(answer, "Pellora") == "new=0 accepted=1 appended=0";
        unknownAnswer = HeaderOf(answer, "Pellora-Refused");
    }
    // An unknown id and a message of another id are refused alike: nothing tells them apart.
    TCgiResponse notOwned = Upload(guesser, {forged});
    EXPECT_EQ(refused, 19);
    EXPECT_EQ(notOwned.Status, 200);
    EXPECT_EQ(HeaderOf(notOwned, "Pellora"), "new=0 accepted=1 appended=0");
    EXPECT_EQ(HeaderOf(notOwned, "Pellora-Refused"), unknownAnswer);
    EXPECT_EQ(notOwned.Body, "");
    // The guesses used up the address's lines.
    EXPECT_EQ(Upload(guesser, {"NEW|1||-1|Now mine"}).Status, 429);
    EXPECT_EQ(Store.Pending().size(), 1u);
}

TEST_F(ExchangeLimitsTest, AFullReviewQueueAnswers503UntilTheReviewerFreesIt) {
    SetLimit("queue-bytes", 1000);
    TAccessId access = Access();
    const std::string text(400, 'a');
    EXPECT_EQ(Upload(access, {"NEW|1||-1|" + text}).Status, 200);
    EXPECT_EQ(Upload(access, {"NEW|1||-2|" + text}).Status, 200);
    TCgiResponse full = Upload(access, {"NEW|1||-3|" + text});
    EXPECT_EQ(full.Status, 503);
    EXPECT_EQ(HeaderOf(full, "Pellora-Limit"), "queue-bytes=1000");
    EXPECT_NE(HeaderOf(full, "Retry-After"), "<none>");

    EXPECT_EQ(Store.RejectAccess(access), 2);
    EXPECT_EQ(Upload(access, {"NEW|1||-3|" + text}).Status, 200);
}

TEST_F(ExchangeLimitsTest, AccessIdsPerAddressAreLimited) {
    SetLimit("address-access-per-day", 2);
    Access();
    Access();
    TCgiResponse third = Edit("POST", "action=request_access");
    EXPECT_EQ(third.Status, 429);
    EXPECT_EQ(HeaderOf(third, "Pellora-Limit"), "address-access-per-day=2");
    EXPECT_EQ(third.Header("Pellora"), nullptr);
    EXPECT_EQ(Edit("POST", "action=request_access", "203.0.113.5").Status, 200);
}

TEST_F(ExchangeLimitsTest, AFullDatabaseAnswers503AndRejectingStillWorks) {
    SetLimit("database-megabytes", 1);
    SetLimit("access-lines-per-day", 100000);
    SetLimit("address-lines-per-day", 100000);
    TAccessId access = Access();
    const std::string text(1900, 'b');
    int status = 200, ownId = 1;
    for (int upload = 0; upload < 20 && status == 200; ++upload) {
        std::vector<std::string> lines;
        for (int i = 0; i < 50; ++i, ++ownId)
            lines.push_back(Format("NEW|1||-%d|%s", ownId, text.c_str()));
        status = Upload(access, lines).Status;
    }
    EXPECT_EQ(status, 503);
    const std::size_t pending = Store.Pending().size();
    ASSERT_GT(pending, 0u);
    // The reviewer's tool opens the database afresh and can always turn uploads down.
    TSqliteStore admin(Path);
    EXPECT_EQ(admin.RejectAccess(access), static_cast<int>(pending));
    admin.Purge(30);
    EXPECT_TRUE(admin.Pending().empty());
}

TEST_F(ExchangeLimitsTest, PurgeDeletesRejectedAndOldRowsAndKeepsPendingOnes) {
    TAccessId keep = Access(), drop = Access();
    Upload(keep, Lines(2));
    Upload(drop, Lines(3));
    EXPECT_EQ(Store.RejectAccess(drop), 3);
    EXPECT_EQ(Store.RejectAccess(drop), 0);
    TPurgeResult purged = Store.Purge(30);
    EXPECT_EQ(purged.Submissions, 3);
    EXPECT_EQ(purged.Messages, 3); // the ids of the rejected additions
    EXPECT_EQ(Store.Pending().size(), 2u);

    Store.Approve({Store.Pending()[0].Id});
    Clock += 10 * 86400;
    EXPECT_EQ(Store.Purge(30).Submissions, 0);
    Clock += 30 * 86400;
    purged = Store.Purge(30);
    EXPECT_EQ(purged.Submissions, 1);
    EXPECT_EQ(purged.Retries, 2);
    EXPECT_EQ(purged.Messages, 0); // the approved message is in the library
    EXPECT_EQ(Store.Pending().size(), 1u);
}
