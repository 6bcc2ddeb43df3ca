#include "app/background.h"

namespace quillora {

QThreadPool* serialWorker() {
    // Owned by the application object, which waits for it when it goes.
    static QThreadPool* pool = [] {
        auto* created = new QThreadPool(QCoreApplication::instance());
        created->setMaxThreadCount(1);
        return created;
    }();
    return pool;
}

}  // namespace quillora
