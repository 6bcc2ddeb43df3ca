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
void runInBackground(QObject* context, Work work, Done done) {
    QPointer<QObject> guard(context);
    QThreadPool::globalInstance()->start(
        [guard, work = std::move(work), done = std::move(done)]() mutable {
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

}  // namespace quillora
