#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QThreadPool>
#include <memory>
#include <type_traits>
#include <utility>

namespace quillora {

/// Runs `work` on the shared worker pool and hands its result to `done` on the GUI thread,
/// unless `context` has been destroyed by then. Core work (store, network, files) goes through
/// here so the GUI thread never waits on it.
template <typename Work, typename Done>
void runInBackground(QObject* context, Work work, Done done, QThreadPool* pool = nullptr) {
    QPointer<QObject> guard(context);
    (pool ? pool : QThreadPool::globalInstance())
        ->start([guard, work = std::move(work), done = std::move(done)]() mutable {
            using Result = std::invoke_result_t<Work&>;
            if constexpr (std::is_void_v<Result>) {
                work();
                // The guard is read on the GUI thread, where widgets are destroyed.
                QMetaObject::invokeMethod(
                    QCoreApplication::instance(),
                    [guard, done = std::move(done)]() mutable {
                        if (guard) done();
                    },
                    Qt::QueuedConnection);
            } else {
                auto result = std::make_shared<Result>(work());
                QMetaObject::invokeMethod(
                    QCoreApplication::instance(),
                    [guard, done = std::move(done), result]() mutable {
                        if (guard) done(std::move(*result));
                    },
                    Qt::QueuedConnection);
            }
        });
}

/// Runs `call` on the GUI thread unless `context` is gone by then. Safe from any thread, also
/// while `context` is being destroyed: only the GUI thread looks at it.
template <typename Call>
void postToGui(QObject* context, Call call) {
    QPointer<QObject> guard(context);
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [guard, call = std::move(call)]() mutable {
            if (guard) call();
        },
        Qt::QueuedConnection);
}

/// One worker for writes whose order matters (preferences): they run one after the other, in
/// the order they were asked for.
QThreadPool* serialWorker();

/// Runs `work` on the serial worker; nothing comes back.
template <typename Work>
void runSerially(Work work) {
    serialWorker()->start(std::move(work));
}

}  // namespace quillora
