// The topic graph: pair links, level filtering at link time, targets joining
// and leaving, the counted start and stop and the final teardown.
#include <gtest/gtest.h>

#include "LoggingSession.h"
#include "logging/Allocator.h"
#include "logging/Filter.h"
#include "logging/Message.h"
#include "logging/Registries.h"

namespace {

using logging::Filter;
using logging::Message;
using Lines = std::vector<std::wstring>;

// A call site of its own, so a test can look at its message and flag.
struct Site {
    Message* message = nullptr;
    bool created = false;

    void Log(int level, const wchar_t* text)
    {
        logging::LogCall(&message, &created, level, 10, L"%ws", text);
    }
};

class Graph : public LoggingSession {};

TEST_F(Graph, LinkingTwiceLeavesOneEntryOnEachSide)
{
    Filter* a = new Filter(logging::LevelDebug, 0.0);
    Filter* b = new Filter(logging::LevelDebug, 0.0);
    EXPECT_TRUE(a->AddReceiver(*b));
    EXPECT_FALSE(a->AddReceiver(*b));
    EXPECT_FALSE(b->AddSender(*a));
    EXPECT_EQ(a->receivers.size(), 1u);
    EXPECT_EQ(b->senders.size(), 1u);
    EXPECT_EQ(a->senders.count(b), 0u);

    EXPECT_TRUE(b->RemoveSender(*a));
    EXPECT_TRUE(a->receivers.empty());
    EXPECT_TRUE(b->senders.empty());
    EXPECT_FALSE(a->RemoveReceiver(*b));
}

TEST_F(Graph, MessagesAndTargetsRefuseTheDirectionTheyDoNotHave)
{
    Site site;
    site.Log(logging::LevelInfo, L"x");
    RecordingTarget target;
    Filter* filter = logging::DefaultFilter();
    ASSERT_NE(filter, nullptr);
    EXPECT_FALSE(site.message->AddSender(*filter));
    EXPECT_FALSE(target.AddReceiver(*filter));
    EXPECT_FALSE(target.CanSend());
    EXPECT_FALSE(site.message->CanReceive());
}

TEST_F(Graph, LevelDecidesTheLinkToTheDefaultFilterOnce)
{
    RecordingTarget target;
    Site accepted;
    Site refused;
    for (int pass = 0; pass < 3; ++pass) {
        accepted.Log(logging::LevelDebug, L"eighty");
        refused.Log(81, L"eighty-one");
    }
    EXPECT_EQ(accepted.message->receivers.count(logging::DefaultFilter()), 1u);
    EXPECT_TRUE(refused.message->receivers.empty());
    EXPECT_EQ(target.lines, Lines(3, L"10) : debug: eighty\r\n"));
    EXPECT_EQ(refused.message->Emit(), 0);
}

TEST_F(Graph, OneMessagePerSiteHoweverOftenItRuns)
{
    Site site;
    site.Log(logging::LevelInfo, L"one");
    Message* first = site.message;
    EXPECT_TRUE(site.created);
    site.Log(logging::LevelInfo, L"two");
    EXPECT_EQ(site.message, first);
    EXPECT_STREQ(first->text.Text(), L"two");
    EXPECT_EQ(first->fields, logging::FieldLevel | logging::FieldLine | logging::FieldText);
}

TEST_F(Graph, TargetCreatedLaterReceivesLaterEmissions)
{
    Site early;
    early.Log(logging::LevelInfo, L"before");
    RecordingTarget target;
    early.Log(logging::LevelInfo, L"after");
    Site late;
    late.Log(logging::LevelInfo, L"new site");
    EXPECT_EQ(target.lines, (Lines{L"10) : info: after\r\n", L"10) : info: new site\r\n"}));
}

TEST_F(Graph, EachTargetReceivesEachMessageOnceAndResultsAreSummed)
{
    RecordingTarget first;
    RecordingTarget second;
    first.result = 2;
    second.result = 3;
    Site site;
    site.Log(logging::LevelInfo, L"x");
    EXPECT_EQ(first.lines.size(), 1u);
    EXPECT_EQ(second.lines.size(), 1u);
    EXPECT_EQ(site.message->Emit(), 5);
}

TEST_F(Graph, DestroyedTargetReachesNothing)
{
    Site site;
    {
        RecordingTarget target;
        site.Log(logging::LevelInfo, L"x");
        ASSERT_EQ(target.lines.size(), 1u);
        target.result = 7;
    }
    EXPECT_TRUE(logging::DefaultFilter()->receivers.empty());
    EXPECT_EQ(site.message->Emit(), 0);
}

TEST_F(Graph, FilterDecidesByEveryFieldItCarries)
{
    Filter* filter = logging::DefaultFilter();
    logging::Topic sender(logging::LevelInfo, 12, 1.5, L"Failed to open key");
    sender.braceTag.AssignView(L"registry", nullptr);
    EXPECT_TRUE(filter->Matches(sender));

    struct Case {
        unsigned field;
        void (*set)(logging::Topic&);
        bool matches;
    };
    const Case cases[] = {
        {logging::FieldText, [](logging::Topic& t) { t.text.AssignView(L"open", nullptr); }, true},
        {logging::FieldText, [](logging::Topic& t) { t.text.AssignView(L"close", nullptr); }, false},
        {logging::FieldLine, [](logging::Topic& t) { t.line = 12; }, true},
        {logging::FieldLine, [](logging::Topic& t) { t.line = 13; }, false},
        {logging::FieldBraceTag, [](logging::Topic& t) { t.braceTag.AssignView(L"gist", nullptr); }, true},
        {logging::FieldBraceTag, [](logging::Topic& t) { t.braceTag.AssignView(L"file", nullptr); }, false},
        {logging::FieldTimestamp, [](logging::Topic& t) { t.timestamp = 1.5; }, true},
        {logging::FieldTimestamp, [](logging::Topic& t) { t.timestamp = 2.0; }, false},
        {logging::FieldLevel, [](logging::Topic& t) { t.level = logging::LevelWarning; }, false},
    };
    for (const Case& c : cases) {
        logging::Topic receiver(logging::LevelAll, 0, 0.0);
        receiver.fields = c.field;
        c.set(receiver);
        EXPECT_EQ(receiver.Matches(sender), c.matches) << "field " << c.field;
    }
}

TEST(LoggingLifetime, SecondStartKeepsEverythingUntilTheLastStop)
{
    Site site;
    StartLogging();
    StartLogging();
    {
        RecordingTarget target;
        site.Log(logging::LevelInfo, L"one");
        StopLogging();
        site.Log(logging::LevelInfo, L"two");
        EXPECT_EQ(target.lines.size(), 2u);
        EXPECT_TRUE(site.created);
    }
    StopLogging();
    EXPECT_FALSE(site.created);
    EXPECT_EQ(logging::DefaultFilter(), nullptr);
    EXPECT_EQ(logging::ExistingRegistry(logging::RegistryName::AllNodes), nullptr);
    EXPECT_EQ(logging::ExistingRegistry(logging::RegistryName::AllFilters), nullptr);
    EXPECT_FALSE(logging::AllocatorActive());

    // Outside logging a call does nothing; after a new start the site
    // creates a fresh message.
    site.Log(logging::LevelInfo, L"ignored");
    EXPECT_FALSE(site.created);
    StartLogging();
    {
        RecordingTarget target;
        site.Log(logging::LevelInfo, L"three");
        EXPECT_EQ(target.lines, (Lines{L"10) : info: three\r\n"}));
    }
    StopLogging();
    EXPECT_FALSE(site.created);
}

TEST(LoggingLifetime, UnmatchedStopDoesNotDisturbTheNextStart)
{
    StopLogging();
    StartLogging();
    EXPECT_TRUE(logging::AllocatorActive());
    EXPECT_NE(logging::DefaultFilter(), nullptr);
    StopLogging();
    EXPECT_FALSE(logging::AllocatorActive());
}

}  // namespace
