// Background work: the result comes back on the user-interface thread, to a receiver that
// still exists, and a worker that ends after the program began to close does no harm.
#include <QtTest>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "ui/background_task.h"

using namespace krevol;

class TestBackgroundTask : public QObject {
    Q_OBJECT
  private slots:
    void resultArrivesOnTheUiThread();
    void closedReceiverHearsNothing();
    void moveOnlyResult();
};

void TestBackgroundTask::resultArrivesOnTheUiThread() {
    QObject receiver;
    std::thread::id workThread;
    bool doneOnUiThread = false;
    int got = 0;
    runInBackground(
        &receiver,
        [&workThread] {
            workThread = std::this_thread::get_id();
            return 42;
        },
        [&](int value) {
            doneOnUiThread = QThread::currentThread() == QCoreApplication::instance()->thread();
            got = value;
        });
    QTRY_COMPARE_WITH_TIMEOUT(got, 42, 30000);
    QVERIFY(doneOnUiThread);
    QVERIFY(workThread != std::this_thread::get_id());
}

void TestBackgroundTask::closedReceiverHearsNothing() {
    auto receiver = std::make_unique<QObject>();
    std::atomic<bool> release{false};
    std::atomic<bool> workEnded{false};
    bool doneCalled = false;
    runInBackground(
        receiver.get(),
        [&] {
            while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(2));
            workEnded = true;
            return 1;
        },
        [&](int) { doneCalled = true; });
    receiver.reset();
    release = true;
    QTRY_VERIFY_WITH_TIMEOUT(workEnded.load(), 30000);
    // Let the queued answer (if any) arrive.
    QTest::qWait(100);
    QVERIFY(!doneCalled);
}

void TestBackgroundTask::moveOnlyResult() {
    QObject receiver;
    int got = 0;
    runInBackground(
        &receiver, [] { return std::make_unique<int>(7); },
        [&](std::unique_ptr<int> value) { got = *value; });
    QTRY_COMPARE_WITH_TIMEOUT(got, 7, 30000);
}

// The tests above, then: a worker still running while the application object is destroyed
// (the user closed the program during a server call) must end quietly.
int main(int argc, char* argv[]) {
    std::atomic<bool> release{false};
    std::atomic<bool> workEnded{false};
    int status = 0;
    {
        QApplication app(argc, argv);
        TestBackgroundTask tests;
        status = QTest::qExec(&tests, argc, argv);
        runInBackground(
            &app,
            [&] {
                while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(2));
                workEnded = true;
                return 5;
            },
            [](int) {});
    }
    release = true;
    while (!workEnded) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    // Give the worker time to try to hand its result over.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    // Nothing may be queued to the application object any more.
    if (detail::postToApplication([] {})) {
        std::printf("FAIL: a call was queued to the closed application object\n");
        return 1;
    }
    std::printf("PASS: a worker that ended after the application closed did no harm\n");
    return status;
}

#include "test_background_task.moc"
