#include "flash/lineview/JournalThread.h"

namespace quenta::flash {

JournalThread::JournalThread(JournalPlace place, QObject *parent)
    : QObject(parent), place_(std::move(place)), inThread_(new QObject) {
    thread_.setObjectName(QStringLiteral("journal"));
    inThread_->moveToThread(&thread_);
    thread_.start();
}

JournalThread::~JournalThread() {
    // The database connection ends on the thread that made it.
    QMetaObject::invokeMethod(
        inThread_, [this] { keeper_.reset(); }, Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
    delete inThread_;
}

void JournalThread::post(std::function<void(JournalKeeper &)> job) {
    QMetaObject::invokeMethod(
        inThread_,
        [this, job = std::move(job)] {
            if (!keeper_) {
                keeper_ = std::make_unique<JournalKeeper>(place_);
            }
            job(*keeper_);
        },
        Qt::QueuedConnection);
}

} // namespace quenta::flash
