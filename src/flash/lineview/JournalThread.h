#pragma once

#include "flash/lineview/JournalKeeper.h"

#include <QObject>
#include <QPointer>
#include <QThread>

#include <functional>
#include <memory>

namespace quenta::flash {

// The view's journal, read on a thread of its own so that the thread that reads requests and
// writes answers never waits for the database: a slow query delays only the work queued behind
// it. Work runs one piece at a time, in the order asked; a large answer is asked for piece by
// piece, so that other work is taken between its pieces.
class JournalThread : public QObject {
    Q_OBJECT

public:
    explicit JournalThread(JournalPlace place, QObject *parent = nullptr);
    ~JournalThread() override;

    // Runs `work` on the journal's thread, then `done` with what it gave on this object's thread,
    // unless `context` is gone by then.
    template <typename T>
    void run(QObject *context, std::function<T(JournalKeeper &)> work,
             std::function<void(T)> done) {
        QPointer<QObject> alive(context);
        post([this, alive, work = std::move(work), done = std::move(done)](JournalKeeper &keeper) {
            auto result = std::make_shared<T>(work(keeper));
            QMetaObject::invokeMethod(
                this,
                [alive, done, result] {
                    if (alive) {
                        done(std::move(*result));
                    }
                },
                Qt::QueuedConnection);
        });
    }

private:
    void post(std::function<void(JournalKeeper &)> job);

    JournalPlace place_;
    QThread thread_;
    QObject *inThread_;                     // receives the work, on thread_
    std::unique_ptr<JournalKeeper> keeper_; // made and used on thread_ only
};

} // namespace quenta::flash
