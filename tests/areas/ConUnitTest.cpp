#include <gtest/gtest.h>

#include <memory>
#include <tuple>
#include <vector>

#include <QTemporaryDir>

#include "AreaErrors.h"
#include "AutomationTestHost.h"
#include "ConUnit.h"
#include "mdlSub.h"

using namespace ostrel::areas;
using namespace std::chrono_literals;

namespace {

// One event as a client sees it: 'M' or 'C', the area number and the status.
using Event = std::tuple<char, int, bool>;
using Events = std::vector<Event>;

struct EventLog {
    Events events;
    explicit EventLog(ConUnit& unit) {
        QObject::connect(&unit, &ConUnit::MotionDetection, &unit,
                         [this](std::int32_t i, bool on) { events.emplace_back('M', i, on); });
        QObject::connect(&unit, &ConUnit::ColorDetection, &unit,
                         [this](std::int32_t i, bool on) { events.emplace_back('C', i, on); });
    }
    // Waits for `count` events, then a few more ticks to catch any surplus.
    Events after(std::size_t count) {
        (void)QTest::qWaitFor([&] { return events.size() >= count; }, 3000);
        QTest::qWait(60);
        return events;
    }
};

// The host and the shared timer, with short intervals unless a test needs the real ones.
struct Automation {
    AutomationTestHost host;
    frmTimer timer;
    explicit Automation(std::chrono::milliseconds first = 30ms, std::chrono::milliseconds every = 10ms)
        : timer(host.registry, nullptr, first, every) {}
    std::unique_ptr<ConUnit> create() { return std::make_unique<ConUnit>(host.registry, host, timer); }
    void addAreas(ConUnit& unit, int count) {
        for (int i = 1; i <= count; ++i) {
            unit.Add(QString::number(i));
            host.prepareForEvents(i);
        }
    }
};

template <typename Call>
std::string failureOf(Call call) {
    try {
        call();
    } catch (const AutomationFailure& failure) {
        return failure.what();
    }
    return "no failure";
}

}  // namespace

TEST(ConUnit, CreationAttachesTheClientAndTheLastReleaseEndsTheProgram) {
    Automation a(frmTimer::kFirstInterval, frmTimer::kInterval);
    EXPECT_FALSE(a.timer.tmTimer().isActive()) << "no ticks without a client";
    auto first = a.create();
    EXPECT_EQ(a.host.attachCalls, 1);
    EXPECT_TRUE(a.timer.held());

    auto second = a.create();
    QObject listener;  // as the event history holds it
    a.timer.hold(&listener, frmTimer::Holder::Listener);
    first->Release();
    first->Release();
    EXPECT_EQ(a.host.endCalls, 0) << "another ConUnit is still held";
    EXPECT_TRUE(a.timer.tmTimer().isActive());
    second->Add("Door");
    second->Release();
    EXPECT_EQ(a.host.endCalls, 1) << "a listener is no client";
    EXPECT_EQ(a.host.registry.areaCollection().Count(), 0);
    EXPECT_TRUE(a.timer.tmTimer().isActive());
    EXPECT_FALSE(a.timer.letGo(&listener));
    EXPECT_FALSE(a.timer.held());
    EXPECT_FALSE(a.timer.tmTimer().isActive());

    a.create().reset();  // dropped without Release, as when the service shuts down
    EXPECT_EQ(a.host.endCalls, 1);
    EXPECT_FALSE(a.timer.held());
}

// --- event delivery, with the timer running for real ---

TEST(ConUnitEvents, AnotherClientComingAndGoingKeepsTheTimersPace) {
    Automation a(frmTimer::kFirstInterval, frmTimer::kInterval);
    auto unit = a.create();
    EventLog log(*unit);
    a.addAreas(*unit, 1);
    for (int i = 0; i < 22; ++i) {  // a flicker, and a ConUnit created and released every 200 ms
        a.host.showGrey(1, i % 2 ? 0 : 255);
        if (i % 2 == 0) {
            a.create()->Release();
        }
        QTest::qWait(100);
    }
    EXPECT_GE(log.events.size(), 10u) << "every flip after the first second";
}

TEST(ConUnitEvents, NumberOrderMotionBeforeColourAndTheStatusAtTheTick) {
    Automation a;
    auto unit = a.create();
    auto other = a.create();
    auto released = a.create();
    EventLog log(*unit), otherLog(*other), releasedLog(*released);
    released->Release();
    a.addAreas(*unit, 3);
    a.host.showGrey(3, 0);    // motion and colour
    a.host.showGrey(2, 255);  // motion true ...
    a.host.showGrey(2, 255);  // ... and back to false before the tick: both are reported
    a.host.control(1).setMotionActive(false);
    a.host.showGrey(1, 0);  // colour only

    const Events expected{
        {'C', 1, true}, {'M', 2, true}, {'M', 2, false}, {'M', 3, true}, {'C', 3, true}};
    EXPECT_EQ(log.after(5), expected);
    EXPECT_EQ(otherLog.events, expected) << "every ConUnit gets every event";
    EXPECT_TRUE(releasedLog.events.empty());
    for (int i = 1; i <= 3; ++i) {
        EXPECT_FALSE(a.host.control(i).MotionChanged() || a.host.control(i).ColorChanged()) << i;
    }
}

TEST(ConUnitEvents, AHandlerRemovingAnAreaDuringTheTickBreaksNothing) {
    Automation a;
    auto unit = a.create();
    a.addAreas(*unit, 3);
    EventLog log(*unit);
    QObject::connect(unit.get(), &ConUnit::MotionDetection, unit.get(), [&](std::int32_t i, bool) {
        if (i == 1 && log.events.size() == 1) {
            unit->Remove(std::int64_t(1));
        }
    });
    for (int i = 1; i <= 3; ++i) {
        a.host.showGrey(i, 0);
    }
    ctlDetArea& removed = a.host.control(1);
    // Area 1 goes after its motion event, so its colour is dropped; former 3 is 2 now and 3 is
    // past the count; former 2 is 1 now and comes with the next tick.
    EXPECT_EQ(log.after(5), (Events{{'M', 1, true}, {'M', 2, true}, {'C', 2, true}, {'M', 1, true},
                                    {'C', 1, true}}));
    EXPECT_FALSE(removed.MotionChanged()) << "the reported flag is cleared on its old control";
}

TEST(ConUnitEvents, AHandlerRunningAnEventLoopDoesNotRepeatTheTick) {
    Automation a;
    auto unit = a.create();
    a.addAreas(*unit, 2);
    EventLog log(*unit);
    QObject::connect(unit.get(), &ConUnit::MotionDetection, unit.get(), [](std::int32_t i, bool) {
        if (i == 1) {
            QTest::qWait(60);  // several intervals pass inside the handler
        }
    });
    a.host.showGrey(1, 255);
    a.host.showGrey(2, 255);
    EXPECT_EQ(log.after(2), (Events{{'M', 1, true}, {'M', 2, true}}));
}

// --- members ---

TEST(ConUnitMembers, AddSizesAndRefusesWithItsFixedText) {
    Automation a;
    auto unit = a.create();
    unit->Add("Door");
    auto gate = unit->Add("Gate", {0.9, 0.1, 0.5});
    EXPECT_EQ(std::make_tuple(gate->Left(), gate->Top(), gate->Width(), gate->Height()),
              std::make_tuple(0.9, 0.1, 0.5, 0.33)) << "the missing height at its default";

    const std::string text = "An error occurred while AddArea!";
    EXPECT_EQ(failureOf([&] { unit->Add(""); }), text);
    EXPECT_EQ(failureOf([&] { unit->Add("    "); }), text) << "empty once trimmed";
    EXPECT_EQ(failureOf([&] { unit->Add("DOOR"); }), text);
    EXPECT_EQ(failureOf([&] { unit->Add("Five", {0.1, 0.1, 0.1, 0.1, 0.1}); }), text);
    a.host.registry.setEditMode(true);
    EXPECT_EQ(failureOf([&] { unit->Add("Edit"); }), text);
    a.host.registry.setEditMode(false);
}

TEST(ConUnitMembers, AddBeyondTheLimitsFailsBeforeAnythingChanges) {
    Automation a;
    auto unit = a.create();
    const std::string text = "An error occurred while AddArea!";
    a.host.registry.setBufferBudget(a.host.registry.newAreaBytes() * 5 / 2);
    unit->Add("A");
    EXPECT_EQ(failureOf([&] { unit->Add("Large", {0, 0, 1, 1}); }), text);
    unit->Add("B");
    EXPECT_EQ(failureOf([&] { unit->Add("C"); }), text);
    EXPECT_EQ(unit->Count(), 2);
    EXPECT_EQ(a.host.controls.elements().size(), 2u);
}

TEST(ConUnitMembers, LookUpRemoveSelectClearShowAndSave) {
    Automation a;
    auto unit = a.create();
    auto one = unit->Add("A");
    auto two = unit->Add("B");
    auto three = unit->Add("C");
    EXPECT_EQ(unit->Area(QString("b")), two);
    EXPECT_EQ(unit->Area(std::int64_t(3)), three);
    for (const AreaIndex& none : {AreaIndex(std::int64_t(0)), AreaIndex(std::int64_t(99)),
                                  AreaIndex(std::int64_t(1) << 40), AreaIndex(QString("Z"))}) {
        EXPECT_EQ(unit->Area(none), nullptr);
    }
    EXPECT_TRUE(unit->Remove(std::int64_t(2)));
    EXPECT_EQ(failureOf([&] { unit->Remove(QString("B")); }), "An error occurred while Remove!");

    EXPECT_TRUE(unit->SelectArea(QString("c")));
    EXPECT_EQ(a.host.menu.mnuIndex->title(), "Area 2");
    EXPECT_EQ(failureOf([&] { unit->SelectArea(std::int64_t(3)); }), "An error occurred while SelectArea!");

    a.host.registry.setEditMode(true);
    EXPECT_FALSE(unit->SelectArea(std::int64_t(99))) << "no lookup while editing";
    EXPECT_FALSE(unit->ShowConUnit(false));
    EXPECT_TRUE(a.host.window.isVisible());
    EXPECT_EQ(unit->Area(QString("a")), one) << "lookups do not look at editing";
    a.host.registry.setEditMode(false);
    EXPECT_TRUE(unit->Clear());
    EXPECT_EQ(unit->Count(), 0);
    EXPECT_TRUE(unit->ShowConUnit(false));
    EXPECT_FALSE(a.host.window.isVisible());

    QTemporaryDir dir;  // a relative path: the client cannot know where the file would go
    QDir::setCurrent(dir.path());
    EXPECT_EQ(failureOf([&] { unit->SaveFile("relative.cfg"); }),
              "An error occurred while processing the specified file!");
    EXPECT_FALSE(QFile::exists(dir.filePath("relative.cfg")));
}
