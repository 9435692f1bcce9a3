#include "platform/notification_center.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <memory>
#include <thread>
#include <vector>

namespace h8 {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Each test uses its own center so that registrations cannot leak between tests.
class NotificationCenterTest : public ::testing::Test {
protected:
    NotificationCenter center;
    std::vector<QString> calls;

    NotificationCenter::Handler record(const QString& tag) {
        return [this, tag](const Notification&) { calls.push_back(tag); };
    }
};

TEST_F(NotificationCenterTest, DeliversToObserversOfTheNameInRegistrationOrder) {
    QObject a, b, c;
    center.addObserver(&b, "Volume", record("b"));
    center.addObserver(&a, "Volume", record("a"));
    center.addObserver(&c, "Mute", record("c"));
    center.addObserver(&a, "Volume", record("a again"));

    center.post("Volume");
    EXPECT_THAT(calls, ElementsAre("b", "a", "a again"));

    calls.clear();
    center.post("Mute");
    center.post("Unobserved");
    EXPECT_THAT(calls, ElementsAre("c"));
}

TEST_F(NotificationCenterTest, PassesObjectAndUserInfo) {
    QObject observer;
    Notification received;
    center.addObserver(&observer, "Level", [&](const Notification& n) { received = n; });

    center.post("Level", QVariant(qint64(-12)), {{"channel", 3}, {"label", "Mic 1"}});
    EXPECT_EQ(received.name, "Level");
    EXPECT_EQ(received.object.typeId(), QMetaType::LongLong);
    EXPECT_EQ(received.object.toLongLong(), -12);
    EXPECT_EQ(received.userInfo.value("channel").toInt(), 3);
    EXPECT_EQ(received.userInfo.value("label").toString(), "Mic 1");

    center.post("Level");
    EXPECT_FALSE(received.object.isValid());
    EXPECT_TRUE(received.userInfo.isEmpty());
}

TEST_F(NotificationCenterTest, DestroyedObserverIsNeverCalledAgain) {
    auto doomed = std::make_unique<QObject>();
    QObject survivor;
    center.addObserver(doomed.get(), "Tick", record("doomed"));
    center.addObserver(&survivor, "Tick", record("survivor"));

    doomed.reset();
    center.post("Tick");
    EXPECT_THAT(calls, ElementsAre("survivor"));

    // An object that happens to reuse the address must not inherit the old registrations.
    calls.clear();
    std::vector<std::unique_ptr<QObject>> fresh;
    for (int i = 0; i < 16; ++i) {
        fresh.push_back(std::make_unique<QObject>());
        center.addObserver(fresh.back().get(), "Other", record("fresh"));
    }
    center.post("Tick");
    EXPECT_THAT(calls, ElementsAre("survivor"));
}

TEST_F(NotificationCenterTest, ObserverDestroyedByAnEarlierHandlerIsSkipped) {
    QObject first;
    auto second = new QObject;
    center.addObserver(&first, "Close", [&](const Notification&) {
        calls.push_back("first");
        delete second;
    });
    center.addObserver(second, "Close", record("second"));

    center.post("Close");
    EXPECT_THAT(calls, ElementsAre("first"));
}

TEST_F(NotificationCenterTest, RemoveObserverByNameOrEntirely) {
    QObject a, b;
    center.addObserver(&a, "X", record("a:X"));
    center.addObserver(&a, "Y", record("a:Y"));
    center.addObserver(&b, "X", record("b:X"));

    center.removeObserver(&a, "X");
    center.post("X");
    center.post("Y");
    EXPECT_THAT(calls, ElementsAre("b:X", "a:Y"));

    calls.clear();
    center.removeObserver(&a);
    center.post("X");
    center.post("Y");
    EXPECT_THAT(calls, ElementsAre("b:X"));

    // Removing something never registered is harmless.
    center.removeObserver(&a);
    center.removeObserver(nullptr);
}

TEST_F(NotificationCenterTest, ChangesMadeDuringDeliveryApplyFromTheRightMoment) {
    QObject remover, removed, added, late;
    center.addObserver(&remover, "Go", [&](const Notification&) {
        calls.push_back("remover");
        center.removeObserver(&removed);
        center.addObserver(&added, "Go", record("added"));
    });
    center.addObserver(&removed, "Go", record("removed"));
    center.addObserver(&late, "Go", record("late"));

    center.post("Go");
    EXPECT_THAT(calls, ElementsAre("remover", "late"));

    calls.clear();
    center.removeObserver(&remover);
    center.post("Go");
    EXPECT_THAT(calls, ElementsAre("late", "added"));
}

TEST_F(NotificationCenterTest, HandlerMayRemoveItselfAndPostAgain) {
    QObject self, other;
    center.addObserver(&self, "Outer", [&](const Notification&) {
        calls.push_back("outer");
        center.removeObserver(&self);
        center.post("Inner");
    });
    center.addObserver(&other, "Inner", record("inner"));

    center.post("Outer");
    center.post("Outer");
    EXPECT_THAT(calls, ElementsAre("outer", "inner"));
}

TEST_F(NotificationCenterTest, PostFromAnotherThreadIsDeliveredOnTheMainThread) {
    QObject observer;
    std::vector<QThread*> threads;
    std::vector<int> values;
    center.addObserver(&observer, "Meter", [&](const Notification& n) {
        threads.push_back(QThread::currentThread());
        values.push_back(n.userInfo.value("value").toInt());
    });

    std::thread poster([&] {
        for (int i = 0; i < 5; ++i) center.post("Meter", {}, {{"value", i}});
    });
    poster.join();
    EXPECT_THAT(values, IsEmpty()) << "delivered before the main thread ran its event loop";

    QCoreApplication::processEvents();
    EXPECT_THAT(values, ElementsAre(0, 1, 2, 3, 4));
    for (QThread* t : threads) EXPECT_EQ(t, QCoreApplication::instance()->thread());
}

TEST_F(NotificationCenterTest, QueuedPostOutlivingItsCenterIsDropped) {
    bool called = false;
    QObject observer;
    {
        NotificationCenter shortLived;
        shortLived.addObserver(&observer, "Late", [&](const Notification&) { called = true; });
        std::thread([&] { shortLived.post("Late"); }).join();
    }
    QCoreApplication::processEvents();
    EXPECT_FALSE(called);
}

TEST(DefaultNotificationCenter, IsSharedByTheWholeProcess) {
    EXPECT_EQ(&NotificationCenter::defaultCenter(), &NotificationCenter::defaultCenter());
    QObject observer;
    int calls = 0;
    NotificationCenter::defaultCenter().addObserver(&observer, "h8.test.default",
                                                    [&](const Notification&) { ++calls; });
    NotificationCenter::defaultCenter().post("h8.test.default");
    EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace h8

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
